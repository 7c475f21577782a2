// Opaque values that cross the platform seam.
#pragma once

#include <cstdint>

namespace platform {

// A window of the dialog (the dialog itself or one of its controls).
using WindowHandle = void*;

// A device handle. kInvalidHandle stands for the platform's invalid-handle value.
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidHandle = -1;

}  // namespace platform
