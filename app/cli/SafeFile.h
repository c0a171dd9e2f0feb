// A file written so that it can be trusted: the data goes into a new file of a unique name in
// the target's folder (created exclusively, never through a link), is flushed to the disk,
// and only then takes the target's name. Nothing at the name that is not a plain file (or a
// link that leads to one or to nothing, which is replaced itself, never its target) is ever
// replaced, opened or removed, and on any failure the only file removed is the one this
// program created. One implementation per platform (linux/, windows/).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/Result.h"

namespace quarnel::cli {

enum class WriteProblem : std::uint8_t {
  Exists,         // something is at the name, and replacing it was not allowed
  Folder,         // a folder is at the name (or the name ends like one): never replaced
  NotAFile,       // a device, FIFO, socket or descriptor is at the name, or a link leads to
                  // one: never replaced
  NoFolder,       // the name's folder does not exist, or is not a folder
  CannotCreate,   // no new file could be made in the folder (permission, read-only, ...)
  WriteFailed,    // the data could not be written or flushed to the disk
  CannotReplace,  // the finished file could not take the name
};

// `detail` is one line for a person, the name shown whole by QuotedPath and the system's
// words for what went wrong, when it said any ("cannot create a file beside '/x/p.bin':
// Permission denied").
using WriteFailure = Reason<WriteProblem>;

// A path in a message: Shown, whole, in single quotes.
std::string QuotedPath(const std::string& path);

// "exists", "folder", "not-a-file", "no-folder", "cannot-create", "write-failed",
// "cannot-replace".
const char* WriteProblemName(WriteProblem kind);

// What is at a name, the name itself looked at (a link is a link, wherever it leads).
// Descriptor: a process's open descriptor in /proc (/proc/self/fd/1, where /dev/stdout leads),
// or another of the links there.
enum class NodeType : std::uint8_t {
  None,
  File,
  Link,
  Folder,
  Device,
  Fifo,
  Socket,
  Descriptor,
  Other
};

// What is at a name and, for a link, at its end, followed link by link: None when it leads
// nowhere (or round in a circle), Descriptor as soon as a step is in /proc.
struct Node {
  NodeType type = NodeType::None;
  NodeType leadsTo = NodeType::None;
};

// What may be done with `path` given what is there: nothing at it is fine; a file, or a link
// that leads to a file or to nothing, only when `replace`; anything else never, a link to it
// included. nullopt when the write may go ahead.
std::optional<WriteFailure> RefusalFor(const std::string& path, Node node, bool replace);

// The checks of WriteFileSafely without writing anything: the folder exists, and what is at
// `path` may be replaced (or nothing is there). Opens nothing at `path`.
Status<WriteFailure> CheckFileTarget(const std::string& path, bool replace);

// Writes `data` to `path` as described at the top. With `replace` false a name taken in the
// meantime is not replaced either.
Status<WriteFailure> WriteFileSafely(const std::string& path, std::span<const std::uint8_t> data,
                                     bool replace);

// The temporary name for `name` (the last part of the path): "NAME.XXXXXXXX.part", with eight
// random letters and digits, different on each call.
std::string TemporaryName(const std::string& name);

}  // namespace quarnel::cli
