// Keeps two copies of the program from running updates at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quarnel {

enum class LockFailureKind : std::uint8_t {
  None,
  HeldByAnother,  // another copy runs an update
  CannotTake,     // the system would not make the lock; `detail` says why
};

struct LockFailure {
  LockFailureKind kind = LockFailureKind::None;
  std::string detail;  // in words for a person
};

class RunLock {
 public:
  virtual ~RunLock() = default;
  // Takes the lock called `name` if no other process holds it. Empty when it is taken (or
  // cannot be made), with `failure` saying which.
  static std::unique_ptr<RunLock> TryAcquire(const std::string& name, LockFailure& failure);
};

}  // namespace quarnel
