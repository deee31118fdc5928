// The drivers and 3D devices the saver enumerates, for the device dialog of the settings program,
// and a one-line description of a stored device choice. Free of the platform's headers, so the
// GTK code can include it (GLib's TRUE and FALSE macros clash with the Windows stand-in's).
#pragma once

#include <memory>
#include <string>

#include "saver_settings.h"

class TKlvEnumWindow;

class TDeviceList {
 public:
  // Enumerates the drivers, with their devices, as the saver's start-up does.
  TDeviceList();
  ~TDeviceList();
  TDeviceList(const TDeviceList&) = delete;
  TDeviceList& operator=(const TDeviceList&) = delete;

  // Fills the dialog's first list with the driver names, as the saver does before showing it.
  void FillDrivers(TKlvEnumWindow& window) const;

 private:
  struct TComponents;
  std::unique_ptr<TComponents> components_;
};

// "PRIORITY_HEL", or "Custom: driver 0 (display), device 2 (...)" with the enumerated names.
std::string DeviceChoiceText(const TDeviceChoice& choice);

// HardwareDevice as the dialog's device list last set it.
bool HardwareDeviceChosen();
