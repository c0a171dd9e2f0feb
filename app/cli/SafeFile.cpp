#include "app/cli/SafeFile.h"

#include <random>

#include "base/Text.h"

namespace quarnel::cli {

namespace {

const char* NodeWords(NodeType type) {
  switch (type) {
    case NodeType::Folder:
      return "a folder";
    case NodeType::Device:
      return "a device";
    case NodeType::Fifo:
      return "a FIFO (named pipe)";
    case NodeType::Socket:
      return "a socket";
    case NodeType::Descriptor:
      return "a process's descriptor in /proc";
    default:
      return "not a regular file";
  }
}

}  // namespace

std::string QuotedPath(const std::string& path) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely about "literal" + temporary string.
  std::string quoted(1, '\'');
  quoted += Shown(path);
  quoted += '\'';
  return quoted;
}

const char* WriteProblemName(WriteProblem kind) {
  switch (kind) {
    case WriteProblem::Exists:
      return "exists";
    case WriteProblem::Folder:
      return "folder";
    case WriteProblem::NotAFile:
      return "not-a-file";
    case WriteProblem::NoFolder:
      return "no-folder";
    case WriteProblem::CannotCreate:
      return "cannot-create";
    case WriteProblem::WriteFailed:
      return "write-failed";
    case WriteProblem::CannotReplace:
      return "cannot-replace";
  }
  return "unknown";
}

std::optional<WriteFailure> RefusalFor(const std::string& path, Node node, bool replace) {
  const bool link = node.type == NodeType::Link;
  // A link is judged by what it leads to; it leads to nothing when nothing is at its end.
  const NodeType what = link ? node.leadsTo : node.type;
  if (what == NodeType::None && !link) return std::nullopt;
  if (what == NodeType::None || what == NodeType::File) {
    if (replace) return std::nullopt;
    return WriteFailure{WriteProblem::Exists,
                        QuotedPath(path) + " exists; add --force to overwrite it"};
  }
  std::string words = QuotedPath(path) + (link ? " is a link to " : " is ") + NodeWords(what);
  if (what == NodeType::Folder) {
    words += "; name a file in it";
    return WriteFailure{WriteProblem::Folder, std::move(words)};
  }
  words += ", not a file; it is never replaced, even with --force";
  if (what == NodeType::Descriptor) words += ", and a backup to standard output is not offered";
  return WriteFailure{WriteProblem::NotAFile, std::move(words)};
}

std::string TemporaryName(const std::string& name) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string out = name + ".";
  for (int i = 0; i < 8; ++i) out += kLetters[pick(random)];
  return out + ".part";
}

}  // namespace quarnel::cli
