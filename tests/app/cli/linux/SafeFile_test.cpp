// What only Linux has at a name: links of every kind, FIFOs, sockets, device nodes; and the
// failures of a write in the middle.
#include "app/cli/SafeFile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "app/cli/ImageFile.h"
#include "base/linux/UniqueFd.h"

#include "tests/support/TestFolder.h"

namespace quarnel::cli {
namespace {

namespace fs = std::filesystem;
using Kind = WriteProblem;

using Folder = testing::TestFolder;
using testing::GetFile;
using testing::PutFile;

bool IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

const std::vector<std::uint8_t> kData = {'n', 'e', 'w'};

// A link is something at the name: refused without replace, and with it the link itself is
// replaced, never what it leads to, wherever that is.
TEST(SafeFileLinux, LinksAreReplacedThemselvesNeverFollowed) {
  Folder folder;
  PutFile(folder.File("victim.txt"), "victim");
  for (const auto& [name, to] : std::vector<std::pair<std::string, std::string>>{
           {"to-victim", "victim.txt"}, {"dangling", "nowhere"}, {"loop", "loop"}}) {
    const std::string path = folder.File(name);
    fs::create_symlink(to, path);
    const auto refused = WriteFileSafely(path, kData, false);
    ASSERT_FALSE(refused.ok()) << name;
    EXPECT_EQ(refused.error().kind, Kind::Exists) << name;
    EXPECT_FALSE(CheckFileTarget(path, false).ok()) << name;
    EXPECT_TRUE(IsLink(path)) << name;
    ASSERT_TRUE(CheckFileTarget(path, true).ok()) << name;
    ASSERT_TRUE(WriteFileSafely(path, kData, true).ok()) << name;
    EXPECT_FALSE(IsLink(path)) << name;
    EXPECT_EQ(GetFile(path), "new") << name;
  }
  EXPECT_EQ(GetFile(folder.File("victim.txt")), "victim");
  EXPECT_FALSE(fs::exists(folder.File("nowhere")));
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"victim.txt", "to-victim", "dangling", "loop"}));

  // A link where the program once wrote first leads nowhere it writes.
  fs::create_symlink("victim.txt", folder.File("p.bin.part"));
  ASSERT_TRUE(WriteFileSafely(folder.File("p.bin"), kData, false).ok());
  EXPECT_EQ(GetFile(folder.File("victim.txt")), "victim");
  EXPECT_TRUE(IsLink(folder.File("p.bin.part")));
}

// FIFOs, sockets and device nodes are refused even with replace, saying what they are, and
// stay as they were; a FIFO is never opened, so nothing waits on it. Nor is any of them read
// as an image.
TEST(SafeFileLinux, NodesThatAreNoFilesAreNeverReplaced) {
  Folder folder;
  ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = folder.File("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  struct Case {
    std::string path;
    mode_t type;
    std::string words;
  };
  std::vector<Case> cases = {{folder.File("fifo"), S_IFIFO, "is a FIFO"},
                             {socketPath, S_IFSOCK, "is a socket"}};
  // A device node of its own only root can make; /dev/null is only looked at.
  if (::mknod(folder.File("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    cases.push_back({folder.File("null"), S_IFCHR, "is a device"});
  }
  const auto before = folder.Names();
  for (const Case& c : cases) {
    const auto refused = WriteFileSafely(c.path, kData, true);
    ASSERT_FALSE(refused.ok()) << c.path;
    EXPECT_EQ(refused.error().kind, Kind::NotAFile) << c.path;
    EXPECT_NE(refused.error().detail.find(c.words), std::string::npos) << refused.error().detail;
    EXPECT_FALSE(CheckFileTarget(c.path, true).ok()) << c.path;
    const auto image = LoadImageFile(c.path, true);
    ASSERT_FALSE(image.ok()) << c.path;
    EXPECT_EQ(image.error().kind, FileProblem::NotAFile) << c.path;
    EXPECT_NE(image.error().detail.find(c.words), std::string::npos) << image.error().detail;
    struct stat st {};
    ASSERT_EQ(::lstat(c.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, c.type) << c.path;
  }
  EXPECT_EQ(folder.Names(), before);
  const auto device = CheckFileTarget("/dev/null", true);
  ASSERT_FALSE(device.ok());
  EXPECT_EQ(device.error().kind, Kind::NotAFile);
  EXPECT_NE(device.error().detail.find("is a device"), std::string::npos);
}

// A write that fails half-way (here the file size limit, as a full disk would) leaves the
// old file as it was and no temporary file behind.
TEST(SafeFileLinux, FailedWriteLeavesNothingBehind) {
  Folder folder;
  PutFile(folder.File("old.bin"), "old");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 2;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto failed = WriteFileSafely(folder.File("old.bin"), kData, true);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind, Kind::WriteFailed);
  EXPECT_NE(failed.error().detail.find("File too large"), std::string::npos)
      << failed.error().detail;
  EXPECT_EQ(GetFile(folder.File("old.bin")), "old");
  EXPECT_EQ(folder.Names(), std::set<std::string>{"old.bin"});
}

TEST(SafeFileLinux, FolderWithoutWritePermission) {
  Folder folder;
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  // Root may write into any folder: as root, the write is made as nobody.
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::seteuid(kNobody), 0);
  }
  const auto failed = WriteFileSafely(folder.File("x.bin"), kData, false);
  if (root) {
    ASSERT_EQ(::seteuid(0), 0);
  }
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind, Kind::CannotCreate);
  EXPECT_NE(failed.error().detail.find("Permission denied"), std::string::npos)
      << failed.error().detail;
  EXPECT_TRUE(folder.Names().empty());
}

}  // namespace
}  // namespace quarnel::cli
