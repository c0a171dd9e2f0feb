// The standard handles a parent left the program without.
#include "app/StandardStreams.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>

#include "base/windows/UniqueHandle.h"

namespace quarnel {
namespace {

// Standard input stands for every standard handle: the test's own output keeps its handles.
// A missing handle, and a number that names nothing (which a handle opened later could take),
// are replaced by the null device; a handle the program was given is kept.
TEST(WindowsStandardStreams, MissingOnesBecomeTheNullDevice) {
  const HANDLE given = ::GetStdHandle(STD_INPUT_HANDLE);
  // Closed at once: its number names nothing.
  const HANDLE stale = win::UniqueHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)).get();
  ASSERT_NE(stale, nullptr);
  for (const HANDLE missing : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, stale}) {
    ASSERT_NE(::SetStdHandle(STD_INPUT_HANDLE, missing), 0);
    EXPECT_TRUE(OpenStandardStreams());
    // The null device may take the stale number: it names the null device then.
    const win::UniqueHandle now(::GetStdHandle(STD_INPUT_HANDLE));
    EXPECT_EQ(::GetFileType(now.get()), static_cast<DWORD>(FILE_TYPE_CHAR));
  }
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  ASSERT_NE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0), 0);
  const win::UniqueHandle ownRead(readEnd);
  const win::UniqueHandle ownWrite(writeEnd);
  ASSERT_NE(::SetStdHandle(STD_INPUT_HANDLE, readEnd), 0);
  EXPECT_TRUE(OpenStandardStreams());
  EXPECT_EQ(::GetStdHandle(STD_INPUT_HANDLE), readEnd);
  ::SetStdHandle(STD_INPUT_HANDLE, given);
}

}  // namespace
}  // namespace quarnel
