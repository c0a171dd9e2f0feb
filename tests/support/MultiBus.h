// Several buses seen as one, for tests that attach more than one unit: every interface of
// every bus, in their order, each opened by the bus that listed it. A bus given a path lists
// its interface under that path, so that tests can tell several emulated units apart.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::testing {

class MultiBus final : public hid::Bus {
 public:
  struct Member {
    std::unique_ptr<hid::Bus> bus;
    std::string path;  // empty: the interfaces keep the paths their bus gives them
  };
  explicit MultiBus(std::vector<Member> members) : members_(std::move(members)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    std::vector<hid::InterfaceInfo> all;
    for (const Member& m : members_) {
      for (hid::InterfaceInfo& info : m.bus->Enumerate()) {
        if (!m.path.empty()) info.path = m.path;
        all.push_back(std::move(info));
      }
    }
    return all;
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    for (const Member& m : members_) {
      for (const hid::InterfaceInfo& listed : m.bus->Enumerate()) {
        if ((m.path.empty() ? listed.path : m.path) == info.path) return m.bus->Open(listed);
      }
    }
    return Fail(
        hid::LinkFailure{hid::FailureKind::Gone, info.path, info.path + ": device is gone"});
  }
  // Private when every bus in it is.
  bool PrivateToProcess() const override {
    for (const Member& m : members_) {
      if (!m.bus->PrivateToProcess()) return false;
    }
    return true;
  }

 private:
  std::vector<Member> members_;
};

}  // namespace quarnel::testing
