// The device-interface broadcast record of an arrival, on any bytes. The record's first 32-bit
// field is the size the system declares; it never exceeds the buffer the system delivers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/dialog_logic.h"
#include "state/download_state.h"
#include "device/arrival_watcher.h"
#include "sim/trace.h"
#include "sim/world.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool prepared = [] {
        ResetDownloadState();
        DialogCreateLink();
        return true;
    }();
    (void)prepared;

    std::vector<std::uint8_t> record(data, data + size);
    if (record.size() < 4) record.resize(4, 0);
    std::uint32_t declared = 0;
    std::memcpy(&declared, record.data(), sizeof declared);
    declared %= static_cast<std::uint32_t>(record.size() + 1);
    std::memcpy(record.data(), &declared, sizeof declared);
    record.shrink_to_fit();

    // Keep what the world remembers from growing across runs.
    sim::ResetDialogView();
    sim::TraceOpen();
    downloadState.arrivalCount = static_cast<std::int32_t>(size % 3);
    downloadState.busy = 0;  // a decision to start is not acted on here
    HandleDeviceArrival(kDbtDeviceArrival, record.data());
    return 0;
}
