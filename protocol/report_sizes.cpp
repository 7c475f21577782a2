#include "protocol/report_sizes.h"

#include <cstdio>

#include "device/device_link.h"
#include "platform/hid.h"
#include "platform/system.h"

bool TransferHandleCarries(std::size_t outputLength, std::size_t inputLength)
{
    if (deviceLink == nullptr) return false;
    platform::HidCaps caps;
    if (!platform::HidGetCaps(deviceLink->transferHandle, caps)) return true;
    if (caps.OutputReportByteLength >= outputLength && caps.InputReportByteLength >= inputLength) return true;
    char line[160];
    std::snprintf(line, sizeof line,
                  "Report sizes: the controller declares output %u and input %u bytes; the download "
                  "needs output %u and input %u bytes",
                  static_cast<unsigned>(caps.OutputReportByteLength),
                  static_cast<unsigned>(caps.InputReportByteLength), static_cast<unsigned>(outputLength),
                  static_cast<unsigned>(inputLength));
    platform::DebugOutput(line);
    return false;
}
