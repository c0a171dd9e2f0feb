// An interface whose far end is served in the test over the platform's loopback, with the
// report lengths a test bus says it has.
#pragma once

#include <memory>

#include "hid/Loopback.h"

namespace quarnel::testing {

inline Result<hid::OpenedInterface, hid::LinkFailure> OpenServed(
    std::shared_ptr<hid::ReportServer> server, std::uint32_t inputLength = 64,
    std::uint32_t outputLength = 64) {
  return hid::OpenServedInterface(hid::OpenLoopback, std::move(server), inputLength, outputLength);
}

}  // namespace quarnel::testing
