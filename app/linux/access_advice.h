// What the terminal program tells a user who may not open a controller's node: the real cause
// and what to do about it.
#pragma once

#include <string>

#include "platform/linux/hidraw.h"

// The cause, short (for --list): "the udev rules are not installed".
std::string AccessCause(platform::HidAccess access);

// The cause and what to do, for a notice.
std::string AccessAdvice(platform::HidAccess access, const std::string& node);
