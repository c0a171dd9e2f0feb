// The HID interfaces of a Windows machine (placeholder until the backend lands).
#include "hid/DeviceBus.h"

namespace quarnel::hid {

namespace {
class SetupApiBus final : public Bus {
 public:
  std::vector<InterfaceInfo> Enumerate() override { return {}; }
  bool Open(const InterfaceInfo&, OpenedInterface&, std::string& reason) override {
    reason = "not available";
    return false;
  }
};
}  // namespace

std::unique_ptr<Bus> MakeSystemBus() {
  return std::make_unique<SetupApiBus>();
}

}  // namespace quarnel::hid
