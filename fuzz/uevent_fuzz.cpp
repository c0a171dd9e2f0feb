// Any text as the uevent file of a HID device in sysfs; what is read out of it, written again
// the way the kernel writes it, reads back the same; the port path is HID_PHYS without the
// interface's number. The same text, cut at its first newline into a folder and a link's
// target, is joined as std::filesystem would join and normalise it.
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz/FuzzInput.h"
#include "hid/linux/Uevent.h"

namespace {

void CheckJoinedLink(std::string_view text) {
  const std::size_t cut = text.find('\n');
  const std::string_view folder = text.substr(0, cut);
  const std::string_view target = cut == std::string_view::npos ? "" : text.substr(cut + 1);
  if (folder.find('\0') != std::string_view::npos || target.find('\0') != std::string_view::npos)
    return;
  const std::filesystem::path joined =
      std::filesystem::path(folder) / std::filesystem::path(target);
  // POSIX leaves a leading "//" to the system, and std::filesystem keeps it; sysfs has none.
  if (joined.string().starts_with("//")) return;
  std::string expected = joined.lexically_normal().string();
  while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
  if (expected.empty()) expected = ".";
  quarnel::fuzz::Require(quarnel::hid::NormalJoin(folder, target) == expected,
                         "a link's target joins as std::filesystem joins it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  using fuzz::Require;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const hid::HidUevent u = hid::ParseHidUevent(text);
  Require(u.phys.find('\n') == std::string::npos && u.uniq.find('\n') == std::string::npos,
          "a value ends at its line's end");
  Require(u.phys.size() <= size && u.uniq.size() <= size, "a value is part of the text");
  const std::string_view port = hid::WithoutInputNumber(u.phys);
  Require(std::string_view(u.phys).starts_with(port), "the port path is the start of HID_PHYS");
  Require(hid::WithoutInputNumber(std::string(port) + "/input7") == port,
          "an interface's number is cut off and nothing else");
  (void)hid::IsUsbDevice(text);
  CheckJoinedLink(text);

  std::string again = "DRIVER=hid-generic\n";
  if (u.ids) {
    char line[64];
    std::snprintf(line, sizeof line, "HID_ID=%04X:%08X:%08X\n", unsigned{u.ids->bus},
                  unsigned{u.ids->vendorId}, unsigned{u.ids->productId});
    again += line;
  }
  again += "HID_NAME=fuzz\nHID_PHYS=" + u.phys + "\nHID_UNIQ=" + u.uniq + "\n";
  const hid::HidUevent v = hid::ParseHidUevent(again);
  Require(v.ids.has_value() == u.ids.has_value() && v.phys == u.phys && v.uniq == u.uniq,
          "the fields read back");
  if (u.ids) {
    Require(v.ids->bus == u.ids->bus && v.ids->vendorId == u.ids->vendorId &&
                v.ids->productId == u.ids->productId,
            "the IDs read back");
  }
  return 0;
}
