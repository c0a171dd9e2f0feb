// The safe file writer on Linux: every step relative to the folder's descriptor, so that the
// folder cannot be swapped for another between the checks and the rename.
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <system_error>

#include "app/cli/SafeFile.h"
#include "base/linux/UniqueFd.h"

namespace quarnel::cli {

namespace {

namespace fs = std::filesystem;

std::string SystemText(int error) {
  return std::system_category().message(error);
}

WriteFailure Failure(WriteProblem kind, std::string words, int error) {
  return WriteFailure{kind, std::move(words) + ": " + SystemText(error)};
}

NodeType TypeOf(const struct stat& st) {
  switch (st.st_mode & S_IFMT) {
    case S_IFREG:
      return NodeType::File;
    case S_IFLNK:
      return NodeType::Link;
    case S_IFDIR:
      return NodeType::Folder;
    case S_IFCHR:
    case S_IFBLK:
      return NodeType::Device;
    case S_IFIFO:
      return NodeType::Fifo;
    case S_IFSOCK:
      return NodeType::Socket;
    default:
      return NodeType::Other;
  }
}

// The folder a path's file goes into, open; and the file's name in it.
struct Target {
  UniqueFd folder;
  bool folderSyncable = true;  // opened for reading, so it can be flushed
  std::string name;
};

Result<Target, WriteFailure> OpenTarget(const std::string& path) {
  const fs::path p(path);
  const std::string name = p.filename().string();
  if (name.empty() || name == "." || name == "..") {
    // "dir/", ".": the path names a folder, or nothing.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
      return Fail(*RefusalFor(path, {NodeType::Folder}, true));
    }
    return Fail(Failure(WriteProblem::NoFolder, "no folder " + QuotedPath(path), errno));
  }
  const std::string folderName = p.has_parent_path() ? p.parent_path().string() : ".";
  Target target;
  target.name = name;
  target.folder.reset(::open(folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!target.folder.valid() && errno == EACCES) {
    // A folder one may write in but not list: written into, though not flushed.
    target.folder.reset(::open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    target.folderSyncable = false;
  }
  if (!target.folder.valid()) {
    const int error = errno;
    const WriteProblem kind =
        error == ENOENT || error == ENOTDIR ? WriteProblem::NoFolder : WriteProblem::CannotCreate;
    return Fail(Failure(kind, "the folder of " + QuotedPath(path) + " cannot be used", error));
  }
  return target;
}

// A folder of /proc: its links are a process's descriptors and the like (/proc/self/fd/1 is
// whatever standard output is), never a file to replace.
bool InProc(int folder) {
  struct statfs fs {};
  return ::fstatfs(folder, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// The folder part of a link's text and the last step ("." when the text names a folder).
std::pair<std::string, std::string> SplitLink(const std::string& to) {
  const std::size_t slash = to.find_last_of('/');
  if (slash == std::string::npos) return {".", to};
  std::string folder = slash == 0 ? "/" : to.substr(0, slash);
  std::string last = to.substr(slash + 1);
  if (last.empty() || last == "..") return {to, "."};
  return {std::move(folder), std::move(last)};
}

// Where the link `name` in `folder` leads, followed one link at a time (the system would pass
// through /proc's links without saying so): what is at its end; None when nothing is, or the
// links go round; Descriptor as soon as a step is in /proc.
Result<NodeType, WriteFailure> LinkEnd(int folder, std::string name, const std::string& path) {
  constexpr int kMostLinks = 40;  // as many as the system follows in one path
  const auto unknown = [&path](int error) {
    return Fail(Failure(WriteProblem::CannotCreate,
                        "cannot look at where " + QuotedPath(path) + " leads", error));
  };
  UniqueFd step;
  int at = folder;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    std::string to(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(at, name.c_str(), to.data(), to.size());
    if (length < 0) return unknown(errno);
    to.resize(static_cast<std::size_t>(length));
    auto [part, last] = SplitLink(to);
    UniqueFd next(::openat(at, part.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!next.valid()) {
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return NodeType::None;
      return unknown(errno);
    }
    if (InProc(next.get())) return NodeType::Descriptor;
    struct stat st {};
    if (::fstatat(next.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return NodeType::None;
      return unknown(errno);
    }
    const NodeType type = TypeOf(st);
    if (type != NodeType::Link) return type;
    step = std::move(next);
    at = step.get();
    name = std::move(last);
  }
  return NodeType::None;
}

// What is at the name now, the name itself looked at, and where it leads if it is a link.
Status<WriteFailure> CheckName(const Target& target, const std::string& path, bool replace) {
  struct stat st {};
  Node node;
  if (::fstatat(target.folder.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    node.type = TypeOf(st);
  } else if (errno != ENOENT) {
    return Fail(Failure(WriteProblem::CannotCreate, "cannot look at " + QuotedPath(path), errno));
  }
  if (node.type == NodeType::Link && InProc(target.folder.get())) {
    node.type = NodeType::Descriptor;
  } else if (node.type == NodeType::Link) {
    auto end = LinkEnd(target.folder.get(), target.name, path);
    if (!end) return Fail(std::move(end.error()));
    node.leadsTo = *end;
  }
  if (auto refusal = RefusalFor(path, node, replace)) return Fail(std::move(*refusal));
  return Done{};
}

// Gives the finished file its name: over what is there only when `replace`.
int Rename(int folder, const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::renameat(folder, from.c_str(), folder, to.c_str());
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the flag: a hard link is made only where nothing is.
  if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
    ::unlinkat(folder, from.c_str(), 0);
    return 0;
  }
  if (errno == EEXIST) return -1;
  // Nor hard links: the name was free a moment ago.
  return ::renameat(folder, from.c_str(), folder, to.c_str());
}

// The temporary file, removed unless it was renamed.
class Temporary {
 public:
  Temporary(int folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  ~Temporary() {
    if (!kept_) ::unlinkat(folder_, name_.c_str(), 0);
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  const std::string& name() const { return name_; }
  void Keep() { kept_ = true; }

 private:
  int folder_;
  std::string name_;
  bool kept_ = false;
};

Status<WriteFailure> WriteAll(int fd, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(WriteFailure{WriteProblem::WriteFailed, SystemText(errno)});
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return Fail(WriteFailure{WriteProblem::WriteFailed, SystemText(errno)});
  return Done{};
}

}  // namespace

Status<WriteFailure> CheckFileTarget(const std::string& path, bool replace) {
  auto target = OpenTarget(path);
  if (!target) return Fail(std::move(target.error()));
  return CheckName(*target, path, replace);
}

Status<WriteFailure> WriteFileSafely(const std::string& path, std::span<const std::uint8_t> data,
                                     bool replace) {
  auto opened = OpenTarget(path);
  if (!opened) return Fail(std::move(opened.error()));
  const Target& target = *opened;
  if (auto checked = CheckName(target, path, replace); !checked) return checked;
  const int folder = target.folder.get();

  // A new file of a name nobody can have prepared: O_EXCL fails on anything there, a link
  // included, so nothing that exists is ever opened.
  UniqueFd fd;
  std::string temporaryName;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && !fd.valid() && error == EEXIST; ++attempt) {
    temporaryName = TemporaryName(target.name);
    fd.reset(::openat(folder, temporaryName.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    error = fd.valid() ? 0 : errno;
  }
  if (!fd.valid()) {
    return Fail(Failure(WriteProblem::CannotCreate,
                        "cannot create a file beside " + QuotedPath(path), error));
  }
  Temporary temporary(folder, temporaryName);

  if (auto written = WriteAll(fd.get(), data); !written) {
    return Fail(WriteFailure{WriteProblem::WriteFailed,
                             "cannot write " + QuotedPath(path) + ": " + written.error().detail});
  }
  if (::close(fd.release()) != 0) {
    return Fail(Failure(WriteProblem::WriteFailed, "cannot write " + QuotedPath(path), errno));
  }
  // What came to the name while the data was written is judged as before.
  if (auto checked = CheckName(target, path, replace); !checked) return checked;
  if (Rename(folder, temporary.name(), target.name, replace) != 0) {
    error = errno;
    if (error == EEXIST) {
      return Fail(*RefusalFor(path, {NodeType::File}, false));
    }
    return Fail(Failure(WriteProblem::CannotReplace,
                        "cannot give the written file the name " + QuotedPath(path), error));
  }
  temporary.Keep();
  // The new name is on the disk only once the folder is.
  if (target.folderSyncable && ::fsync(folder) != 0 && errno != EINVAL) {
    return Fail(Failure(WriteProblem::WriteFailed,
                        QuotedPath(path) + " is written, but its folder could not be flushed",
                        errno));
  }
  return Done{};
}

}  // namespace quarnel::cli
