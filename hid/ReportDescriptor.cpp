#include "hid/ReportDescriptor.h"

#include <limits>
#include <vector>

namespace quarnel::hid {

namespace {

// Item types and tags of the short items we look at.
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;
constexpr std::uint8_t kTypeLocal = 2;

constexpr std::uint8_t kMainInput = 0x8;
constexpr std::uint8_t kMainOutput = 0x9;
constexpr std::uint8_t kMainCollection = 0xA;
constexpr std::uint8_t kMainFeature = 0xB;
constexpr std::uint8_t kMainEndCollection = 0xC;

constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;

constexpr std::uint8_t kLongItemPrefix = 0xFE;

struct GlobalState {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
};

std::uint64_t AddSaturating(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

std::uint64_t BytesWithId(std::uint64_t bits) {
  return bits == 0 ? 0 : bits / 8 + (bits % 8 != 0 ? 1 : 0) + 1;
}

std::string At(std::size_t offset) {
  return " at byte " + std::to_string(offset);
}

// One item of the descriptor: a short item's type, tag and data, or a long item (which
// carries nothing that matters here).
struct Item {
  bool isLong = false;
  std::uint8_t type = 0;
  std::uint8_t tag = 0;
  std::uint32_t value = 0;  // the data bytes, little-endian
  std::size_t length = 0;   // prefix and data
};

// The item that starts at `at`; nothing, with `error` set, when it runs past the end.
std::optional<Item> ItemAt(std::span<const std::uint8_t> d, std::size_t at, std::string& error) {
  const std::uint8_t prefix = d[at];
  const std::size_t left = d.size() - at;
  if (prefix == kLongItemPrefix) {
    // Long items carry their data size in the next byte, then a tag byte.
    if (left < 3 || left - 3 < d[at + 1]) {
      error = "truncated long item" + At(at);
      return std::nullopt;
    }
    return Item{true, 0, 0, 0, 3 + std::size_t{d[at + 1]}};
  }
  const std::size_t size = (prefix & 0x3) == 3 ? 4 : prefix & 0x3;
  if (left - 1 < size) {
    error = "truncated item" + At(at);
    return std::nullopt;
  }
  Item item{false, static_cast<std::uint8_t>((prefix >> 2) & 0x3),
            static_cast<std::uint8_t>(prefix >> 4), 0, 1 + size};
  for (std::size_t i = 0; i < size; ++i) item.value |= std::uint32_t{d[at + 1 + i]} << (8 * i);
  return item;
}

// The parser's state across items: the layout so far, the global items in force and the
// open collections.
class Walk {
 public:
  // Takes one item; false, with `error` set, when the descriptor is not well formed there.
  bool Take(const Item& item, std::size_t at, std::string& error) {
    if (item.isLong || item.type == kTypeLocal) return true;
    if (item.type == kTypeMain) return Main(item.tag, at, error);
    if (item.type == kTypeGlobal) return Global(item, at, error);
    error = "reserved item" + At(at);
    return false;
  }
  // False, with `error` set, when a collection is left open.
  bool Finish(std::string& error) const {
    if (depth_ != 0) error = "a collection is never closed";
    return depth_ == 0;
  }
  const ReportLayout& layout() const { return layout_; }

 private:
  std::uint64_t Bits() const { return std::uint64_t{state_.reportSize} * state_.reportCount; }

  bool Main(std::uint8_t tag, std::size_t at, std::string& error) {
    switch (tag) {
      case kMainInput:
        layout_.inputBits = AddSaturating(layout_.inputBits, Bits());
        return true;
      case kMainOutput:
        layout_.outputBits = AddSaturating(layout_.outputBits, Bits());
        return true;
      case kMainFeature:
        return true;
      case kMainCollection:
        ++depth_;
        return true;
      case kMainEndCollection:
        if (depth_ == 0) {
          error = "End Collection without a collection" + At(at);
          return false;
        }
        --depth_;
        return true;
      default:
        error = "reserved main item" + At(at);
        return false;
    }
  }

  bool Global(const Item& item, std::size_t at, std::string& error) {
    switch (item.tag) {
      case kGlobalReportSize:
        state_.reportSize = item.value;
        return true;
      case kGlobalReportCount:
        state_.reportCount = item.value;
        return true;
      case kGlobalReportId:
        layout_.usesReportIds = true;
        return true;
      case kGlobalPush:
        stack_.push_back(state_);
        return true;
      case kGlobalPop:
        if (stack_.empty()) {
          error = "Pop without Push" + At(at);
          return false;
        }
        state_ = stack_.back();
        stack_.pop_back();
        return true;
      default:
        // Usage page, logical and physical ranges, units; the tags above Pop are reserved.
        if (item.tag <= kGlobalPop) return true;
        error = "reserved global item" + At(at);
        return false;
    }
  }

  ReportLayout layout_;
  GlobalState state_;
  std::vector<GlobalState> stack_;
  std::size_t depth_ = 0;
};

}  // namespace

std::uint64_t ReportLayout::InputLength() const {
  return BytesWithId(inputBits);
}

std::uint64_t ReportLayout::OutputLength() const {
  return BytesWithId(outputBits);
}

std::optional<ReportLayout> ParseReportDescriptor(std::span<const std::uint8_t> descriptor,
                                                  std::string& error) {
  if (descriptor.empty()) {
    error = "the report descriptor is empty";
    return std::nullopt;
  }
  Walk walk;
  for (std::size_t at = 0; at < descriptor.size();) {
    const auto item = ItemAt(descriptor, at, error);
    if (!item || !walk.Take(*item, at, error)) return std::nullopt;
    at += item->length;
  }
  if (!walk.Finish(error)) return std::nullopt;
  return walk.layout();
}

bool FitsReportBuffers(const ReportLayout& layout, std::uint64_t maxLength, std::string& reason) {
  if (layout.usesReportIds) {
    reason = "the device uses numbered reports";
    return false;
  }
  if (layout.InputLength() == 0 || layout.OutputLength() == 0) {
    reason = layout.InputLength() == 0 ? "the device has no input report"
                                       : "the device has no output report";
    return false;
  }
  const auto tooLong = [&](const char* kind, std::uint64_t length) {
    reason = std::string("the device's ") + kind + " report is " + std::to_string(length) +
             " bytes long, more than " + std::to_string(maxLength);
    return false;
  };
  if (layout.InputLength() > maxLength) return tooLong("input", layout.InputLength());
  if (layout.OutputLength() > maxLength) return tooLong("output", layout.OutputLength());
  return true;
}

}  // namespace quarnel::hid
