// The pace of a full-speed USB bus, for a device that completes its transfers through USB/IP,
// which has no pace of its own. Time runs in frames of 1 ms; a transaction takes place in a frame
// and its transfer is reported complete at the frame's end, as a host controller reports it:
//
//   - an interrupt endpoint (bInterval 1) has at most one transaction per frame: a transfer
//     ready while its endpoint has had its transaction in the current frame waits for the next;
//   - a control transfer, all its stages, takes place within one frame; endpoint 0 carries one
//     control transfer per frame;
//   - something ready at the very start of a frame (a reply that the device prepared at the end
//     of the previous one) takes place in that frame.
//
// So a host that writes a report as soon as the previous one completed writes one per frame, and
// one that waits for each reply on the IN endpoint (protocol 3) completes a report and its reply
// in two frames: the floor of 1 ms per transfer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

namespace rig {

class FramePace {
public:
    using Clock = std::chrono::steady_clock;

    explicit FramePace(Clock::time_point start) : start_(start) {}

    // When a transfer on endpoint (its address, with the IN bit; 0 or 0x80 for endpoint 0) that is
    // ready at ready completes: the end of the first frame from ready's on in which the endpoint is
    // free. That frame is then the endpoint's.
    Clock::time_point Complete(std::uint8_t endpoint, Clock::time_point ready);

    static constexpr std::chrono::microseconds kFrame{1000};

private:
    static constexpr std::size_t kSlots = 32;  // 16 endpoint numbers, each direction
    const Clock::time_point start_;
    std::array<std::int64_t, kSlots> lastFrame_ = MakeUnused();

    static std::array<std::int64_t, kSlots> MakeUnused()
    {
        std::array<std::int64_t, kSlots> frames{};
        frames.fill(-1);
        return frames;
    }
};

}  // namespace rig
