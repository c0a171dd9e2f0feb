#include "app/cli/ImageFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/cli/CliOptions.h"
#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Reports.h"

namespace quarnel::cli {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kImageAlignment = 16;

}  // namespace

Result<std::vector<std::uint8_t>, FileFailure> LoadImageFile(const std::string& path, bool force) {
  using enum FileProblem;
  std::error_code ec;
  if (fs::is_directory(fs::path(path), ec)) {
    return Fail(FileFailure{Folder, Quoted(path) + " is a folder, not an image file"});
  }
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return Fail(FileFailure{Unreadable, "cannot read the image file " + Quoted(path)});
  // One byte more than an image may hold is enough to tell that it is too long.
  std::vector<std::uint8_t> bytes(kEepromSize + 1, 0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return Fail(FileFailure{Unreadable, "cannot read the image file " + Quoted(path)});
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.empty() || bytes.size() > kEepromSize || bytes.size() % kImageAlignment != 0) {
    return Fail(FileFailure{
        BadLength,
        Quoted(path) +
            (bytes.size() > kEepromSize ? " holds more than 16384 bytes"
                                        : " holds " + std::to_string(bytes.size()) + " bytes") +
            "; an image is 1 to 16384 bytes, a multiple of 16"});
  }
  if (!force && !ImageVersionLine(bytes)) {
    return Fail(FileFailure{
        NoHeader,
        Quoted(path) +
            " has no version header; if it is a backup to restore, add --force to write it"});
  }
  return bytes;
}

Status<FileFailure> CheckBackupTarget(const std::string& path, bool force) {
  std::error_code ec;
  const fs::path target = fs::path(path);
  if (fs::is_directory(target, ec)) {
    return Fail(
        FileFailure{FileProblem::Folder, Quoted(path) + " is a folder; name the backup file"});
  }
  if (fs::exists(target, ec) && !force) {
    return Fail(
        FileFailure{FileProblem::Exists, Quoted(path) + " exists; add --force to overwrite it"});
  }
  const fs::path folder = target.parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    return Fail(
        FileFailure{FileProblem::NoFolder, "the folder of " + Quoted(path) + " does not exist"});
  }
  return Done{};
}

Status<FileFailure> SaveBackup(const std::string& path, std::span<const std::uint8_t> data) {
  const fs::path target = fs::path(path);
  fs::path temporary = target;
  temporary += ".part";
  std::error_code ec;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      return Fail(
          FileFailure{FileProblem::NotWritten, "cannot write the backup file " + Quoted(path)});
    }
  }
  fs::rename(temporary, target, ec);
  if (ec && fs::exists(target)) {
    // Where renaming does not replace a file (--force on some systems), remove it first.
    fs::remove(target, ec);
    fs::rename(temporary, target, ec);
  }
  if (ec) {
    const std::string why = ec.message();
    fs::remove(temporary, ec);
    return Fail(FileFailure{FileProblem::NotWritten,
                            "cannot write the backup file " + Quoted(path) + ": " + why});
  }
  return Done{};
}

}  // namespace quarnel::cli
