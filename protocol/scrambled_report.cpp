#include "protocol/scrambled_report.h"

#include "device/device_link.h"
#include "platform/hid.h"
#include "protocol/time_limits.h"

void InvertScrambleTable(const std::uint8_t* table, std::uint8_t* inverse)
{
    for (int value = 0; value < 256; ++value) {
        for (int position = 0; position < 256; ++position) {
            if (table[position] == value) {
                inverse[value] = static_cast<std::uint8_t>(position);
                break;
            }
        }
    }
}

platform::Outcome SendScrambledReport(std::uint8_t* report, const std::uint8_t* inverse)
{
    protocol1::Seal(report);
    protocol1::SubstituteAfterReportId(report, kScrambledReportSize, inverse);

    if (deviceLink == nullptr) return platform::Failure(platform::Status::Failed, "HidD_SetOutputReport", "no device link");
    return platform::HidSetOutputReport(deviceLink->transferHandle, report, kScrambledReportSize,
                                        kReportWriteLimitMs);
}
