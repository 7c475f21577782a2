// The device's side of a USB/IP connection with the kernel's virtual host controller: the
// host's submissions go to the controller (usb_controller.h) one at a time, in the order they
// came, and their completions go back at the pace of a full-speed bus (frame_pace.h).
//
//   - A control transfer or an interrupt OUT transfer completes at the end of its frame with what
//     the device did: done (0), or refused (-EPIPE, a stall).
//   - An interrupt IN submission (usbhid keeps one waiting on the IN endpoint while its node is
//     open) waits until the device has a report for it: a reply to an interrupt OUT transfer
//     is there from the end of that transfer's frame, and goes up in a later frame.
//   - A transfer that the model holds (a stalled report) or for which the device has nothing
//     stays pending until the host unlinks it; an unlink answers -ECONNRESET while the
//     submission is pending, 0 once it has completed (or was never seen).
//
// Two threads: Receive reads the host's commands, Serve runs the submissions and completes them;
// a submission held by the model holds Serve, not Receive, so unlinks are always answered.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/linux/usb/frame_pace.h"
#include "tests/linux/usb/usb_controller.h"
#include "tests/linux/usb/usbip_wire.h"

namespace rig {

class UsbipSession {
public:
    UsbipSession(int socket, UsbController& controller);

    // Reads the host's commands until the connection ends or a command cannot be served; the
    // reason in error.
    void Receive(std::string& error);
    // Runs the submissions until the connection ends. When a fault unplugs the model, calls
    // unplug once, after the completion of the transfer that the device took last.
    void Serve(const std::function<void()>& unplug);

private:
    using Bytes = std::vector<std::uint8_t>;
    using Clock = FramePace::Clock;

    struct Submission {
        std::uint32_t seqnum = 0;
        std::uint8_t endpoint = 0;  // address: number | 0x80 for IN
        std::uint32_t length = 0;
        std::array<std::uint8_t, 8> setup{};
        Bytes out;
        Clock::time_point arrived;
    };
    struct Reply {
        Bytes report;
        Clock::time_point from;  // the start of the frame in which it can go up
    };

    bool ReadSubmission(const usbip::Command& command, std::string& error);
    void Unlink(const usbip::Command& command);
    DeviceAnswer Execute(const Submission& submission);
    // Waits (unlocked) for the end of the frame at due and completes the submission unless it
    // was unlinked meanwhile; true when it was completed.
    bool CompleteAt(std::unique_lock<std::mutex>& lock, const Submission& submission, Clock::time_point due,
                    const DeviceAnswer& answer);
    void AnswerWaitingReads(std::unique_lock<std::mutex>& lock);
    bool Send(const usbip::Header& header, const Bytes& data);  // caller holds mutex_

    const int socket_;
    UsbController& controller_;
    FramePace pace_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Submission> queue_;        // not run yet
    std::deque<Submission> waitingReads_; // interrupt IN submissions without a report yet
    std::deque<Reply> replies_;           // reports for them
    std::set<std::uint32_t> live_;        // submitted, neither completed nor unlinked
    bool ended_ = false;
};

}  // namespace rig
