// The check of a USB capture against the device models. Each device of the capture (an
// enumeration, capture/capture_devices.h) with the ids of an update mode, or named by its bus and
// address, gets a fresh model of that mode's protocol, which judges the host's reports to the
// updater's interface in order, as the firmware would: an output report, whether it went as an
// interrupt OUT transfer or as a SET_REPORT request, and a GET_REPORT request of an input report.
// The updater's interface is the HID interface whose report descriptor declares the protocol's
// output report (or, without report descriptors in the capture, the HID interface that is not a
// boot keyboard or mouse); SET_REPORT and GET_REPORT count when their wIndex names it, interrupt
// transfers when they are on its endpoints, and everything else is other traffic. A capture that
// began after the enumeration has no descriptors: then all of the device's traffic is judged. The
// input reports that the device sends on its interrupt IN endpoint are its own and are counted,
// not judged. Reports that the device did not take (refused, cancelled, gone) are listed and not
// fed to the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_devices.h"
#include "capture/capture_reader.h"

namespace capture {

struct CheckRequest {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool byAddress = false;  // only the devices at bus.address (their ids when the capture has none)
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    const std::vector<std::uint8_t>* image = nullptr;  // the image the download should have written
};

// Whether vendorId:productId is a device in an update mode, with a protocol to check it against.
bool HasProtocol(std::uint16_t vendorId, std::uint16_t productId);

// A report or request that was not fed to the model, and why.
struct TransferNote {
    enum class Kind {
        NotTaken,         // the device did not take it (outcome)
        OtherReportType,  // SET_REPORT or GET_REPORT of a report type the protocols do not use
    };
    Kind kind = Kind::NotTaken;
    std::string label;  // NotTaken: "report 5", "input request 2", "a control transfer without its setup packet"
    FrameTime at;
    UsbOutcome outcome = UsbOutcome::Pending;
    std::uint8_t request = 0;     // OtherReportType: usb::kHidSetReport or usb::kHidGetReport
    std::uint8_t reportType = 0;  // OtherReportType
};

// Where the check of a device stopped before the end of its traffic.
struct CheckStop {
    enum class Kind {
        None,
        Refused,    // the model refused a report
        Truncated,  // the capture kept only part of a report
    };
    Kind kind = Kind::None;
    std::string label;
    FrameTime at;
    std::string reason;               // Refused: the model's
    std::vector<std::uint8_t> bytes;  // Refused: the report as the host's HID interface held it
};

// How the updater's interface was told.
enum class InterfaceSource {
    AllTraffic,        // the capture holds no configuration descriptor: every transfer is judged
    ReportDescriptor,  // its report descriptor declares the protocol's output report
    Configuration,     // the HID interface that is not a boot keyboard or mouse (no report descriptor)
    Missing,           // the configuration has no such HID interface
    Malformed,         // the configuration descriptor cannot be read
};

struct FlashComparison {
    enum class Result {
        NotAsked,    // no image given
        NotReached,  // the check stopped before the end of the download
        Equal,
        Differs,
        SizeDiffers,  // a protocol that writes the whole image wrote one of another size
        OutOfRange,   // the image ends before the protocol's first byte
    };
    Result result = Result::NotAsked;
    std::size_t start = 0;  // the bytes compared: [start, end)
    std::size_t end = 0;
    std::size_t differing = 0;
    std::size_t firstDifference = 0;
    std::uint8_t flashByte = 0;
    std::uint8_t imageByte = 0;
    std::size_t flashSize = 0;
    std::size_t imageSize = 0;
};

struct DeviceVerdict {
    std::size_t device = 0;  // in CaptureSummary::devices
    int protocol = 0;
    InterfaceSource source = InterfaceSource::AllTraffic;
    std::uint8_t interfaceNumber = 0;
    std::vector<std::uint8_t> endpoints;  // the updater's interface's
    std::uint32_t outputs = 0;            // output reports, taken or not
    std::uint32_t interruptOutputs = 0;   // of them, interrupt OUT transfers (the rest SET_REPORT)
    std::uint32_t inputRequests = 0;      // GET_REPORT requests of an input report
    std::uint32_t deviceInputs = 0;       // input reports from the device
    std::uint32_t otherTraffic = 0;       // reports of other interfaces and transfers on other endpoints
    std::uint32_t notTaken = 0;           // reports and requests the device did not take
    std::vector<TransferNote> notes;      // the first kMaxNotes of those, and the other notes
    CheckStop stop;
    bool idle = false;      // no report from the host: no download was made to it (and nothing more is judged)
    bool complete = false;  // the model holds a whole download
    bool conforms = false;  // every report taken, the download complete, the flash equal to the image
    FlashComparison flash;
};

enum class CheckStatus { Conforms, DoesNotConform, NoSuchDevice };

struct CheckVerdict {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool byAddress = false;  // as the request named them
    std::uint16_t bus = 0;
    std::uint16_t address = 0;
    std::vector<DeviceVerdict> devices;  // in the order of the capture
    CheckStatus status = CheckStatus::NoSuchDevice;
};

inline constexpr std::size_t kMaxNotes = 10;  // reports the device did not take, listed one by one

// Judges the devices of found that the request names. Conforms when at least one of them got a
// download and every one that got one conforms; NoSuchDevice when none is in the capture.
CheckVerdict CheckCapture(const CaptureContents& contents, const CaptureDevices& found, const CheckRequest& request);

}  // namespace capture
