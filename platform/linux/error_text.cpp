#include "platform/linux/error_text.h"

#include <cstring>

namespace platform {

std::string ErrorText(int error)
{
    char buffer[128];
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return text ? text : "error " + std::to_string(error);
}

}  // namespace platform
