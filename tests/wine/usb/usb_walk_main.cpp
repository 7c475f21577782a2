// Runs the USB topology walk once, as Start does for a supported controller in its normal mode,
// and prints the flag it left, how long it took (and the longest the walk may take) and what its
// last failure met:
//
//   topology match=0|1
//   walk ms=N longest=M out-of-time=0|1
//   last failure: TEXT
//
// What it walks is chosen at link time (walk_world.h). Exit status 0 after a walk, 1 when what
// the world keeps of it could not be written, 2 on bad usage.
#include <chrono>
#include <cstdio>

#include "state/download_state.h"
#include "device/usb_topology.h"
#include "platform/usb.h"
#include "tests/wine/usb/walk_world.h"

int main(int argc, char** argv)
{
    if (!BeginWalkWorld(argc, argv)) return 2;
    downloadState.TopologyMatchFlag = 0;
    const auto start = std::chrono::steady_clock::now();
    UsbTopologyWalk();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const bool kept = EndWalkWorld();
    std::printf("topology match=%d\n", static_cast<int>(downloadState.TopologyMatchFlag.load()));
    std::printf("walk ms=%lld longest=%lu out-of-time=%d\n", static_cast<long long>(took.count()),
                static_cast<unsigned long>(kUsbWalkLongestMs), UsbWalkRanOutOfTime() ? 1 : 0);
    std::printf("last failure: %s\n", UsbWalkLastFailure().c_str());
    return kept ? 0 : 1;
}
