// One JSON object on one line, built field by field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quarnel::cli {

// The inside of a JSON string for any bytes: quotes, backslashes and the hidden characters
// (IsHiddenCharacter: controls, bidirectional overrides) escaped, each byte that is not part of
// valid UTF-8 written as \ufffd, so every line is valid JSON and safe on a terminal.
std::string JsonEscape(const std::string& text);

class JsonObject {
 public:
  JsonObject& Text(const char* key, const std::string& value);
  // null when empty
  JsonObject& OptText(const char* key, const std::optional<std::string>& value);
  JsonObject& Number(const char* key, std::int64_t value);
  JsonObject& OptNumber(const char* key, const std::optional<std::int64_t>& value);
  JsonObject& Bool(const char* key, bool value);
  JsonObject& Null(const char* key);
  // `json` is already an encoded value.
  JsonObject& Raw(const char* key, const std::string& json);
  std::string str() const { return "{" + fields_ + "}"; }

 private:
  JsonObject& Field(const char* key, const std::string& json);
  std::string fields_;
};

}  // namespace quarnel::cli
