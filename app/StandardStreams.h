// The standard streams a program may be started without.
#pragma once

namespace quarnel {

// Puts the null device where the parent left a standard stream closed: descriptors 0, 1 and 2
// on Linux, the standard handles on Windows. Otherwise the first thing the program opens (a
// unit's node, the emulated unit's link) would take the closed one's place, and the program's
// own lines and progress would reach the unit as reports. Called first in main, before
// anything is opened; false when the null device could not be opened, and the program must
// not go on.
bool OpenStandardStreams();

}  // namespace quarnel
