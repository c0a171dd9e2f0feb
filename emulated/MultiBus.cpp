#include "emulated/MultiBus.h"

namespace quarnel::emulated {

std::vector<hid::InterfaceInfo> MultiBus::Enumerate() {
  std::vector<hid::InterfaceInfo> all;
  for (const auto& bus : buses_) {
    for (auto& info : bus->Enumerate()) all.push_back(std::move(info));
  }
  return all;
}

Result<hid::OpenedInterface, hid::LinkFailure> MultiBus::Open(const hid::InterfaceInfo& info) {
  for (const auto& bus : buses_) {
    for (const auto& listed : bus->Enumerate()) {
      if (listed.path == info.path) return bus->Open(info);
    }
  }
  return Fail(hid::LinkFailure{hid::FailureKind::Gone, info.path, info.path + ": device is gone"});
}

bool MultiBus::PrivateToProcess() const {
  for (const auto& bus : buses_) {
    if (!bus->PrivateToProcess()) return false;
  }
  return true;
}

}  // namespace quarnel::emulated
