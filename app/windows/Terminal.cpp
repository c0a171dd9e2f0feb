#include <io.h>

#include <cstdio>

#include "app/Terminal.h"

namespace quarnel {

bool StderrIsTerminal() {
  return ::_isatty(::_fileno(stderr)) != 0;
}

}  // namespace quarnel
