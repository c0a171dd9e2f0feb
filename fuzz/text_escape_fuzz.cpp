// Any bytes, as a name from outside the program: what the terminal is shown of it (Shown,
// Quoted) and its JSON string (JsonEscape).
#include <string>
#include <string_view>

#include "app/cli/Json.h"
#include "base/Text.h"
#include "fuzz/FuzzInput.h"

namespace {

using quarnel::DecodeUtf8;
using quarnel::fuzz::Require;

// Written out here again, so that the target checks the rule rather than repeats its code:
// controls, and the bidirectional embeddings, overrides and isolates.
bool IsControl(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

// Valid UTF-8 with no control character of any kind, nor anything that reorders the text.
bool SafeOnATerminal(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto c = DecodeUtf8(text.substr(at));
    if (!c || IsControl(c->code)) return false;
    at += c->length;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The inside of a JSON string read back as a JSON parser would; false when it is not valid
// JSON (a raw control character, a broken escape, a quote not escaped, bytes not UTF-8).
bool ReadJsonString(std::string_view json, std::string& text) {
  for (std::size_t at = 0; at < json.size();) {
    const auto c = DecodeUtf8(json.substr(at));
    if (!c || c->code < 0x20 || c->code == '"') return false;
    if (c->code != '\\') {
      text.append(json.substr(at, c->length));
      at += c->length;
      continue;
    }
    if (++at >= json.size()) return false;
    const char e = json[at++];
    switch (e) {
      case '"':
      case '\\':
      case '/':
        text += e;
        break;
      case 'n':
        text += '\n';
        break;
      case 't':
        text += '\t';
        break;
      case 'r':
        text += '\r';
        break;
      case 'b':
        text += '\b';
        break;
      case 'f':
        text += '\f';
        break;
      case 'u': {
        if (json.size() - at < 4) return false;
        char32_t code = 0;
        for (int i = 0; i < 4; ++i) {
          const int d = HexDigit(json[at++]);
          if (d < 0) return false;
          code = (code << 4) | static_cast<char32_t>(d);
        }
        if (code >= 0xD800 && code <= 0xDFFF) return false;  // never written alone
        AppendUtf8(text, code);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name(reinterpret_cast<const char*>(data), size);

  const std::string shown = quarnel::Shown(name);
  Require(shown.size() == name.size(), "one byte shown for each byte");
  Require(SafeOnATerminal(shown), "nothing shown is a control, an override or broken UTF-8");
  const bool valid = SafeOnATerminal(name);
  Require(!valid || shown == name, "a name that is safe is shown as it is");

  const std::string quoted = quarnel::Quoted(name);
  Require(SafeOnATerminal(quoted), "nothing quoted is a control, an override or broken UTF-8");
  Require(name.size() > 64 ? quoted.size() <= 32 + 5 : quoted == "'" + shown + "'",
          "long names are cut in quotes, short ones shown whole");

  const std::string json = quarnel::cli::JsonEscape(name);
  Require(SafeOnATerminal(json), "a JSON string holds no raw control or override");
  std::string back;
  Require(ReadJsonString(json, back), "a JSON string is valid JSON");
  bool utf8 = true;
  for (std::size_t at = 0; at < name.size() && utf8;) {
    const auto c = DecodeUtf8(std::string_view(name).substr(at));
    utf8 = c.has_value();
    if (c) at += c->length;
  }
  Require(!utf8 || back == name, "valid UTF-8 comes back from JSON as it went in");
  return 0;
}
