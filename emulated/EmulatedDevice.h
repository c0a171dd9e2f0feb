// A model of the audio device: a serial EEPROM behind device address 0xA0 and the version
// registers, answering requests as the real unit does. Used by the demo mode, the tests and
// the benchmarks; transports carry its reports over the platform's own I/O paths.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulated/Faults.h"
#include "engine/FirmwareImage.h"
#include "engine/Reports.h"
#include "hid/Loopback.h"

namespace quarnel::emulated {

// The version registers of a unit that runs `image`: they mirror its version header (all
// 0 where it has none) and say it is a formal release.
std::array<std::uint8_t, 256> RegistersFor(std::span<const std::uint8_t> image);

class Device final : public hid::ReportServer {
 public:
  using Clock = std::chrono::steady_clock;

  // A unit with an erased EEPROM whose registers say it runs `image`.
  explicit Device(std::uint16_t productId, Faults faults = {},
                  std::span<const std::uint8_t> image = FirmwareImage());

  std::uint16_t productId() const { return productId_; }
  Framing framing() const { return framing_; }

  // Takes one output report (report-ID byte first) and says what the device sends back.
  hid::ServedAnswer Serve(std::span<const std::uint8_t> report) override;

  bool vanished() const;
  std::uint32_t requests() const;
  std::array<std::uint8_t, kEepromSize> Eeprom() const;
  void SetEeprom(std::size_t address, std::span<const std::uint8_t> bytes);
  std::uint8_t Register(std::uint8_t reg) const;
  void SetRegister(std::uint8_t reg, std::uint8_t value);
  // The clock of the EEPROM's write cycle (the system's steady clock unless a test sets one).
  void SetClock(std::function<Clock::time_point()> now);

 private:
  Report Answer(const ParsedRequest& request);
  void Write(std::uint16_t start, std::span<const std::uint8_t> data);

  const std::uint16_t productId_;
  const Framing framing_;
  const Faults faults_;
  mutable std::mutex mutex_;
  std::array<std::uint8_t, kEepromSize> eeprom_;
  std::array<std::uint8_t, 256> registers_{};
  std::uint32_t requests_ = 0;
  std::uint32_t answers_ = 0;
  bool vanished_ = false;
  std::optional<Report> lastAnswer_;
  std::optional<Report> lateCopy_;
  std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
  // The EEPROM ignores writes until then.
  Clock::time_point busyUntil_{};
};

}  // namespace quarnel::emulated
