#include "app/cli/ImageFile.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "app/cli/CliOptions.h"
#include "app/cli/SafeFile.h"
#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Reports.h"

namespace quarnel::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kImageAlignment = 16;

const char* KindWords(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block:
      return "a device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return "a special file";
  }
}

// "cannot read the image file 'x.bin': Permission denied", with the system's words for
// `error` when it gave any.
FileFailure CannotRead(const std::string& path, int error) {
  std::string words = "cannot read the image file " + Quoted(path);
  if (error != 0) words += ": " + std::generic_category().message(error);
  return FileFailure{FileProblem::Unreadable, std::move(words)};
}

}  // namespace

Result<std::vector<std::uint8_t>, FileFailure> LoadImageFile(const std::string& path, bool force) {
  using enum FileProblem;
  std::error_code ec;
  const fs::file_status status = fs::status(fs::path(path), ec);
  if (fs::is_directory(status)) {
    return Fail(FileFailure{Folder, Quoted(path) + " is a folder, not an image file"});
  }
  // Opening a FIFO would wait for a writer, and a device gives what it likes: an image is a
  // file (or a link to one).
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    return Fail(FileFailure{
        NotAFile, Quoted(path) + " is " + KindWords(status.type()) + ", not an image file"});
  }
  // The stream opens and reads through the C library, which leaves the system's reason in
  // errno.
  errno = 0;
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return Fail(CannotRead(path, errno));
  // One byte more than an image may hold is enough to tell that it is too long.
  std::vector<std::uint8_t> bytes(kEepromSize + 1, 0);
  errno = 0;
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return Fail(CannotRead(path, errno));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.empty() || bytes.size() > kEepromSize || bytes.size() % kImageAlignment != 0) {
    return Fail(FileFailure{
        BadLength,
        Quoted(path) +
            (bytes.size() > kEepromSize ? " holds more than 16384 bytes"
                                        : " holds " + std::to_string(bytes.size()) + " bytes") +
            "; an image is 16 to 16384 bytes, a multiple of 16"});
  }
  if (!force && !ImageVersionLine(bytes)) {
    return Fail(FileFailure{
        NoHeader,
        Quoted(path) +
            " has no version header; if it is a backup to restore, add --force to write it"});
  }
  return bytes;
}

namespace {

// The writer's reason as a problem with a file.
FileFailure AsFileFailure(WriteFailure failure) {
  using enum WriteProblem;
  FileProblem problem = FileProblem::NotWritten;
  switch (failure.kind) {
    case Exists:
      problem = FileProblem::Exists;
      break;
    case Folder:
      problem = FileProblem::Folder;
      break;
    case NotAFile:
      problem = FileProblem::NotAFile;
      break;
    case NoFolder:
      problem = FileProblem::NoFolder;
      break;
    case CannotCreate:
    case WriteFailed:
    case CannotReplace:
      break;
  }
  return FileFailure{problem, std::move(failure.detail)};
}

}  // namespace

Status<FileFailure> CheckBackupTarget(const std::string& path, bool force) {
  if (auto checked = CheckFileTarget(path, force); !checked) {
    return Fail(AsFileFailure(std::move(checked.error())));
  }
  return Done{};
}

Status<FileFailure> SaveBackup(const std::string& path, bool force,
                               std::span<const std::uint8_t> data) {
  if (auto saved = WriteFileSafely(path, data, force); !saved) {
    return Fail(AsFileFailure(std::move(saved.error())));
  }
  return Done{};
}

}  // namespace quarnel::cli
