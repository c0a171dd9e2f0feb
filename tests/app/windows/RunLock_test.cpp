// The named-mutex run lock.
#include "app/RunLock.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quarnel {
namespace {

std::string LockName(const char* what) {
  return std::string("quarnel-runlock-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

TEST(WindowsRunLock, HeldUntilReleased) {
  const std::string name = LockName("held");
  LockFailure reason;
  auto first = RunLock::TryAcquire(name, reason);
  ASSERT_NE(first, nullptr) << reason.detail;
  EXPECT_EQ(RunLock::TryAcquire(name, reason), nullptr);
  EXPECT_NE(reason.detail.find("another update"), std::string::npos) << reason.detail;
  // Another name is another lock.
  EXPECT_NE(RunLock::TryAcquire(LockName("other"), reason), nullptr) << reason.detail;
  first.reset();
  EXPECT_NE(RunLock::TryAcquire(name, reason), nullptr) << reason.detail;
}

// Machine-wide: copies in other sessions and of other users see the same lock.
TEST(WindowsRunLock, LivesInTheGlobalNamespace) {
  const std::string name = LockName("global");
  LockFailure reason;
  const auto held = RunLock::TryAcquire(name, reason);
  ASSERT_NE(held, nullptr) << reason.detail;
  const HANDLE seen = OpenMutexA(SYNCHRONIZE, FALSE, ("Global\\" + name).c_str());
  EXPECT_NE(seen, nullptr);
  if (seen != nullptr) CloseHandle(seen);
}

TEST(WindowsRunLock, BackslashesInTheNameStillMakeALock) {
  const std::string name = LockName("a\\b");
  LockFailure reason;
  const auto held = RunLock::TryAcquire(name, reason);
  ASSERT_NE(held, nullptr) << reason.detail;
  EXPECT_EQ(RunLock::TryAcquire(name, reason), nullptr);
}

}  // namespace
}  // namespace quarnel
