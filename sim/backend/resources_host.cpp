// The firmware images embedded in the host build.
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/resources.h"
#include "sim/world.h"

extern const std::uint8_t kEmbeddedImage1[];
extern const std::size_t kEmbeddedImage1Size;
extern const std::uint8_t kEmbeddedImage2[];
extern const std::size_t kEmbeddedImage2Size;
extern const std::uint8_t kEmbeddedImage3[];
extern const std::size_t kEmbeddedImage3Size;

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

bool LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        auto found = overrides.find(id);
        if (found != overrides.end()) {
            if (!found->second) return false;
            data = found->second->data();
            size = found->second->size();
            return true;
        }
    }
    switch (id) {
    case 106: data = kEmbeddedImage1; size = kEmbeddedImage1Size; return true;
    case 107: data = kEmbeddedImage2; size = kEmbeddedImage2Size; return true;
    case 108: data = kEmbeddedImage3; size = kEmbeddedImage3Size; return true;
    default: return false;
    }
}

}  // namespace platform
