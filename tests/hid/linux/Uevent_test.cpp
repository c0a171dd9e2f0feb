#include "hid/linux/Uevent.h"

#include <gtest/gtest.h>

namespace quarnel::hid {
namespace {

// The IDs' malformed forms are covered through the sysfs tree in HidrawBus_test; here the
// exact values of the fields a unit is told apart by.
TEST(Uevent, TakesTheFirstLineOfEachKeyAsWritten) {
  struct Case {
    const char* text;
    std::uint16_t vendor;  // 0: no IDs
    std::uint16_t product;
    const char* phys;
    const char* uniq;
  };
  const Case cases[] = {
      {"DRIVER=hid-generic\nHID_ID=0003:00001234:0000ABCD\nHID_NAME=Unit\n"
       "HID_PHYS=usb-0000:00:14.0-2/input0\nHID_UNIQ=SN 0042\nMODALIAS=hid:b0003\n",
       0x1234, 0xABCD, "usb-0000:00:14.0-2/input0", "SN 0042"},
      {"HID_UNIQ=\nHID_PHYS=a=b\nHID_PHYS=second\nHID_ID=3:1:2", 1, 2, "a=b", ""},
      {"HID_ID=0003:00001234\nHID_ID=0003:00001234:00000001\nHID_PHYS=p", 0, 0, "p", ""},
      {" HID_PHYS=indented\nhid_uniq=lower\nHID_UNIQ", 0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const HidUevent u = ParseHidUevent(c.text);
    ASSERT_EQ(u.ids.has_value(), c.vendor != 0);
    if (u.ids) {
      EXPECT_EQ(u.ids->vendorId, c.vendor);
      EXPECT_EQ(u.ids->productId, c.product);
    }
    EXPECT_EQ(u.phys, c.phys);
    EXPECT_EQ(u.uniq, c.uniq);
  }
}

}  // namespace
}  // namespace quarnel::hid
