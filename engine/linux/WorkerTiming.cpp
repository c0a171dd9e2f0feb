// Linux lets a sleep end up to the thread's timer slack late (50 us by default), so that
// wake-ups can be grouped; 1 us asks for the timer's own precision instead.
#include "engine/WorkerTiming.h"

#include <sys/prctl.h>

namespace quarnel {

void PreferPromptWakeups() {
  ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
}

}  // namespace quarnel
