// How the worker thread asks the system for prompt wake-ups: the pause after each accepted
// write is paid 1536 times per update, and every microsecond a sleep oversleeps is paid as
// often, in wall time or (where the rest is waited out awake) in CPU time.
#pragma once

namespace quarnel {

// For the calling thread: sleeps end as close to the time asked as the system can make them.
// Defined per platform.
void PreferPromptWakeups();

}  // namespace quarnel
