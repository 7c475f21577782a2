// The walk over the system's own USB host controllers and hubs, through the shipped Windows
// backend (platform/win32/usb.cpp). Under the USB rig these are the rig driver's nodes.
#include "tests/wine/usb/walk_world.h"

#include <cstdio>

bool BeginWalkWorld(int argc, char** argv)
{
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s (no options: walks the system's USB tree)\n", argv[0]);
        return false;
    }
    return true;
}

bool EndWalkWorld()
{
    return true;
}
