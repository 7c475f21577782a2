#include "sim/cli/capture_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/capture_check.h"
#include "capture/capture_reader.h"

namespace sim {
namespace {

constexpr std::size_t kMaxImage = std::size_t{16} << 20;  // far above the largest image a mode takes

bool ReadImage(const std::string& path, std::vector<std::uint8_t>& image, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot open the image " + path + ": " + std::strerror(errno);
        return false;
    }
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && image.size() <= kMaxImage) {
        image.insert(image.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) error = "cannot read the image " + path + ": " + std::strerror(errno);
    else if (image.size() > kMaxImage) error = "the image " + path + " is larger than 16 MiB";
    return error.empty();
}

}  // namespace

int RunCaptureCheck(const CliOptions& options)
{
    std::string error;
    std::vector<std::uint8_t> image;
    if (!options.imagePath.empty() && !ReadImage(options.imagePath, image, error)) {
        std::fprintf(stderr, "oskel-sim: %s\n", error.c_str());
        return 1;
    }
    capture::CaptureContents contents;
    if (!capture::ReadCaptureFile(options.checkCapturePath, contents, error)) {
        std::fprintf(stderr, "oskel-sim: capture %s\n", error.c_str());
        return 1;
    }
    capture::CaptureVerdict verdict;
    if (!capture::CheckCapture(contents, options.vendorId, options.productId, options.imagePath.empty() ? nullptr : &image,
                      verdict, error)) {
        std::fprintf(stderr, "oskel-sim: capture %s: %s\n", options.checkCapturePath.c_str(), error.c_str());
        return 1;
    }
    for (const std::string& line : verdict.lines) std::printf("%s\n", line.c_str());
    const bool imageOk = options.imagePath.empty() || verdict.imageEqual;
    return verdict.conforms && imageOk ? 0 : 1;
}

}  // namespace sim
