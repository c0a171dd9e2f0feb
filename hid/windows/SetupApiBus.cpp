// The HID interfaces of a Windows machine, found through SetupAPI and opened with the HID
// class driver's calls.
// windows.h comes first: the other system headers build on it.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

// The HID headers declare C functions without saying so to C++; hidsdi.h brings hidpi.h.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <vector>

#include "base/windows/WinError.h"
#include "hid/windows/SetupApiBus.h"
#include "hid/windows/WinChannel.h"

namespace quarnel::hid {

namespace {

using win::UniqueHandle;

constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

class PreparsedData {
 public:
  PreparsedData() = default;
  ~PreparsedData() {
    if (data_ != nullptr) HidD_FreePreparsedData(data_);
  }
  PreparsedData(const PreparsedData&) = delete;
  PreparsedData& operator=(const PreparsedData&) = delete;

  PHIDP_PREPARSED_DATA* out() { return &data_; }
  PHIDP_PREPARSED_DATA get() const { return data_; }

 private:
  PHIDP_PREPARSED_DATA data_ = nullptr;
};

// The path of one device interface, or nothing when SetupAPI will not tell it; `device`
// receives the device instance it belongs to (the HID collection).
std::optional<std::string> InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data,
                                         SP_DEVINFO_DATA& device) {
  using Detail = SP_DEVICE_INTERFACE_DETAIL_DATA_A;
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
  if (needed <= offsetof(Detail, DevicePath)) return std::nullopt;
  // DWORD elements keep the record aligned as SetupAPI expects.
  std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
  auto* detail = reinterpret_cast<Detail*>(storage.data());
  // The size of the fixed part, which differs between 32-bit and 64-bit programs.
  detail->cbSize = sizeof(Detail);
  device = SP_DEVINFO_DATA{};
  device.cbSize = sizeof device;
  if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, &device))
    return std::nullopt;
  const char* path = reinterpret_cast<const char*>(storage.data()) + offsetof(Detail, DevicePath);
  const std::size_t room = needed - offsetof(Detail, DevicePath);
  std::size_t length = 0;
  while (length < room && path[length] != '\0') ++length;
  return std::string(path, length);
}

UniqueHandle OpenPath(const std::string& path, DWORD access, DWORD flags) {
  return UniqueHandle(
      CreateFileA(path.c_str(), access, kShare, nullptr, OPEN_EXISTING, flags, nullptr));
}

// The device instance IDs above `instance`, nearest first, as far as a USB device lies.
std::vector<std::string> ParentIds(DEVINST instance) {
  std::vector<std::string> ids;
  for (int level = 0; level < 3; ++level) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) break;
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDA(parent, id, sizeof id, 0) != CR_SUCCESS) break;
    ids.emplace_back(id);
    instance = parent;
  }
  return ids;
}

std::vector<ListedInterface> ListSystemInterfaces() {
  std::vector<ListedInterface> found;
  GUID guid;
  HidD_GetHidGuid(&guid);
  const DeviceInfoSet set(
      SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) return found;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, index, &data)) break;
    // An interface that cannot be queried is passed over; the search goes on.
    SP_DEVINFO_DATA device{};
    const auto path = InterfacePath(set.get(), data, device);
    if (!path) continue;
    const UniqueHandle query = OpenPath(*path, 0, 0);
    if (!query.valid()) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(query.get(), &attributes)) continue;
    found.push_back({*path, attributes.VendorID, attributes.ProductID, ParentIds(device.DevInst)});
  }
  return found;
}

Result<OpenedInterface, LinkFailure> OpenSystemInterface(const InterfaceInfo& info) {
  const auto fail = [&](FailureKind kind, const std::string& detail) {
    return Fail(LinkFailure{kind, info.path, info.path + ": " + detail});
  };
  // The kind of failure the last Win32 error means, with its words.
  const auto failLast = [&](const char* what) {
    const DWORD code = GetLastError();
    return fail(win::FailureKindOf(code), std::string(what) + " failed: " + win::ErrorText(code));
  };
  win::InterfaceHandles handles;
  handles.query = OpenPath(info.path, 0, 0);
  if (!handles.query.valid()) return failLast("opening the interface");
  handles.write = OpenPath(info.path, GENERIC_WRITE, FILE_FLAG_OVERLAPPED);
  if (!handles.write.valid()) return failLast("opening the interface for writing");
  handles.read = OpenPath(info.path, GENERIC_READ, FILE_FLAG_OVERLAPPED);
  if (!handles.read.valid()) return failLast("opening the interface for reading");
  PreparsedData preparsed;
  if (!HidD_GetPreparsedData(handles.query.get(), preparsed.out()))
    return failLast("reading the report descriptor");
  HIDP_CAPS caps{};
  const NTSTATUS status = HidP_GetCaps(preparsed.get(), &caps);
  if (status != HIDP_STATUS_SUCCESS) {
    return fail(FailureKind::UnsupportedReports,
                "the report lengths cannot be read (status " +
                    std::to_string(static_cast<unsigned long>(status)) + ")");
  }
  if (caps.InputReportByteLength > kReportSize || caps.OutputReportByteLength > kReportSize) {
    return fail(FailureKind::UnsupportedReports,
                "reports of " + std::to_string(caps.InputReportByteLength) + " bytes in and " +
                    std::to_string(caps.OutputReportByteLength) +
                    " bytes out do not fit 64-byte reports");
  }
  auto channel = win::MakeWinChannel(std::move(handles), info.path);
  if (!channel) return Fail(std::move(channel.error()));
  OpenedInterface out;
  out.channel = std::move(channel.value());
  out.inputLength = caps.InputReportByteLength;
  out.outputLength = caps.OutputReportByteLength;
  return out;
}

class SetupApiBus final : public Bus {
 public:
  explicit SetupApiBus(SetupApiConfig config) : config_(std::move(config)) {
    if (!config_.list) config_.list = ListSystemInterfaces;
    if (!config_.open) config_.open = OpenSystemInterface;
  }

  std::vector<InterfaceInfo> Enumerate() override {
    std::vector<InterfaceInfo> found;
    for (const ListedInterface& listed : config_.list())
      found.push_back({listed.path, UnitLocation(listed), listed.vendorId, listed.productId});
    return found;
  }

  Result<OpenedInterface, LinkFailure> Open(const InterfaceInfo& info) override {
    return config_.open(info);
  }

 private:
  SetupApiConfig config_;
};

}  // namespace

std::string UnitLocation(const ListedInterface& listed) {
  const auto interfaceOfComposite = [](std::string id) {
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return id.find("&MI_") != std::string::npos;
  };
  for (const std::string& id : listed.parents) {
    if (!interfaceOfComposite(id)) return id;
  }
  return listed.path;
}

std::unique_ptr<Bus> MakeSetupApiBus(SetupApiConfig config) {
  return std::make_unique<SetupApiBus>(std::move(config));
}

std::unique_ptr<Bus> MakeSystemBus() {
  return MakeSetupApiBus({});
}

}  // namespace quarnel::hid
