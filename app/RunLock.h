// Keeps two copies of the program from running updates at once.
#pragma once

#include <memory>
#include <string>

namespace quarnel {

class RunLock {
 public:
  virtual ~RunLock() = default;
  // Takes the lock called `name` if no other process holds it. Empty when it is taken (or
  // cannot be made), with `reason` saying which.
  static std::unique_ptr<RunLock> TryAcquire(const std::string& name, std::string& reason);
};

}  // namespace quarnel
