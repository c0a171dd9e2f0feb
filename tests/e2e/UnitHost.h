// What the kernel front ends of the emulated device (quarnel-uhid-device and
// quarnel-hidg-device) do alike around their transport: the program's frame (options, signals,
// the model, the EEPROM files, the closing line), finding the hidraw nodes the kernel made for
// a unit, and announcing the node to whoever waits for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "base/linux/UniqueFd.h"
#include "emulated/EmulatedDevice.h"
#include "tests/e2e/FrontEnd.h"

namespace quarnel::e2e {

// `what` with the text of errno.
std::string Errno(const std::string& what);

void SleepUs(std::uint64_t us);

// Seconds since boot, as /proc/uptime counts them.
double Uptime();

// The hidraw node of the HID interface with unique ID `uniq` (the USB serial number, or uhid's
// uniq) whose phys ends in "/input<interface>", or empty.
std::string FindHidrawNode(const std::string& uniq, unsigned interface);

// The kernel's uevents, which tell when a node has been made.
class UeventSocket {
 public:
  bool Open(std::string& error);
  int fd() const { return fd_.get(); }
  void Drain();  // takes every waiting message

 private:
  UniqueFd fd_;
};

// Waits until `find` gives a path, looking again after each uevent, for at most `limit`;
// empty when it never did.
std::string WaitForNode(UeventSocket& uevents, const std::function<std::string()>& find,
                        std::chrono::milliseconds limit);

// Tells whoever waits on the --ready file the node (or "error: ..."), once: no one reads a
// FIFO twice. Without --ready, on stdout.
void Announce(const UnitOptions& options, const std::string& line);

// Hands one request to the model and waits out the delay its faults ask for.
hid::ServedAnswer Serve(emulated::Device& device, const Report& request);

// The front end's work once the model is made: serves it until a signal arrives on `signals`
// (true), or fails with `error` set (false).
using RunUnit = std::function<bool(const UnitOptions& options, emulated::Device& device,
                                   int signals, std::string& error)>;

// main() of a front end: parses the options (exit 64 with `usage` when they are wrong), takes
// SIGTERM and SIGINT as events on a signalfd, makes the model (registers, --eeprom), runs
// `run`, then writes the --dump file and "PROGRAM: PID served N requests" on stderr (exit 0),
// or the failure on stderr and to the --ready file (exit 1).
int FrontEndMain(int argc, char** argv, const char* program, const char* usage, const RunUnit& run);

}  // namespace quarnel::e2e
