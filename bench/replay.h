// The bare link: the reports of a whole download, recorded once, sent again straight through
// the simulated bus with no updater around them.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

struct LinkOperation {
    enum class Kind { Write, Read, SetOutput, GetInput } kind;
    std::vector<std::uint8_t> bytes;  // the report sent, or the buffer a read starts from
};

// The device operations of one healthy download of mode, in order, as the trace records them.
std::vector<LinkOperation> CaptureDownload(int mode);

// Sends operations to a new device of mode, each delayed by latencyMs. Returns false when one
// of them fails; seconds receives the time of the loop alone.
bool Replay(int mode, const std::vector<LinkOperation>& operations, std::uint32_t latencyMs,
            double& seconds);

}  // namespace bench
