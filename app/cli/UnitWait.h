// Units as people attach them: waiting for one to come (--wait), and giving udev the moment
// it takes to let this user open a node that has just appeared.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

#include "app/cli/CliOptions.h"
#include "hid/DeviceBus.h"

namespace quarnel::cli {

// The clock the waiting reads and how it pauses; tests hand in their own.
struct Pacing {
  std::function<std::chrono::steady_clock::time_point()> now;  // empty: steady_clock
  std::function<void(std::chrono::milliseconds)> pause;        // empty: sleep
};

// A node that refuses this user within this long of appearing is tried again, for as long,
// before the refusal counts: udev gives access a little after the node appears.
inline constexpr std::chrono::milliseconds kAccessGrace{2000};
inline constexpr std::chrono::milliseconds kAccessRetry{100};

// The bus as the command line opens it: a refused interface that appeared moments ago (by
// the bus's Age, or because it came while this program waited) is opened again until it
// opens, refuses for another reason, or kAccessGrace has passed.
class PatientBus final : public hid::Bus {
 public:
  PatientBus(hid::Bus& inner, Pacing pacing);

  std::vector<hid::InterfaceInfo> Enumerate() override;
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override;
  bool PrivateToProcess() const override { return inner_.PrivateToProcess(); }
  void WaitForChange(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel) override {
    inner_.WaitForChange(timeout, cancel);
  }
  std::optional<std::chrono::milliseconds> Age(const hid::InterfaceInfo& info) const override;

  std::chrono::steady_clock::time_point Now() const;

 private:
  hid::Bus& inner_;
  Pacing pacing_;
  bool listed_ = false;
  // Paths that were not there at the first listing, and when they were first seen.
  std::vector<std::pair<std::string, std::chrono::steady_clock::time_point>> seen_;
  std::vector<std::string> first_;
};

enum class WaitEnd : std::uint8_t { Present, TimedOut, Interrupted };

// --wait: until a unit the command can use is attached (one that opens and whose reports
// carry its framing, or that is there but refuses; with --device, the one named), `limit`
// has passed (none: no limit), or `*interrupt` is raised. `announce` is called once, when
// the waiting begins.
WaitEnd WaitForUnit(PatientBus& bus, const CliOptions& o,
                    std::optional<std::chrono::milliseconds> limit,
                    const std::atomic<bool>* interrupt, const std::function<void()>& announce);

}  // namespace quarnel::cli
