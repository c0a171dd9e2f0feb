// Small text helpers shared by every part of the program: number parsing and formatting, and
// the one rule for showing text that comes from outside the program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

// A whole number in `base` (10 or 16), or hexadecimal when written with 0x. No signs,
// spaces or other characters; false when the text is not such a number or does not fit.
bool ParseNumber(std::string_view text, std::uint32_t& value, int base = 10);

// "1852:7029": a vendor and product ID pair, each as Hex4 writes it.
std::string IdPair(std::uint16_t vendorId, std::uint16_t productId);

// One character of valid UTF-8: its code point and how many bytes it takes.
struct Utf8Char {
  char32_t code = 0;
  std::size_t length = 0;
};

// The character at the start of `text`, when it begins with a valid UTF-8 sequence: the
// shortest form, no surrogate, at most U+10FFFF. nullopt when it does not (or `text` is empty).
std::optional<Utf8Char> DecodeUtf8(std::string_view text);

// Whether a character from outside may never reach a terminal as it is: a C0 control (below
// 0x20), DEL (0x7F), a C1 control (U+0080..U+009F), or a bidirectional embedding, override or
// isolate (U+202A..U+202E, U+2066..U+2069), which would reorder the text after it.
bool IsHiddenCharacter(char32_t code);

// Text from outside the program (a file name, a path, an option value) as every message and
// result line shows it: each byte of a hidden character (IsHiddenCharacter; U+0080 is c2 80
// in UTF-8, U+202E e2 80 ae) and each byte that is not part of valid UTF-8 (a lone 0x9B among
// them) becomes '?'; the rest, other characters of any script included, is shown as it is.
// One byte in, one byte out, so no name can move the cursor, start an escape sequence, end a
// line or turn the words around it backwards.
std::string Shown(std::string_view text);

// An argument as messages quote it: Shown, in single quotes, cut to at most 32 bytes (at a
// character's end) and "..." when it is longer than 64, so the message stays one short line.
std::string Quoted(std::string_view arg);

// "7029": four upper-case hex digits.
std::string Hex4(std::uint16_t value);

// `words` broken at spaces into lines of at most `width` columns, for a help text: the first
// line goes on after `used` columns of its own, every further one starts with `indent`
// spaces. A word longer than a line stands alone on its line. No newline at the end.
std::string WrapWords(std::string_view words, std::size_t used, std::size_t indent,
                      std::size_t width);

}  // namespace quarnel
