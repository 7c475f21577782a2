// The firmware images embedded in the host build.
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/embedded_images.h"
#include "platform/resources.h"
#include "sim/world.h"

namespace {

std::mutex overrideMutex;
std::map<int, std::optional<std::vector<std::uint8_t>>> overrides;  // nullopt: missing

}  // namespace

namespace sim {

void OverrideImageResource(int id, const std::vector<std::uint8_t>* bytes)
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    if (bytes) overrides[id] = *bytes;
    else overrides[id] = std::nullopt;
}

void ClearImageResourceOverrides()
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overrides.clear();
}

}  // namespace sim

namespace platform {

Outcome LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        auto found = overrides.find(id);
        if (found != overrides.end()) {
            if (!found->second) return Failure(Status::Failed, "the image resource " + std::to_string(id), "taken away");
            data = found->second->data();
            size = found->second->size();
            return Done();
        }
    }
    return LoadEmbeddedImage(id, data, size);
}

}  // namespace platform
