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
  BadLength,   // not 16..16384 bytes, a multiple of 16
  NoHeader,    // no version header, and no --force
  Exists,      // something is at the backup file's name (a link too), and no --force
  NotAFile,    // a device, FIFO, socket or descriptor, or a link to one: never read as an
               // image, nor replaced by a backup
  NoFolder,    // the backup file's folder does not exist
  NotWritten,  // the backup file could not be created, written, flushed or renamed
};
// `detail`: one line, naming the file.
using FileFailure = Reason<FileProblem>;

// The type the result's reason gives every problem with a file.
inline constexpr const char* kFileReasonWord = "file";

// Reads an image: 16..16384 bytes, a multiple of 16, with a version header unless `force`.
Result<std::vector<std::uint8_t>, FileFailure> LoadImageFile(const std::string& path, bool force);

// Whether a backup may be written to `path`: its folder exists, and nothing is at `path` (a
// link counts, wherever it leads), or with `force` a file or a link that leads to a file or to
// nothing. A folder, device, FIFO, socket or descriptor, or a link to one, is refused even with
// `force`. Looks only; CheckFileTarget (app/cli/SafeFile.h).
Status<FileFailure> CheckBackupTarget(const std::string& path, bool force);

// Writes `data` to `path` by WriteFileSafely (app/cli/SafeFile.h): a new file of a unique
// name beside it, flushed, then renamed, so that `path` appears only when complete and on the
// disk; what is at `path` is replaced only with `force`, and only as CheckBackupTarget says. On
// failure the detail is the reason for a person, with the system's words.
Status<FileFailure> SaveBackup(const std::string& path, bool force,
                               std::span<const std::uint8_t> data);

}  // namespace quarnel::cli
