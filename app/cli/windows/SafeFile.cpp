// The safe file writer on Windows: CREATE_NEW for the new file, MoveFileExW with
// MOVEFILE_WRITE_THROUGH for the rename, which returns only once the move is on the disk.
#include <windows.h>

#include <filesystem>

#include "app/cli/SafeFile.h"
#include "base/windows/UniqueHandle.h"
#include "base/windows/WinError.h"

namespace quarnel::cli {

namespace {

namespace fs = std::filesystem;

WriteFailure Failure(WriteProblem kind, std::string words, DWORD error) {
  return WriteFailure{kind, std::move(words) + ": " + win::ErrorText(error)};
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A name such as NUL, CON or COM1 (with any folder or extension) is a device, wherever it is
// written: the system's full form of it is in the device namespace.
bool IsDeviceName(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH && std::wstring_view(full, n).starts_with(L"\\\\.\\");
}

// Where a link leads, the system following it to its end: a file, a folder, a device (CON,
// NUL, \\.\ paths) or a pipe; None when nothing is there.
Result<NodeType, WriteFailure> LinkEnd(const std::string& path, const std::wstring& wide) {
  // No access asked for: the handle only tells what is there, and opens no device for use.
  const win::UniqueHandle end(
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!end.valid()) {
    const DWORD error = GetLastError();
    if (IsMissing(error) || error == ERROR_CANT_RESOLVE_FILENAME) return NodeType::None;
    return Fail(Failure(WriteProblem::CannotCreate,
                        "cannot look at where " + QuotedPath(path) + " leads", error));
  }
  switch (GetFileType(end.get())) {
    case FILE_TYPE_DISK: {
      BY_HANDLE_FILE_INFORMATION info{};
      const bool folder = GetFileInformationByHandle(end.get(), &info) != 0 &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      return folder ? NodeType::Folder : NodeType::File;
    }
    case FILE_TYPE_CHAR:
      return NodeType::Device;
    case FILE_TYPE_PIPE:
      return NodeType::Fifo;
    default:
      return NodeType::Other;
  }
}

Result<Node, WriteFailure> NodeAt(const std::string& path, const std::wstring& wide) {
  if (IsDeviceName(wide) || std::wstring_view(wide).starts_with(L"\\\\.\\")) {
    return Node{NodeType::Device};
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (IsMissing(error)) return Node{};
    return Fail(Failure(WriteProblem::CannotCreate, "cannot look at " + QuotedPath(path), error));
  }
  // A link to a folder is a folder to the person who named it; a link is replaced only when it
  // leads to a file or to nothing.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Node{NodeType::Folder};
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    auto end = LinkEnd(path, wide);
    if (!end) return Fail(std::move(end.error()));
    return Node{NodeType::Link, *end};
  }
  return Node{NodeType::File};
}

struct Target {
  std::wstring path;
  fs::path folder;
  std::wstring name;
};

Result<Target, WriteFailure> FindTarget(const std::string& path) {
  const fs::path p(path);
  Target target{p.wstring(), p.has_parent_path() ? p.parent_path() : fs::path(L"."),
                p.filename().wstring()};
  if (target.name.empty() || target.name == L"." || target.name == L"..") {
    if (GetFileAttributesW(target.path.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return Fail(*RefusalFor(path, {NodeType::Folder}, true));
    }
    return Fail(Failure(WriteProblem::NoFolder, "no folder " + QuotedPath(path), GetLastError()));
  }
  const DWORD attributes = GetFileAttributesW(target.folder.wstring().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const DWORD error =
        attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : DWORD{ERROR_DIRECTORY};
    const WriteProblem kind = IsMissing(error) || error == ERROR_DIRECTORY
                                  ? WriteProblem::NoFolder
                                  : WriteProblem::CannotCreate;
    return Fail(Failure(kind, "the folder of " + QuotedPath(path) + " cannot be used", error));
  }
  return target;
}

Status<WriteFailure> CheckName(const Target& target, const std::string& path, bool replace) {
  const auto type = NodeAt(path, target.path);
  if (!type) return Fail(type.error());
  if (auto refusal = RefusalFor(path, *type, replace)) return Fail(std::move(*refusal));
  return Done{};
}

class Temporary {
 public:
  explicit Temporary(std::wstring path) : path_(std::move(path)) {}
  ~Temporary() {
    if (!kept_) DeleteFileW(path_.c_str());
  }
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  const std::wstring& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::wstring path_;
  bool kept_ = false;
};

}  // namespace

Status<WriteFailure> CheckFileTarget(const std::string& path, bool replace) {
  const auto target = FindTarget(path);
  if (!target) return Fail(target.error());
  return CheckName(*target, path, replace);
}

Status<WriteFailure> WriteFileSafely(const std::string& path, std::span<const std::uint8_t> data,
                                     bool replace) {
  const auto found = FindTarget(path);
  if (!found) return Fail(found.error());
  const Target& target = *found;
  if (auto checked = CheckName(target, path, replace); !checked) return checked;

  // CREATE_NEW fails on anything at the name, a link included, so nothing that exists is
  // ever opened.
  win::UniqueHandle file;
  std::wstring temporaryPath;
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && !file.valid() &&
                        (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS);
       ++attempt) {
    const std::string name = fs::path(target.name).string();
    temporaryPath = (target.folder / fs::path(TemporaryName(name))).wstring();
    file.reset(CreateFileW(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    error = file.valid() ? ERROR_SUCCESS : GetLastError();
  }
  if (!file.valid()) {
    return Fail(Failure(WriteProblem::CannotCreate,
                        "cannot create a file beside " + QuotedPath(path), error));
  }
  Temporary temporary(temporaryPath);

  for (std::size_t done = 0; done < data.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 20));
    DWORD written = 0;
    if (WriteFile(file.get(), data.data() + done, chunk, &written, nullptr) == 0 || written == 0) {
      return Fail(
          Failure(WriteProblem::WriteFailed, "cannot write " + QuotedPath(path), GetLastError()));
    }
    done += written;
  }
  if (FlushFileBuffers(file.get()) == 0) {
    return Fail(
        Failure(WriteProblem::WriteFailed, "cannot write " + QuotedPath(path), GetLastError()));
  }
  file.reset();

  if (auto checked = CheckName(target, path, replace); !checked) return checked;
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExW(temporary.path().c_str(), target.path.c_str(), flags) == 0) {
    error = GetLastError();
    if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      return Fail(*RefusalFor(path, {NodeType::File}, false));
    }
    return Fail(Failure(WriteProblem::CannotReplace,
                        "cannot give the written file the name " + QuotedPath(path), error));
  }
  temporary.Keep();
  return Done{};
}

}  // namespace quarnel::cli
