// One unit with two HID interfaces, as most USB audio units have: a consumer-control interface
// (the volume keys: one 1-byte input report, no output report) listed first, then the unit's
// own interface from `inner`, both with the same IDs and the same location. Given `lengths`,
// the unit's own interface has those report lengths instead of its own.
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "hid/DeviceBus.h"
#include "tests/support/ServedInterface.h"

namespace quarnel::testing {

struct ReportLengths {
  std::uint32_t input = 0;   // report-ID byte included
  std::uint32_t output = 0;  // report-ID byte included
};

class CompositeBus final : public hid::Bus {
 public:
  explicit CompositeBus(std::unique_ptr<hid::Bus> inner,
                        std::optional<ReportLengths> lengths = std::nullopt)
      : inner_(std::move(inner)), lengths_(lengths) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    std::vector<hid::InterfaceInfo> all = inner_->Enumerate();
    if (all.empty()) return all;
    hid::InterfaceInfo keys = all.front();
    keys.path += "/consumer-control";
    all.insert(all.begin(), keys);
    return all;
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    if (info.path.ends_with("/consumer-control")) {
      ++consumerOpens;
      return OpenServed(std::make_shared<Keys>(), 2, 0);
    }
    auto opened = inner_->Open(info);
    if (opened && lengths_) {
      opened->inputLength = lengths_->input;
      opened->outputLength = lengths_->output;
    }
    return opened;
  }
  bool PrivateToProcess() const override { return inner_->PrivateToProcess(); }

  int consumerOpens = 0;

 private:
  // Takes whatever it is sent and answers nothing: volume keys only speak when pressed.
  struct Keys final : hid::ReportServer {
    hid::ServedAnswer Serve(std::span<const std::uint8_t>) override { return {}; }
  };

  std::unique_ptr<hid::Bus> inner_;
  std::optional<ReportLengths> lengths_;
};

}  // namespace quarnel::testing
