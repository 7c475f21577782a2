// The firmware images that the build embeds in a Linux or host program as byte arrays
// (cmake/embed_images.cmake writes them), each with its size and SHA-256 (64 lower-case
// hexadecimal digits) as the build computed them from the file it embedded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

extern const std::uint8_t kEmbeddedImage1[];
extern const std::size_t kEmbeddedImage1Size;
extern const char kEmbeddedImage1Sha256[];
extern const std::uint8_t kEmbeddedImage2[];
extern const std::size_t kEmbeddedImage2Size;
extern const char kEmbeddedImage2Sha256[];
extern const std::uint8_t kEmbeddedImage3[];
extern const std::size_t kEmbeddedImage3Size;
extern const char kEmbeddedImage3Sha256[];

namespace platform {

// The embedded image of resource id 106, 107 or 108.
inline Outcome LoadEmbeddedImage(int id, const std::uint8_t*& data, std::size_t& size)
{
    switch (id) {
    case 106: data = kEmbeddedImage1; size = kEmbeddedImage1Size; return Done();
    case 107: data = kEmbeddedImage2; size = kEmbeddedImage2Size; return Done();
    case 108: data = kEmbeddedImage3; size = kEmbeddedImage3Size; return Done();
    default: return Failure(Status::Failed, "the image resource " + std::to_string(id), "not embedded");
    }
}

// The SHA-256 of the embedded image of resource id 106, 107 or 108, as the build computed it;
// null for any other id.
inline const char* EmbeddedImageSha256(int id)
{
    switch (id) {
    case 106: return kEmbeddedImage1Sha256;
    case 107: return kEmbeddedImage2Sha256;
    case 108: return kEmbeddedImage3Sha256;
    default: return nullptr;
    }
}

}  // namespace platform
