// Report I/O on Windows HID handles (placeholder until the backend lands).
#include "hid/DeviceBus.h"
