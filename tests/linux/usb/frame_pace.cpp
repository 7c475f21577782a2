#include "tests/linux/usb/frame_pace.h"

#include <algorithm>

namespace rig {
namespace {

constexpr std::uint8_t kInBit = 0x80;
constexpr std::uint8_t kNumberBits = 0x0F;

}  // namespace

FramePace::Clock::time_point FramePace::Complete(std::uint8_t endpoint, Clock::time_point ready)
{
    const std::uint8_t number = endpoint & kNumberBits;
    // Endpoint 0 is one pipe for both directions.
    const std::size_t slot = number == 0 ? 0 : number + ((endpoint & kInBit) != 0 ? kSlots / 2 : 0);
    const auto sinceStart = std::chrono::duration_cast<std::chrono::microseconds>(ready - start_);
    const std::int64_t readyFrame = std::max<std::int64_t>(0, sinceStart / kFrame);
    const std::int64_t frame = std::max(readyFrame, lastFrame_[slot] + 1);
    lastFrame_[slot] = frame;
    return start_ + (frame + 1) * kFrame;
}

}  // namespace rig
