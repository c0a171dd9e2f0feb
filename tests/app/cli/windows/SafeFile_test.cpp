// What only Windows has at a name: device names that are no files anywhere, and files that
// another program keeps from being replaced.
#include "app/cli/SafeFile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/support/TestFolder.h"

namespace quarnel::cli {
namespace {

namespace fs = std::filesystem;
using Kind = WriteProblem;

using Folder = testing::TestFolder;
using testing::GetFile;
using testing::PutFile;

const std::vector<std::uint8_t> kData = {'n', 'e', 'w'};

// NUL, CON, COM1 in any folder are devices: refused even with replace, and no file of
// theirs is made.
TEST(SafeFileWindows, DeviceNamesAreNeverWritten) {
  Folder folder;
  for (const std::string& path : {std::string("NUL"), folder.File("con"), std::string("COM1")}) {
    const auto refused = WriteFileSafely(path, kData, true);
    ASSERT_FALSE(refused.ok()) << path;
    EXPECT_EQ(refused.error().kind, Kind::NotAFile) << path;
    EXPECT_NE(refused.error().detail.find("is a device"), std::string::npos)
        << refused.error().detail;
    EXPECT_FALSE(CheckFileTarget(path, true).ok()) << path;
  }
  EXPECT_TRUE(folder.Names().empty());
}

// A file another program holds open without letting it be deleted cannot be replaced: the
// failure names the system's reason, the file stays and the temporary file is removed.
TEST(SafeFileWindows, FileHeldOpenStays) {
  Folder folder;
  const std::string path = folder.File("old.bin");
  std::ofstream(fs::path(path), std::ios::binary) << "old";
  const HANDLE held = CreateFileW(fs::path(path).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto failed = WriteFileSafely(path, kData, true);
  CloseHandle(held);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind, Kind::CannotReplace);
  EXPECT_NE(failed.error().detail.find("(error "), std::string::npos) << failed.error().detail;
  EXPECT_EQ(GetFile(path), "old");
  EXPECT_EQ(folder.Names(), std::set<std::string>{"old.bin"});
}

}  // namespace
}  // namespace quarnel::cli
