// The files of the command line: an image to write or compare (--image=FILE), and the
// backup of a unit's EEPROM.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarnel::cli {

// Reads an image: 1..16384 bytes, a multiple of 16, with a version header unless `force`.
// False with `error` (one line) otherwise.
bool LoadImageFile(const std::string& path, bool force, std::vector<std::uint8_t>& bytes,
                   std::string& error);

// Whether a backup may be written to `path`: its folder exists, and it does not exist
// unless `force`.
bool CheckBackupTarget(const std::string& path, bool force, std::string& error);

// Writes `data` to a temporary file in the same folder, then renames it to `path`, so that
// `path` appears only when complete. The temporary file is removed on failure.
bool SaveBackup(const std::string& path, std::span<const std::uint8_t> data, std::string& error);

}  // namespace quarnel::cli
