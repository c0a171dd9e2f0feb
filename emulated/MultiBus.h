// Several buses seen as one, for tests that attach more than one unit: every interface of
// every bus, in their order, each opened by the bus that listed it.
#pragma once

#include <memory>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::emulated {

class MultiBus final : public hid::Bus {
 public:
  explicit MultiBus(std::vector<std::unique_ptr<hid::Bus>> buses) : buses_(std::move(buses)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override;
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override;
  // Private when every bus in it is.
  bool PrivateToProcess() const override;

 private:
  std::vector<std::unique_ptr<hid::Bus>> buses_;
};

}  // namespace quarnel::emulated
