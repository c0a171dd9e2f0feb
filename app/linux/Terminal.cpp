#include <unistd.h>

#include "app/Terminal.h"

namespace quarnel {

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace quarnel
