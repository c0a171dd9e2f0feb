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

// A link is something at the name: refused without replace, and with it a link to a file or
// to nothing is replaced itself, never what it leads to, wherever that is.
TEST(SafeFileLinux, LinksAreReplacedThemselvesNeverFollowed) {
  Folder folder;
  PutFile(folder.File("victim.txt"), "victim");
  for (const auto& [name, to] :
       std::vector<std::pair<std::string, std::string>>{{"to-victim", "victim.txt"},
                                                        {"dangling", "nowhere"},
                                                        {"loop", "loop"},
                                                        {"absolute", folder.File("victim.txt")},
                                                        {"via-link", "absolute"}}) {
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
  EXPECT_EQ(folder.Names(), (std::set<std::string>{"victim.txt", "to-victim", "dangling", "loop",
                                                   "absolute", "via-link"}));

  // A link where the program once wrote first leads nowhere it writes.
  fs::create_symlink("victim.txt", folder.File("p.bin.part"));
  ASSERT_TRUE(WriteFileSafely(folder.File("p.bin"), kData, false).ok());
  EXPECT_EQ(GetFile(folder.File("victim.txt")), "victim");
  EXPECT_TRUE(IsLink(folder.File("p.bin.part")));
}

// FIFOs, sockets and device nodes, and links to them, to a folder or to a process's
// descriptor, are refused even with replace, saying what they are, and stay as they were; a
// FIFO is never opened, so nothing waits on it. Nor is any of them read as an image.
TEST(SafeFileLinux, NodesThatAreNoFilesAreNeverReplaced) {
  Folder folder;
  ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
  fs::create_directory(folder.File("sub"));
  ASSERT_EQ(::mkfifo(folder.File("sub/fifo").c_str(), 0600), 0);
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = folder.File("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto link = [&folder](const std::string& name, const std::string& to) {
    fs::create_symlink(to, folder.File(name));
    return folder.File(name);
  };
  struct Case {
    std::string path;
    mode_t type;        // what is at the name, and stays
    std::string words;  // in the refusal
    Kind kind = Kind::NotAFile;
    std::string imageWords = words;  // in the image's refusal; none: it is not read
  };
  const std::string descriptor =
      "a process's descriptor in /proc, not a file; it is never replaced, even with --force, and "
      "a backup to standard output is not offered";
  std::vector<Case> cases = {
      {folder.File("fifo"), S_IFIFO, "is a FIFO"},
      {socketPath, S_IFSOCK, "is a socket"},
      {link("to-fifo", "fifo"), S_IFLNK, "is a link to a FIFO", Kind::NotAFile, "is a FIFO"},
      {link("into-sub", "sub/fifo"), S_IFLNK, "is a link to a FIFO", Kind::NotAFile, "is a FIFO"},
      {link("to-socket", socketPath), S_IFLNK, "is a link to a socket", Kind::NotAFile,
       "is a socket"},
      {link("to-null", "/dev/null"), S_IFLNK, "is a link to a device", Kind::NotAFile,
       "is a device"},
      {link("chain", "to-null"), S_IFLNK, "is a link to a device", Kind::NotAFile, "is a device"},
      {link("to-sub", "sub"), S_IFLNK, "is a link to a folder; name a file in it", Kind::Folder,
       ""},
      {link("to-sub-slash", "sub/"), S_IFLNK, "is a link to a folder", Kind::Folder, ""},
      // What /dev/stdout is: the descriptor, whatever it leads to (a file, a pipe, a terminal).
      {link("stdout", "/proc/self/fd/1"), S_IFLNK, "is a link to " + descriptor, Kind::NotAFile,
       ""},
  };
  if (fs::is_directory("/dev/fd")) {  // a link to /proc/self/fd
    cases.push_back(
        {link("to-fd", "/dev/fd/2"), S_IFLNK, "is a link to " + descriptor, Kind::NotAFile, ""});
  }
  // A device node of its own only root can make.
  if (::mknod(folder.File("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    cases.push_back({folder.File("null"), S_IFCHR, "is a device"});
  }
  const auto before = folder.Names();
  for (const Case& c : cases) {
    const auto refused = WriteFileSafely(c.path, kData, true);
    ASSERT_FALSE(refused.ok()) << c.path;
    EXPECT_EQ(refused.error().kind, c.kind) << c.path;
    EXPECT_NE(refused.error().detail.find(c.words), std::string::npos) << refused.error().detail;
    EXPECT_FALSE(CheckFileTarget(c.path, true).ok()) << c.path;
    if (!c.imageWords.empty()) {
      const auto image = LoadImageFile(c.path, true);
      ASSERT_FALSE(image.ok()) << c.path;
      EXPECT_EQ(image.error().kind, FileProblem::NotAFile) << c.path;
      EXPECT_NE(image.error().detail.find(c.imageWords), std::string::npos) << image.error().detail;
    }
    struct stat st {};
    ASSERT_EQ(::lstat(c.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, c.type) << c.path;
  }
  EXPECT_EQ(folder.Names(), before);
  // The system's own names are only looked at.
  std::vector<std::pair<std::string, std::string>> system = {
      {"/dev/null", "is a device"}, {"/proc/self/fd/1", "is " + descriptor}};
  if (IsLink("/dev/stdout")) system.emplace_back("/dev/stdout", "is a link to " + descriptor);
  for (const auto& [path, words] : system) {
    const auto refused = CheckFileTarget(path, true);
    ASSERT_FALSE(refused.ok()) << path;
    EXPECT_EQ(refused.error().kind, Kind::NotAFile) << path;
    EXPECT_NE(refused.error().detail.find(words), std::string::npos) << refused.error().detail;
  }
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
