// The report-descriptor parser of the Linux backend over arbitrary descriptor bytes: it must
// never read outside them, and what it returns must be consistent with its verdict.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/hid_report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<codec::HidTopLevelCollection> collections;
    std::string error;
    const bool parsed = codec::ParseReportDescriptor(data, size, collections, error);
    if (parsed != error.empty()) std::abort();
    if (parsed && collections.empty()) std::abort();
    for (const codec::HidTopLevelCollection& collection : collections) {
        // A collection with report ids counts the id byte in each direction it uses.
        if (!collection.inputReportIds.empty() && collection.inputReportByteLength < 1) std::abort();
        if (!collection.outputReportIds.empty() && collection.outputReportByteLength < 1) std::abort();
        if (collection.inputReportIds.size() > 255 || collection.outputReportIds.size() > 255) std::abort();
    }
    return 0;
}
