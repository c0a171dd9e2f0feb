#include "hid/LinkFailure.h"

#include <array>
#include <cstddef>

namespace quarnel::hid {

const char* FailureKindName(FailureKind kind) {
  // In the order of the enumeration.
  static constexpr std::array<const char*, 9> kNames = {
      "none", "not-found", "permission", "in-use",           "unsupported-reports",
      "gone", "io-error",  "timed-out",  "out-of-resources",
  };
  const auto index = static_cast<std::size_t>(kind);
  return index < kNames.size() ? kNames[index] : "unknown";
}

}  // namespace quarnel::hid
