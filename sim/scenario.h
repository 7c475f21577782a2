// Whole downloads in the simulated world, driven the way the user and the system drive the
// dialog: a fresh world, a device plugged in, one of the two roads, and the outcome as the user
// sees it. Shared by the fault sweep, the soak and the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/hid_bus.h"
#include "sim/world.h"

namespace sim {

// How a download is started: the "Start" button (modes 2 and 3) or a device arrival.
enum class Road { Start, Arrival };

// A short fingerprint of one report's bytes (64-bit FNV-1a).
std::uint64_t Fingerprint(const std::uint8_t* bytes, std::size_t length);

// A device model that also keeps the fingerprint of every report it accepted, in order.
template <class Model>
class Recorded : public Model {
public:
    bool OnWrite(const std::uint8_t* report, std::size_t length) override
    {
        const bool accepted = Model::OnWrite(report, length);
        if (accepted) received.push_back(Fingerprint(report, length));
        return accepted;
    }
    bool OnSetOutputReport(const std::uint8_t* report, std::size_t length) override
    {
        const bool accepted = Model::OnSetOutputReport(report, length);
        if (accepted) received.push_back(Fingerprint(report, length));
        return accepted;
    }
    std::vector<std::uint64_t> received;  // read after the download has ended
};

// The update-mode device of mode 1, 2 or 3, recording what it accepts (null for another mode).
std::shared_ptr<models::HidDevice> MakeRecordedDevice(int mode);
// The fingerprints a device made by MakeRecordedDevice has recorded.
const std::vector<std::uint64_t>& ReceivedReports(const std::shared_ptr<models::HidDevice>& device);

struct WorldSettings {
    std::uint32_t timeScale = 1000;
    bool keepTrace = false;     // keep the trace's lines in memory
    bool fixTickCount = true;   // the tick count fixed at 0, else following the real clock
};

// A fresh world: empty HID bus and USB tree, new dialog view and trace, initial download state,
// the tick count as the settings say (fixed at 0, protocol 1 programs its chunks in ascending
// order), and the DeviceLink as the dialog creates it.
void BeginWorld(const WorldSettings& settings);

struct WorldEnd {
    bool threadsEnded = false;  // every worker had ended
    int openHandles = 0;        // handles still open after the dialog's teardown
    int claimsHeld = 0;         // download claims still held after it
    bool bufferReleased = false;
};
// The dialog's teardown (WM_DESTROY) after every worker has ended, then an empty bus.
WorldEnd EndWorld(std::uint32_t waitMs = 30000);

// Starts a download of mode on the plugged-in device through road. The arrival road announces
// the device's interfaces one by one until the watcher has started a worker (mode 1 starts from
// the second arrival). Returns false when the road started nothing.
bool LaunchDownload(Road road, int mode, const std::shared_ptr<models::HidDevice>& device);

struct Outcome {
    bool ended = false;                  // the worker ended within the time allowed
    double seconds = 0;                  // real time from the launch to the end
    std::vector<MessageBoxRecord> boxes; // every box shown, in order
    std::vector<platform::DownloadOutcome> outcomes;  // every outcome handed to the dialog, in order
    bool controlsDisabledDuringTransfer = false;  // seen at the first progress message
    bool controlsEnabledAtResult = false;         // seen while the result box was up
    bool controlsEnabled = false;
    std::int32_t busy = -1;
    std::int32_t updateModeFlag = -1;
    std::int32_t barPos = -1;
    // The text of the last box ("" when none).
    std::string ResultText() const { return boxes.empty() ? std::string() : boxes.back().text; }
    // Exactly one download ended, and it succeeded.
    bool Succeeded() const
    {
        return outcomes.size() == 1 && outcomes.front() == platform::DownloadOutcome::Succeeded;
    }
};

// Launches a download and waits up to waitMs of real time for its worker to end.
Outcome RunDownload(Road road, int mode, const std::shared_ptr<models::HidDevice>& device,
                    std::uint32_t waitMs = 30000);

// The number of reports and replies a device has taken part in (its link operations).
std::uint32_t DeviceOperations(const models::HidDevice& device);

}  // namespace sim
