// The emulated device's transport on Windows (placeholder until the backend lands).
#include "hid/emulated/EmulatedBus.h"

namespace quarnel::emulated {

std::unique_ptr<hid::Channel> OpenTransport(std::shared_ptr<Device>, std::string& reason) {
  reason = "emulated device: no transport on this platform yet";
  return nullptr;
}

}  // namespace quarnel::emulated
