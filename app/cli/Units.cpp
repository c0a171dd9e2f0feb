#include "app/cli/Units.h"

#include <algorithm>
#include <set>

namespace quarnel::cli {

namespace {

static_assert(LeastOutputLength(kProducts[0]) == 17 && LeastInputLength(kProducts[0]) == 11);
static_assert(LeastOutputLength(kProducts[3]) == 23 && LeastInputLength(kProducts[3]) == 19);

SurveyedInterface Look(hid::Bus& bus, const hid::InterfaceInfo& info) {
  SurveyedInterface s;
  s.info = info;
  s.product = OurProduct(info);
  auto opened = bus.Open(info);
  if (!opened) {
    s.failure = std::move(opened.error());
    if (!s.failure.failed()) s.failure.kind = hid::FailureKind::IoError;
    return s;
  }
  s.inputLength = opened->inputLength;
  s.outputLength = opened->outputLength;
  s.fits = s.product != nullptr && s.inputLength >= LeastInputLength(*s.product) &&
           s.outputLength >= LeastOutputLength(*s.product) && s.inputLength <= kReportSize &&
           s.outputLength <= kReportSize;
  return s;  // `opened` closes here: the interface was only asked
}

// The first interface of the unit at `location` that fits, in the order the connection
// search tries the products, and in the bus's order among those of one product.
SurveyedInterface* UsedOf(std::vector<SurveyedInterface>& all, const std::string& location) {
  for (const Product& p : kProducts) {
    for (SurveyedInterface& s : all) {
      if (s.info.location == location && s.info.productId == p.productId && s.fits) return &s;
    }
  }
  return nullptr;
}

}  // namespace

const Product* OurProduct(const hid::InterfaceInfo& info) {
  return info.vendorId == kVendorId ? FindProduct(info.productId) : nullptr;
}

std::vector<SurveyedInterface> Survey(hid::Bus& bus) {
  std::vector<SurveyedInterface> all;
  for (const hid::InterfaceInfo& info : bus.Enumerate()) {
    if (info.vendorId == kVendorId) all.push_back(Look(bus, info));
  }
  std::set<std::string> seen;
  for (const SurveyedInterface& s : all) {
    if (!seen.insert(s.info.location).second) continue;
    if (SurveyedInterface* used = UsedOf(all, s.info.location)) used->used = true;
  }
  return all;
}

std::size_t CountUnits(const std::vector<hid::InterfaceInfo>& interfaces) {
  std::set<std::string> units;
  for (const hid::InterfaceInfo& info : interfaces) {
    if (OurProduct(info) != nullptr) units.insert(info.location);
  }
  return units.size();
}

}  // namespace quarnel::cli
