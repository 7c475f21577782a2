#include "sim/cli/capture_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture_devices.h"
#include "capture/capture_reader.h"
#include "check/capture_check.h"
#include "check/capture_json.h"
#include "check/capture_text.h"

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

std::string CaptureName(const std::string& path) { return path == "-" ? "standard input" : path; }

// Reads the capture; on failure says why (on standard output too, as JSON, with --json).
bool ReadCapture(const CliOptions& options, const std::string& path, capture::CaptureContents& contents)
{
    capture::CaptureError error;
    if (capture::ReadCaptureFile(path, contents, error)) return true;
    std::fprintf(stderr, "oskel-sim: capture %s: %s\n", CaptureName(path).c_str(), capture::ErrorText(error).c_str());
    if (options.json) std::printf("%s\n", capture::ErrorJson(error).c_str());
    return false;
}

void PrintLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
}

}  // namespace

int RunCaptureCheck(const CliOptions& options)
{
    std::string error;
    std::vector<std::uint8_t> image;
    if (!options.imagePath.empty() && !ReadImage(options.imagePath, image, error)) {
        std::fprintf(stderr, "oskel-sim: %s\n", error.c_str());
        return kExitUnreadable;
    }
    capture::CaptureContents contents;
    if (!ReadCapture(options, options.checkCapturePath, contents)) return kExitUnreadable;
    const capture::CaptureDevices found = capture::FindDevices(contents);
    capture::CheckRequest request;
    request.vendorId = options.vendorId;
    request.productId = options.productId;
    request.byAddress = options.haveAddress;
    request.bus = options.bus;
    request.address = options.address;
    request.image = options.imagePath.empty() ? nullptr : &image;
    const capture::CheckVerdict verdict = capture::CheckCapture(contents, found, request);
    if (options.json) std::printf("%s\n", capture::CheckJson(found.summary, verdict).c_str());
    if (verdict.status == capture::CheckStatus::NoSuchDevice) {
        std::fprintf(stderr, "oskel-sim: capture %s: %s\n", CaptureName(options.checkCapturePath).c_str(),
                     capture::NoDeviceText(found.summary, verdict).c_str());
        return kExitNoSuchDevice;
    }
    if (!options.json) PrintLines(capture::VerdictLines(found.summary, verdict));
    return verdict.status == capture::CheckStatus::Conforms ? kExitConforms : kExitDoesNotConform;
}

int RunListDevices(const CliOptions& options)
{
    capture::CaptureContents contents;
    if (!ReadCapture(options, options.listDevicesPath, contents)) return kExitUnreadable;
    const capture::CaptureSummary summary = capture::FindDevices(contents).summary;
    if (options.json) std::printf("%s\n", capture::SummaryJson(summary).c_str());
    else PrintLines(capture::SummaryLines(summary));
    return 0;
}

}  // namespace sim
