#include "hid/LinkFailure.h"

namespace quarnel::hid {

const char* FailureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::None:
      return "none";
    case FailureKind::NotFound:
      return "not-found";
    case FailureKind::PermissionDenied:
      return "permission";
    case FailureKind::InUse:
      return "in-use";
    case FailureKind::UnsupportedReports:
      return "unsupported-reports";
    case FailureKind::Gone:
      return "gone";
    case FailureKind::IoError:
      return "io-error";
    case FailureKind::TimedOut:
      return "timed-out";
    case FailureKind::OutOfResources:
      return "out-of-resources";
  }
  return "unknown";
}

}  // namespace quarnel::hid
