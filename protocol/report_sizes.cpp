#include "protocol/report_sizes.h"

#include <cstdio>

#include "device/device_link.h"
#include "platform/hid.h"
#include "platform/system.h"

namespace {

bool Fits(const platform::HidCaps& caps, std::size_t outputLength, std::size_t inputBufferLength)
{
    if (caps.OutputReportByteLength != outputLength) return false;
    if (inputBufferLength == 0) return true;
    // One byte is the report id alone: no reply comes in it.
    return caps.InputReportByteLength > 1 && caps.InputReportByteLength <= inputBufferLength;
}

}  // namespace

bool TransferHandleCarries(std::size_t outputLength, std::size_t inputBufferLength)
{
    if (deviceLink == nullptr) return false;
    platform::HidCaps caps;
    if (!platform::HidGetCaps(deviceLink->transferHandle, caps)) return true;
    if (Fits(caps, outputLength, inputBufferLength)) return true;

    char line[200];
    int used = std::snprintf(line, sizeof line,
                             "Report sizes: the controller declares output %u and input %u bytes; the download "
                             "sends output reports of %u bytes",
                             static_cast<unsigned>(caps.OutputReportByteLength),
                             static_cast<unsigned>(caps.InputReportByteLength),
                             static_cast<unsigned>(outputLength));
    if (inputBufferLength > 0 && used > 0 && static_cast<std::size_t>(used) < sizeof line) {
        std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used),
                      " and reads input reports of at most %u bytes", static_cast<unsigned>(inputBufferLength));
    }
    platform::DebugOutput(line);
    return false;
}
