// The check of a USB capture against the device models: the traffic of one update-mode device
// is picked from the capture (by the device descriptor its enumeration returned), and the
// host's reports go, in order, to a fresh model of that device's protocol, which judges each one
// as the firmware would. An output report counts whether it went as an interrupt OUT transfer or
// as a SET_REPORT request; a GET_REPORT request is the host's too. The input reports that the
// device sends on its interrupt IN endpoint are its own and are counted, not judged. Reports
// that the device did not take (refused, cancelled, gone) are listed and not fed to the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_reader.h"

namespace capture {

struct CaptureVerdict {
    std::vector<std::string> lines;  // what the check found, for a person to read
    bool conforms = false;           // every report taken by the model and the download complete
    bool imageEqual = false;         // with an image: the flash written equals it
};

// Judges the traffic of vendorId:productId in contents. image: the image the download should
// have written, or null. False, with the reason, when the capture cannot be judged at all (no
// such device, not an update-mode device, no USB traffic).
bool CheckCapture(const CaptureContents& contents, std::uint16_t vendorId, std::uint16_t productId,
                  const std::vector<std::uint8_t>* image, CaptureVerdict& verdict, std::string& error);

}  // namespace capture
