#include "protocol/transfers.h"

// Protocol 1 arrives with its own change; until then every download of this mode fails.
std::int32_t RunProtocol1Transfer(const std::uint8_t*, std::uint32_t, const std::uint8_t*,
                                  platform::WindowHandle)
{
    return 0;
}
