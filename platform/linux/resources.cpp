// The firmware images, embedded in the program by the build.
#include "platform/linux/embedded_images.h"
#include "platform/resources.h"

namespace platform {

Outcome LoadImageResource(int id, const std::uint8_t*& data, std::size_t& size)
{
    return LoadEmbeddedImage(id, data, size);
}

}  // namespace platform
