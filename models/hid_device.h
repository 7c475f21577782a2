// A device model: a controller as the host sees it (its ids and top-level collections) and the
// device side of what the host sends it. A model derives from HidDevice and judges every report
// as the controller's firmware would; it knows nothing of who carries the reports to it: the
// simulated bus (sim/hid_bus.h), the Wine rig's minidriver or the Linux rig's virtual controllers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace models {

// One top-level collection as its report descriptor declares it. Lengths count the report-id
// byte, as the system's HID parser gives them (InputReportByteLength, OutputReportByteLength); a
// collection that numbers no reports has report id 0, which travels as a leading 0 byte. A
// length of 0: the collection has no report in that direction.
struct HidCollection {
    std::uint16_t usagePage;
    std::uint16_t usage;
    std::uint8_t inputReportId = 0;
    std::uint16_t inputLength = 0;
    std::uint8_t outputReportId = 0;
    std::uint16_t outputLength = 0;
};

// Faults that the bus injects. Report numbers count writes and set-output-report requests
// together, from 1; reply numbers count reads and get-input-report requests, from 1. 0 = off.
struct HidFaults {
    bool probeOpenFails = false;
    bool attributesUnreadable = false;
    bool capsUnreadable = false;
    bool readWriteOpenRefused = false;  // another program holds it without sharing
    std::uint32_t refuseReport = 0;     // this report is refused
    std::uint32_t stallReport = 0;      // this report never completes
    std::uint32_t removeAfterReports = 0;  // the device is unplugged after this many accepted reports
    std::uint32_t refuseFromReport = 0;    // this report and every later one are refused
    std::uint32_t stallFromReport = 0;     // this report and every later one never complete (hung)
    std::uint32_t removeBeforeReport = 0;  // the device is unplugged just before this report
    std::uint32_t failReply = 0;        // this read fails at once
    std::uint32_t stallReply = 0;       // this read never completes (no reply)
};

class HidDevice {
public:
    HidDevice(std::uint16_t vendorId, std::uint16_t productId, std::vector<HidCollection> collections);
    virtual ~HidDevice();

    // The device side. Each returns false when the device refuses the operation.
    virtual bool OnWrite(const std::uint8_t* report, std::size_t length);
    virtual bool OnRead(std::uint8_t* buffer, std::size_t length);
    virtual bool OnSetOutputReport(const std::uint8_t* report, std::size_t length);
    virtual bool OnGetInputReport(std::uint8_t* buffer, std::size_t length);
    // What the device recovers from a set-output report's wire bytes (for the trace).
    virtual std::vector<std::uint8_t> Recover(const std::uint8_t* report, std::size_t length) const;

    // The device's flash memory as the download left it (empty for a device without one).
    virtual std::vector<std::uint8_t> Flash() const;
    // True once the device has received a whole, well-formed download.
    virtual bool DownloadComplete() const;
    // A model-specific option (for example "refuse-start" = K); false when unknown.
    virtual bool SetOption(const std::string& name, std::uint32_t value);
    // Protocol errors the model found in what it received, one line each ("" when none).
    std::vector<std::string> protocolErrors;

    // The interface path of one collection, Windows style.
    std::string PathOf(std::size_t collection) const;

    const std::uint16_t vendorId;
    const std::uint16_t productId;
    const std::vector<HidCollection> collections;
    HidFaults faults;
    bool upperCasePaths = false;
    std::uint32_t latencyMs = 0;  // real time per report and per reply
    // Each collection's instance id is this, then "&" and the collection's number from 0000, as
    // Windows numbers the collections of one device.
    std::string instanceId = "7&1a2b3c4d&0";

    // Filled in by the bus (read under the bus lock, or after the download ended).
    std::uint32_t reportsSeen = 0;   // writes and set-output requests that reached the bus
    std::uint32_t repliesSeen = 0;   // reads and get-input requests that reached the bus
    std::uint32_t reportsAccepted = 0;
    std::uint32_t stackRefusals = 0;  // operations the collection does not declare, refused by the bus
    bool removed = false;

protected:
    // Records a protocol error and refuses the operation (returns false).
    bool Refuse(const std::string& error);
};

}  // namespace models
