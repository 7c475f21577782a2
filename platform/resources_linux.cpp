// The firmware images, embedded in the program by the build (cmake/embed_images.cmake).
#include "platform/resources.h"

extern const std::uint8_t kEmbeddedImage1[];
extern const std::size_t kEmbeddedImage1Size;
extern const std::uint8_t kEmbeddedImage2[];
extern const std::size_t kEmbeddedImage2Size;
extern const std::uint8_t kEmbeddedImage3[];
extern const std::size_t kEmbeddedImage3Size;

namespace platform {

bool LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    switch (id) {
    case 106: data = kEmbeddedImage1; size = kEmbeddedImage1Size; return true;
    case 107: data = kEmbeddedImage2; size = kEmbeddedImage2Size; return true;
    case 108: data = kEmbeddedImage3; size = kEmbeddedImage3Size; return true;
    default: return false;
    }
}

}  // namespace platform
