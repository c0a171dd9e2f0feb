// One unit with two HID interfaces, as most USB audio units have: a consumer-control interface
// (the volume keys: one 1-byte input report, no output report) listed first, then the unit's
// own interface from `inner`, both with the same IDs and the same location.
#pragma once

#include <memory>
#include <utility>

#include "hid/DeviceBus.h"

namespace quarnel::testing {

class CompositeBus final : public hid::Bus {
 public:
  explicit CompositeBus(std::unique_ptr<hid::Bus> inner) : inner_(std::move(inner)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    std::vector<hid::InterfaceInfo> all = inner_->Enumerate();
    if (all.empty()) return all;
    hid::InterfaceInfo keys = all.front();
    keys.path += "/consumer-control";
    all.insert(all.begin(), keys);
    return all;
  }
  bool Open(const hid::InterfaceInfo& info, hid::OpenedInterface& out,
            hid::LinkFailure& reason) override {
    if (!info.path.ends_with("/consumer-control")) return inner_->Open(info, out, reason);
    ++consumerOpens;
    out.channel = std::make_unique<Keys>();
    out.inputLength = 2;
    out.outputLength = 0;
    return true;
  }
  bool PrivateToProcess() const override { return inner_->PrivateToProcess(); }

  int consumerOpens = 0;

 private:
  // Takes nothing and answers nothing: volume keys only speak when pressed.
  struct Keys final : hid::Channel {
    hid::IoResult Read(Report&, std::uint32_t, std::uint32_t) override {
      return {hid::IoStatus::TimedOut, 0, {}};
    }
    hid::IoResult Write(const Report&, std::uint32_t, std::uint32_t) override {
      return {hid::IoStatus::Failed, 0, {hid::FailureKind::IoError, "keys", "no output report"}};
    }
  };

  std::unique_ptr<hid::Bus> inner_;
};

}  // namespace quarnel::testing
