// The run lock on Windows: a named mutex in the machine-wide namespace, so that copies in other
// sessions and of other users are kept apart too; in the session's namespace where this user
// may not create machine-wide objects. Whoever creates it holds the lock until the handle is
// closed; the system drops it when a process dies.
#include "app/RunLock.h"

#include <windows.h>

#include "base/windows/WinError.h"

namespace quarnel {

namespace {

class MutexLock final : public RunLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexLock() override { CloseHandle(mutex_); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

std::unique_ptr<RunLock> RunLock::TryAcquire(const std::string& name, LockFailure& failure) {
  // Backslashes would name a namespace: keep the name a plain one.
  std::string plain = name;
  for (char& c : plain) {
    if (c == '\\') c = '_';
  }
  std::string full = "Global\\" + plain;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, full.c_str());
  if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
    full = "Local\\" + plain;
    mutex = CreateMutexA(nullptr, FALSE, full.c_str());
  }
  if (mutex == nullptr) {
    failure = {LockFailureKind::CannotTake, win::LastErrorText("CreateMutex " + full)};
    return nullptr;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    failure = {LockFailureKind::HeldByAnother, "another update holds " + full};
    return nullptr;
  }
  return std::make_unique<MutexLock>(mutex);
}

}  // namespace quarnel
