#include "app/linux/version_text.h"

#include <cstddef>
#include <cstdint>

#include "app/linux/controllers.h"
#include "oskel_version.h"
#include "platform/linux/embedded_images.h"
#include "state/download_modes.h"

std::string VersionText()
{
    std::string text = std::string("oskel-update ") + OSKEL_VERSION_TEXT + "\n";
    for (const DownloadModeFacts& facts : kDownloadModes) {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        const char* digest = platform::EmbeddedImageSha256(facts.imageResource);
        if (!platform::LoadEmbeddedImage(facts.imageResource, data, size) || digest == nullptr) continue;
        text += "mode " + std::to_string(facts.mode) + " image (" + IdsText(facts.vendorId, facts.productId) +
                "): " + std::to_string(size) + " bytes, SHA-256 " + digest + "\n";
    }
    return text;
}
