#include "base/Text.h"

#include <charconv>
#include <cstdio>

namespace quarnel {

bool ParseNumber(std::string_view text, std::uint32_t& value, int base) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::string IdPair(std::uint16_t vendorId, std::uint16_t productId) {
  return Hex4(vendorId) + ":" + Hex4(productId);
}

std::optional<Utf8Char> DecodeUtf8(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return Utf8Char{static_cast<char32_t>(lead), 1};
  std::size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;  // the smallest code point that needs this many bytes
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    least = 0x10000;
  } else {
    return std::nullopt;  // a continuation byte, or a lead that only overlong forms use
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  return Utf8Char{code, length};
}

bool IsHiddenCharacter(char32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

namespace {

// Appends `text` shown by the rule of Shown, stopping before the character that would take it
// beyond `limit` bytes.
void AppendShown(std::string& out, std::string_view text, std::size_t limit) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto c = DecodeUtf8(text.substr(at));
    const std::size_t length = c ? c->length : 1;
    if (at + length > limit) break;
    if (!c || IsHiddenCharacter(c->code)) {
      out.append(length, '?');
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
}

}  // namespace

std::string Shown(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendShown(out, text, text.size());
  return out;
}

std::string Quoted(std::string_view arg) {
  constexpr std::size_t kLong = 64;
  constexpr std::size_t kShown = 32;
  std::string out = "'";
  AppendShown(out, arg, arg.size() > kLong ? kShown : arg.size());
  if (arg.size() > kLong) out += "...";
  out += "'";
  return out;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned{value});
  return text;
}

std::string WrapWords(std::string_view words, std::size_t used, std::size_t indent,
                      std::size_t width) {
  std::string text;
  std::size_t column = used;
  bool lineEmpty = true;
  while (!words.empty()) {
    const std::size_t space = words.find(' ');
    const std::string_view word = words.substr(0, space);
    words = space == std::string_view::npos ? std::string_view() : words.substr(space + 1);
    if (word.empty()) continue;
    if (!lineEmpty && column + 1 + word.size() > width) {
      text += '\n';
      text.append(indent, ' ');
      column = indent;
      lineEmpty = true;
    }
    if (!lineEmpty) {
      text += ' ';
      ++column;
    }
    text += word;
    column += word.size();
    lineEmpty = false;
  }
  return text;
}

}  // namespace quarnel
