// The units behind the interfaces a bus lists: interfaces with the same location are one
// unit, and of each unit one interface is the one the connection search would use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Products.h"
#include "hid/DeviceBus.h"

namespace quarnel::cli {

// The product entry of an interface that is one of our units; null for any other.
const Product* OurProduct(const hid::InterfaceInfo& info);

// One interface of the vendor, as far as opening it tells.
struct SurveyedInterface {
  hid::InterfaceInfo info;
  const Product* product = nullptr;  // null: not a unit this program updates
  hid::LinkFailure failure;          // why it did not open; kind None when it did
  std::uint32_t inputLength = 0;     // when it opened; report-ID byte included
  std::uint32_t outputLength = 0;
  bool fits = false;  // ours, opened, and its reports carry its framing's
  bool used = false;  // the interface of its unit the connection search would open
};

// Every interface of the vendor, each opened once and closed again at once, in the bus's
// order, with the interface each unit would be used through marked.
std::vector<SurveyedInterface> Survey(hid::Bus& bus);

// How many units of ours the interfaces belong to: interfaces with one location count once.
std::size_t CountUnits(const std::vector<hid::InterfaceInfo>& interfaces);

}  // namespace quarnel::cli
