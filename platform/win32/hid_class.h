// The HID device-interface class, for device-arrival registration and enumeration.
#pragma once

#include <windows.h>

namespace platform {

// The class GUID as the HID class driver reports it (HidD_GetHidGuid).
GUID HidInterfaceClassGuid();

}  // namespace platform
