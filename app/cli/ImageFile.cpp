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

bool LoadImageFile(const std::string& path, bool force, std::vector<std::uint8_t>& bytes,
                   std::string& error) {
  std::error_code ec;
  if (fs::is_directory(fs::path(path), ec)) {
    error = Quoted(path) + " is a folder, not an image file";
    return false;
  }
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) {
    error = "cannot read the image file " + Quoted(path);
    return false;
  }
  // One byte more than an image may hold is enough to tell that it is too long.
  bytes.assign(kEepromSize + 1, 0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    error = "cannot read the image file " + Quoted(path);
    return false;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.empty() || bytes.size() > kEepromSize || bytes.size() % kImageAlignment != 0) {
    error = Quoted(path) +
            (bytes.size() > kEepromSize ? " holds more than 16384 bytes"
                                        : " holds " + std::to_string(bytes.size()) + " bytes") +
            "; an image is 1 to 16384 bytes, a multiple of 16";
    return false;
  }
  if (!force && !ImageVersionLine(bytes)) {
    error = Quoted(path) +
            " has no version header; if it is a backup to restore, add --force to write it";
    return false;
  }
  return true;
}

bool CheckBackupTarget(const std::string& path, bool force, std::string& error) {
  std::error_code ec;
  const fs::path target = fs::path(path);
  if (fs::is_directory(target, ec)) {
    error = Quoted(path) + " is a folder; name the backup file";
    return false;
  }
  if (fs::exists(target, ec) && !force) {
    error = Quoted(path) + " exists; add --force to overwrite it";
    return false;
  }
  const fs::path folder = target.parent_path();
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    error = "the folder of " + Quoted(path) + " does not exist";
    return false;
  }
  return true;
}

bool SaveBackup(const std::string& path, std::span<const std::uint8_t> data, std::string& error) {
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
      error = "cannot write the backup file " + Quoted(path);
      return false;
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
    error = "cannot write the backup file " + Quoted(path) + ": " + why;
    return false;
  }
  return true;
}

}  // namespace quarnel::cli
