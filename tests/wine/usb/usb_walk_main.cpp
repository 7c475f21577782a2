// Runs the USB topology walk once, as Start does for a supported controller in its normal mode,
// and prints the flag it left:
//
//   topology match=0|1
//
// What it walks is chosen at link time (walk_world.h). Exit status 0 after a walk, 1 when what
// the world keeps of it could not be written, 2 on bad usage.
#include <cstdio>

#include "app/download_state.h"
#include "device/usb_topology.h"
#include "tests/wine/usb/walk_world.h"

int main(int argc, char** argv)
{
    if (!BeginWalkWorld(argc, argv)) return 2;
    downloadState.TopologyMatchFlag = 0;
    UsbTopologyWalk();
    const bool kept = EndWalkWorld();
    std::printf("topology match=%d\n", static_cast<int>(downloadState.TopologyMatchFlag.load()));
    return kept ? 0 : 1;
}
