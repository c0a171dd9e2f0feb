// Owns one file descriptor and closes it.
#pragma once

#include <unistd.h>

#include "base/UniqueResource.h"

namespace quarnel {

struct FdTraits {
  using Value = int;
  static constexpr int None() { return -1; }
  static bool Valid(int fd) { return fd >= 0; }
  static void Close(int fd) { ::close(fd); }
};

using UniqueFd = UniqueResource<FdTraits>;

}  // namespace quarnel
