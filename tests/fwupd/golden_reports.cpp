// The golden reports of the fwupd plugin's self-test (fwupd/oskel-controller/tests/*.reports):
// the reports the updater's own worker and transfers send, in the simulated world against the
// device models, for a test image of each mode. The plugin builds its reports for the same
// images and must send the same bytes.
//
//   oskel-fwupd-golden --write DIR    writes the files into DIR
//   oskel-fwupd-golden --check DIR    exits 1 when the files in DIR differ from what it makes
//
// A file lists the reports' count, the fingerprint of all of them one after the other (64-bit
// FNV-1a, then xor the length: sim::Fingerprint) and some of them in full ("INDEX HEX"); its
// header says which image they were made for. The image of each
// mode is a pattern that the self-test makes too (PatternByte).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/worker.h"
#include "codec/hex_text.h"
#include "device/device_link.h"
#include "image/firmware_buffer.h"
#include "models/models.h"
#include "sim/hid_bus.h"
#include "sim/scenario.h"
#include "sim/trace.h"
#include "sim/world.h"
#include "state/download_modes.h"
#include "state/download_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The self-test's pattern (fu-self-test.c): no run of blank bytes, and every byte value.
std::uint8_t PatternByte(std::uint32_t i) { return static_cast<std::uint8_t>(i * 89 + (i >> 9) * 7 + 0x35); }

// Mode 1's image is blank but for a few spans, so that most chunks are skipped: the boot loader's
// own part and the region's first 18 chunks, one byte at 0x1234, one chunk at 0x4000 and the last
// two bytes (the last chunk is 31 bytes long; the byte at 0x7FFF is never sent).
bool Mode1Patterned(std::uint32_t i)
{
    return i < 0x0C40 || i == 0x1234 || (i >= 0x4000 && i < 0x4020) || i >= 0x7FFE;
}

Bytes TestImage(int mode, std::size_t length)
{
    Bytes image(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        image[i] = mode == 1 && !Mode1Patterned(i) ? 0xFF : PatternByte(i);
    }
    return image;
}

struct Golden {
    std::string name;       // the file: NAME.reports
    int mode;
    std::size_t imageLength;
    std::uint32_t tick;     // the tick count protocol 1 draws its first chunk from
    std::uint32_t refuseReport;  // the device refuses this report (0: none)
    std::string note;
};

const Golden kGoldens[] = {
    {"mode1", 1, 32768, 949, 0, "the identify report, then protocol 1's erase, program and finish reports"},
    {"mode2", 2, 32768, 0, 0, "protocol 2's start report, then its data reports"},
    {"mode3", 3, 195933, 0, 0, "protocol 3's begin, block and end reports"},
    {"mode3-block-refused", 3, 300, 0, 6,
     "protocol 3's reports when the device refuses block 5: the end report follows at once"},
};

// The reports the updater sent, in order: set-output requests' wire bytes, and writes.
std::vector<Bytes> SentReports()
{
    std::vector<Bytes> reports;
    for (const std::string& line : sim::TraceLines()) {
        std::istringstream fields(line);
        std::string event, status, hex;
        fields >> event >> status >> hex;
        if (event == "set-output" || event == "write") reports.push_back(codec::FromHex(hex));
    }
    return reports;
}

bool FindDevice(int mode)
{
    switch (mode) {
    case 1: return deviceLink->FindProtocol1Device();
    case 2: return deviceLink->FindProtocol2Device();
    case 3: return deviceLink->FindProtocol3Device();
    }
    return false;
}

