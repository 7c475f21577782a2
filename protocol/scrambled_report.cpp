#include "protocol/scrambled_report.h"

#include "device/device_link.h"
#include "platform/hid.h"
#include "protocol/time_limits.h"

namespace {

constexpr std::uint8_t kReportId = 0x03;
constexpr std::uint8_t kHeader1 = 0xB5;
constexpr std::uint8_t kHeader2 = 0x38;  // the size of the data field
constexpr std::size_t kChecksumOffset = 7;

}  // namespace

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

bool SendScrambledReport(std::uint8_t* report, const std::uint8_t* inverse)
{
    report[0] = kReportId;
    report[1] = kHeader1;
    report[2] = kHeader2;
    report[kChecksumOffset] = 0x00;

    std::uint8_t checksum = 0;
    for (std::size_t i = 0; i < kScrambledReportSize; ++i) {
        checksum = static_cast<std::uint8_t>(checksum + report[i]);
    }
    report[kChecksumOffset] = checksum;

    // The report id stays as it is; everything after it goes out substituted.
    for (std::size_t i = 1; i < kScrambledReportSize; ++i) report[i] = inverse[report[i]];

    if (deviceLink == nullptr) return false;
    return platform::HidSetOutputReport(deviceLink->transferHandle, report, kScrambledReportSize,
                                        kReportWriteLimitMs);
}
