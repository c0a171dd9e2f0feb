#include "hid/DeviceBus.h"

namespace quarnel::hid {

namespace {
class HidrawBus final : public Bus {
 public:
  std::vector<InterfaceInfo> Enumerate() override { return {}; }
  bool Open(const InterfaceInfo&, OpenedInterface&, std::string& reason) override {
    reason = "not available";
    return false;
  }
};
}  // namespace

std::unique_ptr<Bus> MakeSystemBus() {
  return std::make_unique<HidrawBus>();
}

}  // namespace quarnel::hid
