// A unit that is plugged in while the program waits, and whose node refuses this user for a
// while after it appears, as udev's access rule takes a moment: the test says after how many
// waits it comes, how often it refuses, and when a wait is interrupted. Its waits move a fake
// clock instead of sleeping.
#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "hid/DeviceBus.h"
#include "tests/support/FakeClock.h"

namespace quarnel::testing {

struct Arrival {
  int afterWaits = 0;  // listed once this many waits have passed; -1: never
  int refusals = 0;    // opens refused for permission before one succeeds; -1: all
  std::optional<std::chrono::milliseconds> age;  // what the bus says of the node's age
  int interruptAtWait = -1;  // raises the interrupt flag in this wait (1: the first)
};

class ArrivingBus final : public hid::Bus {
 public:
  ArrivingBus(hid::Bus& inner, Arrival arrival, FakeClock& clock, std::atomic<bool>* interrupt)
      : inner_(inner), arrival_(arrival), clock_(clock), interrupt_(interrupt) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    if (arrival_.afterWaits < 0 || waits < arrival_.afterWaits) return {};
    return inner_.Enumerate();
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    ++opens;
    if (arrival_.refusals < 0 || refused < arrival_.refusals) {
      ++refused;
      return Fail(hid::LinkFailure{hid::FailureKind::PermissionDenied, info.path,
                                   "cannot open " + info.path + ": permission denied"});
    }
    return inner_.Open(info);
  }
  bool PrivateToProcess() const override { return true; }
  void WaitForChange(std::chrono::milliseconds timeout, const std::atomic<bool>*) override {
    ++waits;
    if (waits == arrival_.interruptAtWait && interrupt_ != nullptr) *interrupt_ = true;
    // Nothing comes: the whole time passes; the unit comes: at once.
    if (waits != arrival_.afterWaits) clock_.Advance(timeout);
  }
  std::optional<std::chrono::milliseconds> Age(const hid::InterfaceInfo&) const override {
    return arrival_.age;
  }

  int waits = 0;
  int opens = 0;
  int refused = 0;

 private:
  hid::Bus& inner_;
  Arrival arrival_;
  FakeClock& clock_;
  std::atomic<bool>* interrupt_;
};

}  // namespace quarnel::testing
