#include "hid/linux/Uevent.h"

#include <algorithm>
#include <charconv>

namespace quarnel::hid {

namespace {

template <typename T>
bool ParseHex(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return !text.empty() && ec == std::errc{} && end == text.data() + text.size();
}

// The kernel writes bus:vendor:product as %04X:%08X:%08X.
std::optional<HidIds> ParseIds(std::string_view ids) {
  const auto first = ids.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  const auto second = ids.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  HidIds out;
  if (!ParseHex(ids.substr(0, first), out.bus) ||
      !ParseHex(ids.substr(first + 1, second - first - 1), out.vendorId) ||
      !ParseHex(ids.substr(second + 1), out.productId))
    return std::nullopt;
  return out;
}

}  // namespace

namespace {

// The value of the first line "KEY=..." of `text`; nothing without one.
std::optional<std::string_view> FirstValue(std::string_view text, std::string_view key) {
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=')
      return line.substr(key.size() + 1);
  }
  return std::nullopt;
}

}  // namespace

HidUevent ParseHidUevent(std::string_view text) {
  constexpr std::string_view kId = "HID_ID=";
  constexpr std::string_view kPhys = "HID_PHYS=";
  constexpr std::string_view kUniq = "HID_UNIQ=";
  HidUevent out;
  bool seenId = false;
  bool seenPhys = false;
  bool seenUniq = false;
  while (!text.empty()) {
    const auto eol = text.find('\n');
    const std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (!seenId && line.starts_with(kId)) {
      seenId = true;
      out.ids = ParseIds(line.substr(kId.size()));
    } else if (!seenPhys && line.starts_with(kPhys)) {
      seenPhys = true;
      out.phys = line.substr(kPhys.size());
    } else if (!seenUniq && line.starts_with(kUniq)) {
      seenUniq = true;
      out.uniq = line.substr(kUniq.size());
    }
  }
  return out;
}

bool IsUsbDevice(std::string_view text) {
  return FirstValue(text, "DEVTYPE") == std::optional<std::string_view>("usb_device");
}

std::string_view WithoutInputNumber(std::string_view phys) {
  constexpr std::string_view kInput = "/input";
  const auto at = phys.rfind(kInput);
  if (at == std::string_view::npos) return phys;
  const std::string_view number = phys.substr(at + kInput.size());
  if (number.empty() ||
      !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return phys;
  return phys.substr(0, at);
}

namespace {

// Appends the steps of `path` to `out`, a normal path, keeping it normal: ".." takes the last
// step away, except at the root (where it stays) and in a relative path that begins with "..".
void AppendSteps(std::string& out, std::string_view path) {
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
    if (step.empty() || step == ".") continue;
    const std::size_t last = out.rfind('/');
    const std::string_view lastStep =
        std::string_view(out).substr(last == std::string::npos ? 0 : last + 1);
    if (step == ".." && out == "/") continue;
    if (step == ".." && !out.empty() && lastStep != "..") {
      out.erase(last == std::string::npos ? 0 : (last == 0 ? 1 : last));
      continue;
    }
    if (!out.empty() && out.back() != '/') out += '/';
    out += step;
  }
}

}  // namespace

std::string NormalJoin(std::string_view folder, std::string_view path) {
  std::string out;
  const std::string_view start = path.starts_with('/') ? path : folder;
  if (start.starts_with('/')) out = "/";
  if (!path.starts_with('/')) AppendSteps(out, folder);
  AppendSteps(out, path);
  return out.empty() ? "." : out;
}

}  // namespace quarnel::hid
