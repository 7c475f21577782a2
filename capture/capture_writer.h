// USB captures of HID traffic: a pcapng file that Wireshark and tshark dissect as USB, with the
// reports shown as HID (docs/captures.md).
//
// Portable: no system headers, no knowledge of any backend. One capture file per process, open
// between CaptureOpen and CaptureClose; every call is safe from any thread. A backend makes
// these calls:
//
//   CaptureOpen(path, link, error)   once, before anything is recorded
//   CaptureAddDevice(device, time)   once per device, when it appears (or before its first
//                                    transfer): writes its enumeration, the requests for the
//                                    device, configuration and HID report descriptors, and
//                                    returns the number that names the device in later calls
//   CaptureRecord(transfer)          after each report operation, with its outcome
//   CaptureClose(error)              at the end: false, with the reason, when any write failed
//
// A recorder of a system's own capture (the Linux rig's of usbmon) opens the file the same way
// and writes each packet as the system gave it with CapturePacket instead.
//
// Bytes are given as the HID interfaces of Windows and Linux hand them to a program: byte 0 is
// the report id, 0 for a device that numbers no reports. On the bus a report id of 0 is not
// sent, so that byte is left out of the transfer's data.
//
// Which transfer each host operation is on the bus (the class driver decides, not the program):
//
// | Host operation                       | Windows hidclass  | Linux usbhid (hidraw) |
// |--------------------------------------|-------------------|-----------------------|
// | WriteFile / write()                  | InterruptOut *    | InterruptOut *        |
// | HidD_SetOutputReport / HIDIOCSOUTPUT | SetReport Output  | InterruptOut *        |
// | ReadFile / read()                    | InterruptIn       | InterruptIn           |
// | HidD_GetInputReport / HIDIOCGINPUT   | GetReport Input   | GetReport Input       |
//
// * SetReport Output instead when the interface has no interrupt OUT endpoint.
//
// A report that the class driver refuses itself (wrong length, undeclared report id) never
// reaches the bus: record nothing for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace capture {

// The link type of the file's interface: how each USB packet's header is laid out.
enum class CaptureLink : std::uint16_t {
    Usbmon = 220,   // LINKTYPE_USB_LINUX_MMAPPED: Linux usbmon, 64-byte header
    UsbPcap = 249,  // LINKTYPE_USBPCAP: USBPcap on Windows
};

// One HID interface of a device. The interface at position i of its device has number i, an
// interrupt IN endpoint 0x81 + i and, when hasInterruptOut, an interrupt OUT endpoint 0x01 + i,
// each of 64 bytes.
struct CaptureInterface {
    std::vector<std::uint8_t> reportDescriptor;  // the interface's whole HID report descriptor
    bool hasInterruptOut = false;
    std::uint8_t bootProtocol = 0;  // a boot keyboard or mouse (codec/usb_layouts.h); 0: neither
};

// A full-speed device with one configuration of HID interfaces (at least one; at most 15).
struct CaptureDevice {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::vector<CaptureInterface> interfaces;
    std::uint16_t bus = 0;      // 0: bus 1
    std::uint8_t address = 0;   // 0: the next free address from 2 on (1 is the root hub)
};

enum class CaptureKind {
    InterruptOut,  // an output report on the interrupt OUT endpoint
    InterruptIn,   // an input report from the interrupt IN endpoint
    SetReport,     // HID class SET_REPORT on the control endpoint
    GetReport,     // HID class GET_REPORT on the control endpoint
};

// The HID report types of SET_REPORT and GET_REPORT (high byte of wValue).
enum class CaptureReportType : std::uint8_t { Input = 1, Output = 2, Feature = 3 };

enum class CaptureStatus {
    Completed,   // the device took the report, or sent it
    Refused,     // the device refused it (STALL handshake)
    TimedOut,    // the host gave up waiting and cancelled it
    DeviceGone,  // the device had gone before the submission: nothing reaches the bus
    Unplugged,   // the device went away while the transfer was on the bus
    Failed,      // any other error of the transaction
};

struct CaptureTransfer {
    int device = 0;  // as CaptureAddDevice returned it
    std::size_t usbInterface = 0;  // its position among the device's interfaces
    CaptureKind kind = CaptureKind::InterruptOut;
    CaptureReportType reportType = CaptureReportType::Output;  // SetReport and GetReport only
    CaptureStatus status = CaptureStatus::Completed;
    // Out: the report. In: the buffer as the device filled it when Completed; otherwise the
    // buffer as the host passed it (only byte 0, the report id a GetReport asks for, and the
    // length count then).
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    std::uint64_t submittedUs = 0;  // microseconds since 1970-01-01 UTC (CaptureClock)
    std::uint64_t completedUs = 0;
};

// Starts a capture file at path (replacing it). False, with the reason in error, when the
// file cannot be created or a capture is open already. interfaceName names the capture's one
// interface (if_name); empty: "usbmon1", or "\\.\USBPcap1" for USBPcap.
bool CaptureOpen(const std::string& path, CaptureLink link, std::string& error,
                 const std::string& interfaceName = {});
// The same on a file the caller has opened for writing (name for the messages); the capture owns
// it from then on, also when it returns false.
bool CaptureOpenStream(std::FILE* file, const std::string& name, CaptureLink link, std::string& error,
                       const std::string& interfaceName = {});
bool CaptureIsOpen();
// Writes the device's enumeration at time and returns its number (0 when no capture is open
// or the device cannot be described: no interface or more than 15, a report descriptor longer
// than 65535 bytes).
int CaptureAddDevice(const CaptureDevice& device, std::uint64_t timeUs);
// Writes one transfer as the kernel's usbmon or USBPcap shows it: its submission and its
// completion; nothing for a device that had gone before it. Nothing when no capture is open or
// the device number is unknown; a report longer than a transfer can carry, or an interface the
// device does not have, is kept as a failure for CaptureClose.
void CaptureRecord(const CaptureTransfer& transfer);
// Writes one packet as the capturing system gave it, already in the link type's own layout (for
// Usbmon the 64-byte header and the data after it), stamped timeUs. The file is little-endian,
// so a usbmon header must come from a little-endian host, as usbmon gives it on x86. Nothing when
// no capture is open.
void CapturePacket(const std::uint8_t* packet, std::size_t length, std::uint64_t timeUs);
// Finishes the file. False, with the reason in error, when a write failed on the way.
bool CaptureClose(std::string& error);

// The current time in microseconds since 1970-01-01 UTC, for the time stamps.
std::uint64_t CaptureClock();

}  // namespace capture
