// Any bytes as a HID report descriptor: the parser either explains why it refuses them or
// gives lengths that the report buffers are then checked against.
#include "fuzz/FuzzInput.h"
#include "hid/Report.h"
#include "hid/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  using fuzz::Require;
  std::string error;
  const auto layout = hid::ParseReportDescriptor(std::span(data, size), error);
  if (!layout) {
    Require(!error.empty(), "a refused descriptor says why");
    return 0;
  }
  Require((layout->InputLength() == 0) == (layout->inputBits == 0) &&
              (layout->OutputLength() == 0) == (layout->outputBits == 0),
          "a report has a length exactly when it has bits");
  std::string reason;
  if (hid::FitsReportBuffers(*layout, kReportSize, reason)) {
    Require(reason.empty(), "no reason for a layout that fits");
    Require(!layout->usesReportIds && layout->InputLength() >= 2 &&
                layout->InputLength() <= kReportSize && layout->OutputLength() >= 2 &&
                layout->OutputLength() <= kReportSize,
            "a layout that fits has both reports within the buffer");
  } else {
    Require(!reason.empty(), "a layout that does not fit says why");
  }
  return 0;
}
