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
  ReportLayout layout;
  GlobalState state;
  std::vector<GlobalState> stack;
  std::size_t depth = 0;  // open collections
  std::size_t at = 0;
  while (at < descriptor.size()) {
    const std::uint8_t prefix = descriptor[at];
    if (prefix == kLongItemPrefix) {
      // Long items carry their size in the next byte; none of them matters here.
      if (descriptor.size() - at < 3 || descriptor.size() - at - 3 < descriptor[at + 1]) {
        error = "truncated long item" + At(at);
        return std::nullopt;
      }
      at += 3 + std::size_t{descriptor[at + 1]};
      continue;
    }
    const std::size_t size = (prefix & 0x3) == 3 ? 4 : prefix & 0x3;
    const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    if (descriptor.size() - at - 1 < size) {
      error = "truncated item" + At(at);
      return std::nullopt;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i)
      value |= std::uint32_t{descriptor[at + 1 + i]} << (8 * i);

    if (type == kTypeMain) {
      switch (tag) {
        case kMainInput:
          layout.inputBits =
              AddSaturating(layout.inputBits, std::uint64_t{state.reportSize} * state.reportCount);
          break;
        case kMainOutput:
          layout.outputBits =
              AddSaturating(layout.outputBits, std::uint64_t{state.reportSize} * state.reportCount);
          break;
        case kMainFeature:
          break;
        case kMainCollection:
          ++depth;
          break;
        case kMainEndCollection:
          if (depth == 0) {
            error = "End Collection without a collection" + At(at);
            return std::nullopt;
          }
          --depth;
          break;
        default:
          error = "reserved main item" + At(at);
          return std::nullopt;
      }
    } else if (type == kTypeGlobal) {
      switch (tag) {
        case kGlobalReportSize:
          state.reportSize = value;
          break;
        case kGlobalReportCount:
          state.reportCount = value;
          break;
        case kGlobalReportId:
          layout.usesReportIds = true;
          break;
        case kGlobalPush:
          stack.push_back(state);
          break;
        case kGlobalPop:
          if (stack.empty()) {
            error = "Pop without Push" + At(at);
            return std::nullopt;
          }
          state = stack.back();
          stack.pop_back();
          break;
        default:
          if (tag > kGlobalPop) {
            error = "reserved global item" + At(at);
            return std::nullopt;
          }
          break;  // usage page, logical and physical ranges, units
      }
    } else if (type != kTypeLocal) {
      error = "reserved item" + At(at);
      return std::nullopt;
    }
    at += 1 + size;
  }
  if (depth != 0) {
    error = "a collection is never closed";
    return std::nullopt;
  }
  return layout;
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
