#include "app/cli/Json.h"

#include <cstdio>

#include "base/Text.h"

namespace quarnel::cli {

std::string JsonEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const std::string_view all(text);
  for (std::size_t at = 0; at < all.size();) {
    const auto c = DecodeUtf8(all.substr(at));
    if (!c) {
      out += "\\ufffd";  // a byte that is not part of valid UTF-8
      ++at;
      continue;
    }
    switch (c->code) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        // Controls and bidirectional overrides: valid JSON raw or not, never raw on a terminal.
        if (IsHiddenCharacter(c->code)) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c->code));
          out += esc;
        } else {
          out.append(all.substr(at, c->length));
        }
    }
    at += c->length;
  }
  return out;
}

JsonObject& JsonObject::Field(const char* key, const std::string& json) {
  if (!fields_.empty()) fields_ += ",";
  // Appended piece by piece: GCC 12 at -O3 warns falsely about "literal" + temporary string.
  fields_ += '"';
  fields_ += JsonEscape(key);
  fields_ += "\":";
  fields_ += json;
  return *this;
}

JsonObject& JsonObject::Text(const char* key, const std::string& value) {
  std::string quoted(1, '"');
  quoted += JsonEscape(value);
  quoted += '"';
  return Field(key, quoted);
}

JsonObject& JsonObject::OptText(const char* key, const std::optional<std::string>& value) {
  return value ? Text(key, *value) : Null(key);
}

JsonObject& JsonObject::Number(const char* key, std::int64_t value) {
  return Field(key, std::to_string(value));
}

JsonObject& JsonObject::OptNumber(const char* key, const std::optional<std::int64_t>& value) {
  return value ? Number(key, *value) : Null(key);
}

JsonObject& JsonObject::Bool(const char* key, bool value) {
  return Field(key, value ? "true" : "false");
}

JsonObject& JsonObject::Null(const char* key) {
  return Field(key, "null");
}

JsonObject& JsonObject::Raw(const char* key, const std::string& json) {
  return Field(key, json);
}

}  // namespace quarnel::cli
