// The settings program's device enumeration: one Direct3D component, enumerated once.
#include "device_list.h"

#include "display/component.h"
#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "display/klvenumwin.h"

struct TDeviceList::TComponents {
  TComponentOwner form;
  TKalvorRM rm{&form};
};

TDeviceList::TDeviceList() : components_(std::make_unique<TComponents>()) { components_->rm.DDEnum(); }

TDeviceList::~TDeviceList() = default;

void TDeviceList::FillDrivers(TKlvEnumWindow& window) const {
  if (KalvorGUnit.DriverList)
    for (const TDDDriverEntry& driver : *KalvorGUnit.DriverList) window.ListBox1.Items.push_back(driver.Name);
}

std::string DeviceChoiceText(const TDeviceChoice& choice) {
  switch (choice.Mode) {
    case kPolicyHEL: return "PRIORITY_HEL";
    case kPolicyHAL: return "PRIORITY_HAL";
    case kPolicyAutoSelect: return "AutoSelect";
    case kPolicyCustom: break;
    default: return "unknown policy " + std::to_string(choice.Mode);
  }
  const auto& drivers = KalvorGUnit.DriverList;
  std::string driver = "driver " + std::to_string(choice.Driver);
  std::string device = "device " + std::to_string(choice.Device);
  if (drivers && choice.Driver >= 0 && choice.Driver < static_cast<int>(drivers->size())) {
    const TDDDriverEntry& entry = (*drivers)[choice.Driver];
    driver += " (" + entry.Name + ")";
    if (choice.Device >= 0 && choice.Device < static_cast<int>(entry.Devices.size()))
      device += " (" + entry.Devices[choice.Device].Description + ")";
  }
  return "Custom: " + driver + ", " + device;
}

bool HardwareDeviceChosen() { return KalvorRMUnit.HardwareDevice; }