// Runs the download of golden's image through the worker, as the arrival road starts it.
bool Download(const Golden& golden, std::vector<Bytes>& reports, std::string& why)
{
    const DownloadModeFacts& facts = ModeFacts(golden.mode);
    const Bytes image = TestImage(golden.mode, golden.imageLength);
    sim::BeginWorld({1000, true, true});
    sim::SetFixedTickCount(golden.tick);
    auto device = models::MakeDevice(facts.vendorId, facts.productId);
    device->faults.refuseReport = golden.refuseReport;
    sim::Plug(device);
    sim::OverrideImageResource(facts.imageResource, &image);
    bool ran = FindDevice(golden.mode) && LoadFirmwareImage(golden.mode) == 1;
    if (ran) {
        downloadState.mode = golden.mode;
        downloadState.busy = 1;
        ran = StartDownloadWorker(sim::kDialogWindow) && sim::WaitForThreads(60000);
    }
    const bool completed = device->DownloadComplete();
    reports = SentReports();
    sim::EndWorld();
    sim::ClearImageResourceOverrides();
    if (!ran) why = "the download did not run";
    else if (!device->protocolErrors.empty()) why = "the model found " + device->protocolErrors.front();
    else if (golden.refuseReport == 0 && !completed) why = "the model did not receive a whole download";
    return why.empty();
}

// Which reports the file lists in full: every one of a short sequence, otherwise the first three,
// those around block 256 (protocol 3's block numbers reach their high byte) and the last three.
bool Listed(std::size_t index, std::size_t count)
{
    if (count <= 100) return true;
    return index < 3 || (index >= 255 && index < 258) || index + 3 >= count;
}

std::string GoldenText(const Golden& golden, const std::vector<Bytes>& reports)
{
    Bytes all;
    for (const Bytes& report : reports) all.insert(all.end(), report.begin(), report.end());
    std::ostringstream text;
    text << "# " << golden.note << ", as the updater sends them for the test image of update mode "
         << golden.mode << ".\n# Made by oskel-fwupd-golden (tests/fwupd/golden_reports.cpp); do not edit.\n";
    const DownloadModeFacts& facts = ModeFacts(golden.mode);
    char ids[64];
    std::snprintf(ids, sizeof ids, "USB\\VID_%04X&PID_%04X", facts.vendorId, facts.productId);
    text << "mode " << golden.mode << "\n";
    // What the mode's quirk must say: the image's limits and the buffer's fill (the table of modes).
    text << "instance-id " << ids << "\n";
    text << "smallest-image " << facts.smallestImage << "\n";
    text << "buffer-size " << facts.imageBufferSize << "\n";
    text << "fill " << unsigned{facts.imageFill} << "\n";
    text << "image-length " << golden.imageLength << "\n";
    text << "tick " << golden.tick << "\n";
    text << "refuse-report " << golden.refuseReport << "\n";
    text << "count " << reports.size() << "\n";
    char fingerprint[32];
    std::snprintf(fingerprint, sizeof fingerprint, "%016llx",
                  static_cast<unsigned long long>(sim::Fingerprint(all.data(), all.size())));
    text << "fingerprint " << fingerprint << "\n";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (Listed(i, reports.size())) text << i << " " << codec::Hex(reports[i].data(), reports[i].size()) << "\n";
    }
    return text.str();
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string action = argc == 3 ? argv[1] : "";
    if (action != "--write" && action != "--check") {
        std::fprintf(stderr, "usage: oskel-fwupd-golden --write|--check DIR\n");
        return 2;
    }
    const std::string folder = argv[2];
    int status = 0;
    for (const Golden& golden : kGoldens) {
        std::vector<Bytes> reports;
        std::string why;
        if (!Download(golden, reports, why)) {
            std::fprintf(stderr, "%s: %s\n", golden.name.c_str(), why.c_str());
            return 1;
        }
        const std::string path = folder + "/" + golden.name + ".reports";
        const std::string text = GoldenText(golden, reports);
        if (action == "--write") {
            std::ofstream(path, std::ios::binary) << text;
            std::printf("%s: %zu reports\n", path.c_str(), reports.size());
        } else if (ReadText(path) != text) {
            std::fprintf(stderr, "%s differs from the reports the updater sends now: run oskel-fwupd-golden --write %s\n",
                         path.c_str(), folder.c_str());
            status = 1;
        } else {
            std::printf("%s: the same %zu reports\n", path.c_str(), reports.size());
        }
    }
    return status;
}
