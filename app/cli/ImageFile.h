// The files of the command line: an image to write or compare (--image=FILE), and the
// backup of a unit's EEPROM.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"

namespace quarnel::cli {

enum class FileProblem : std::uint8_t {
  Folder,      // a folder was named where a file was wanted
  Unreadable,  // the image file cannot be read
  BadLength,   // not 1..16384 bytes, a multiple of 16
  NoHeader,    // no version header, and no --force
  Exists,      // the backup file exists, and no --force
  NoFolder,    // the backup file's folder does not exist
  NotWritten,  // the backup file could not be written
};
// `detail`: one line, naming the file.
using FileFailure = Reason<FileProblem>;

// The type the result's reason gives every problem with a file.
inline constexpr const char* kFileReasonWord = "file";

// Reads an image: 1..16384 bytes, a multiple of 16, with a version header unless `force`.
Result<std::vector<std::uint8_t>, FileFailure> LoadImageFile(const std::string& path, bool force);

// Whether a backup may be written to `path`: its folder exists, and it does not exist
// unless `force`.
Status<FileFailure> CheckBackupTarget(const std::string& path, bool force);

// Writes `data` to a temporary file in the same folder, then renames it to `path`, so that
// `path` appears only when complete. The temporary file is removed on failure.
Status<FileFailure> SaveBackup(const std::string& path, std::span<const std::uint8_t> data);

}  // namespace quarnel::cli
