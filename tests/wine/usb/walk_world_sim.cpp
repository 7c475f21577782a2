// The walk over a simulated USB tree, read from a tree file: the reference for the rig. The
// requests that the simulated driver saw go to a log in the rig's format (request_log.h).
//   --tree FILE --log FILE
#include "tests/wine/usb/walk_world.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/usb_tree.h"
#include "sim/world.h"
#include "tests/wine/usb/request_log.h"

namespace {

std::string logPath;
constexpr std::uint32_t kTimeScale = 1000;

}  // namespace

bool BeginWalkWorld(int argc, char** argv)
{
    std::string treePath;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--tree") treePath = argv[i + 1];
        else if (option == "--log") logPath = argv[i + 1];
    }
    if (argc != 5 || treePath.empty() || logPath.empty()) {
        std::fprintf(stderr, "usage: %s --tree FILE --log FILE\n", argv[0]);
        return false;
    }
    // Nodes that never answer hold their requests for their whole time limit, in simulated time.
    sim::SetTimeScale(kTimeScale);
    std::string error;
    if (!sim::LoadUsbTree(treePath, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

bool EndWalkWorld()
{
    std::FILE* log = std::fopen(logPath.c_str(), "wb");
    if (log == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", logPath.c_str());
        return false;
    }
    std::fprintf(log, "%s\n", kRequestLogHeader);
    for (const sim::UsbRequestRecord& record : sim::UsbRequests()) {
        std::fprintf(log, "%s\n", RequestLogLine(record).c_str());
    }
    return std::fclose(log) == 0;
}
