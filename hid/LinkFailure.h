// Why opening or using a unit failed: a type that front ends decide on, and the words for a
// person that go with it.
#pragma once

#include <cstdint>
#include <string>

namespace quarnel::hid {

enum class FailureKind : std::uint8_t {
  None,
  NotFound,            // no interface with the wanted IDs
  PermissionDenied,    // there, but this user may not open it
  InUse,               // there, but another program holds it
  UnsupportedReports,  // its reports cannot carry ours (report IDs, sizes)
  Gone,                // it went away (unplugged)
  IoError,             // the system refused a transfer for another reason
  TimedOut,            // a transfer did not complete in time
  OutOfResources,      // the program could not get memory or a thread for it
};

struct LinkFailure {
  FailureKind kind = FailureKind::None;
  std::string path;    // the node or interface path, where one is known
  std::string detail;  // what went wrong, in words for a person

  bool failed() const { return kind != FailureKind::None; }
};

// A short stable name for scripts: "not-found", "permission", "in-use", ...
const char* FailureKindName(FailureKind kind);

}  // namespace quarnel::hid
