// Windows has no timer slack of a thread to lower; its sleeps are as the system timer makes
// them, and the pause waits out the rest awake.
#include "engine/WorkerTiming.h"

namespace quarnel {

void PreferPromptWakeups() {}

}  // namespace quarnel
