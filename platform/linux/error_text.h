// The system's text for an errno value, which every file of the Linux backend puts in the reasons
// it hands back.
#pragma once

#include <string>

namespace platform {

std::string ErrorText(int error);

}  // namespace platform
