// The process-wide values that mark and steer a download.
//
// The worker thread clears busy and UpdateModeFlag while the user-interface thread reads them,
// so every value is an atomic 32-bit integer; the starter writes mode before it creates the
// worker, which reads it once at its start.
#pragma once

#include <atomic>
#include <cstdint>

struct DownloadState {
    std::atomic<std::int32_t> mode{1};               // DownloadMode of the download to start: 1, 2 or 3
    std::atomic<std::int32_t> busy{0};               // 1 while a download is under way
    // 1 from the start of a download until its transfer has ended, before its result box: the end
    // of the session is refused meanwhile. busy stays 1 until the worker's very end.
    std::atomic<std::int32_t> transferRunning{0};
    std::atomic<std::int32_t> arrivalCount{0};       // HID interface arrivals since the last start
    std::atomic<std::int32_t> UpdateModeFlag{0};     // a supported controller was seen in an update mode
    std::atomic<std::int32_t> TopologyMatchFlag{0};  // result of the last USB topology walk
    // 1 once the dialog has accepted a request to close (or the session is ending): the dialog is
    // on its way out, and no road may start a download that its teardown would cut off.
    std::atomic<std::int32_t> closing{0};
    // 1 from the moment the dialog has let the session end (WM_QUERYENDSESSION answered yes) until
    // Windows says that it goes on after all (WM_ENDSESSION with FALSE): the process may be ended at
    // any moment meanwhile.
    std::atomic<std::int32_t> sessionEnding{0};
    // 1 once Windows has asked the program to close (the Restart Manager) while a download ran: the
    // worker ends the dialog when the download has ended.
    std::atomic<std::int32_t> closeWhenDone{0};
    // 1 once the system has asked the running transfer to end (the machine is about to sleep or
    // shut down): the transfer ends at its next report boundary, as its protocol ends a transfer
    // cut short. Only a front end that hears such requests sets it (the Linux program).
    std::atomic<std::int32_t> stopAsked{0};
    // How the last transfer that ended for stopAsked left the device (kNotStopped otherwise).
    std::atomic<std::int32_t> stopped{0};
};

inline constexpr std::int32_t kNotStopped = 0;
inline constexpr std::int32_t kStoppedBeforeWriting = 1;  // the device had taken no report of it
inline constexpr std::int32_t kStoppedPartlyWritten = 2;  // the device had taken part of it

extern DownloadState downloadState;

// Whether no road may start a download now: one is under way, the dialog is closing, or the
// session may end at any moment.
bool DownloadsHeldOff();

// Puts every value back to its initial state (process start).
void ResetDownloadState();

// Asked by a transfer before each report: false when stopAsked is set, and then stopped tells
// whether the device had taken a report of this transfer (deviceTookAReport) or not.
bool TransferGoesOn(bool deviceTookAReport);
