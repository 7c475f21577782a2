#include "capture/capture_writer.h"

#include "capture/capture_format.h"
#include "codec/usb_hid_descriptors.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace capture {
namespace {

// The file: a section header, one interface description and one enhanced packet block per USB
// packet, all numbers little-endian (the byte-order magic says so).
constexpr std::uint16_t kPcapngMajor = 1;
constexpr std::uint16_t kPcapngMinor = 0;
constexpr std::uint64_t kSectionLengthUnknown = ~std::uint64_t{0};
constexpr std::uint8_t kMicroseconds = 6;  // if_tsresol: 10^-6 s per time stamp unit
constexpr std::uint32_t kNoSnapshotLimit = 0;

// usbmon data flags and the look of URB tags.
constexpr char kNoSetup = '-';
constexpr char kInDataNotYet = '<';   // an IN submission has no data yet
constexpr char kOutDataGone = '>';    // an OUT completion carries none back
constexpr std::uint64_t kUrbTagBase = 0xFFFF888000000000ull;  // kernel addresses, as URB tags are
constexpr std::uint64_t kUrbTagStep = 0x100;

// USBPcap's URB functions and the look of IRP ids.
constexpr std::uint16_t kFunctionControl = 0x0008;       // URB_FUNCTION_CONTROL_TRANSFER
constexpr std::uint16_t kFunctionInterrupt = 0x0009;     // URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER
constexpr std::uint16_t kFunctionDeviceDescriptor = 0x000B;     // ..._GET_DESCRIPTOR_FROM_DEVICE
constexpr std::uint16_t kFunctionClassInterface = 0x001B;       // URB_FUNCTION_CLASS_INTERFACE
constexpr std::uint16_t kFunctionInterfaceDescriptor = 0x0028;  // ..._GET_DESCRIPTOR_FROM_INTERFACE
constexpr std::uint64_t kIrpIdBase = 0xFFFFA00000000000ull;

// The device: full speed, one configuration of HID interfaces (codec/usb_hid_descriptors.h).
constexpr std::size_t kMaxControlData = 0xFFFF;  // wLength is 16 bits
constexpr std::uint16_t kDefaultBus = 1;
constexpr std::uint8_t kFirstAddress = 2;  // 1 is the root hub
constexpr std::uint8_t kLastAddress = 127;

struct DeviceEntry {
    std::uint16_t bus;
    std::uint8_t address;
    std::vector<bool> hasInterruptOut;  // per interface
};

struct State {
    std::mutex mutex;
    std::FILE* file = nullptr;
    CaptureLink link = CaptureLink::Usbmon;
    std::string path;
    std::string error;  // the first write failure
    std::vector<DeviceEntry> devices;
    std::uint8_t nextAddress = kFirstAddress;
    std::uint64_t nextTransfer = 1;
};

State state;
std::atomic<bool> captureOpen{false};  // read on every report operation: no lock for the common "no"

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
void Put32(Bytes& out, std::uint32_t value)
{
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}
void Put64(Bytes& out, std::uint64_t value)
{
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}
void Set16(Bytes& out, std::size_t at, std::uint16_t value)
{
    out[at] = static_cast<std::uint8_t>(value);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void Set32(Bytes& out, std::size_t at, std::uint32_t value)
{
    Set16(out, at, static_cast<std::uint16_t>(value));
    Set16(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}
void Set64(Bytes& out, std::size_t at, std::uint64_t value)
{
    Set32(out, at, static_cast<std::uint32_t>(value));
    Set32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}
void PadTo4(Bytes& out)
{
    while (out.size() % 4 != 0) out.push_back(0);
}

void PutOption(Bytes& out, std::uint16_t code, const void* value, std::size_t length)
{
    Put16(out, code);
    Put16(out, static_cast<std::uint16_t>(length));
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    out.insert(out.end(), bytes, bytes + length);
    PadTo4(out);
}

void PutOptionText(Bytes& out, std::uint16_t code, const std::string& text)
{
    PutOption(out, code, text.data(), text.size());
}

// Writes one block around body (type, lengths, padding). Caller holds the mutex.
void WriteBlock(std::uint32_t type, Bytes body)
{
    PadTo4(body);
    const std::uint32_t total = static_cast<std::uint32_t>(body.size() + 12);
    Bytes block;
    block.reserve(total);
    Put32(block, type);
    Put32(block, total);
    block.insert(block.end(), body.begin(), body.end());
    Put32(block, total);
    if (!state.file || !state.error.empty()) return;
    if (std::fwrite(block.data(), 1, block.size(), state.file) != block.size()) {
        state.error = "cannot write the capture " + state.path + ": " + std::strerror(errno);
    }
}

void WriteFileHeader(const std::string& interfaceName)
{
    Bytes section;
    Put32(section, kByteOrderMagic);
    Put16(section, kPcapngMajor);
    Put16(section, kPcapngMinor);
    Put64(section, kSectionLengthUnknown);
    PutOptionText(section, kOptionShbUserApplication, "oskel HID capture");
    PutOption(section, kOptionEnd, nullptr, 0);
    WriteBlock(kSectionHeaderBlock, section);

    Bytes description;
    Put16(description, static_cast<std::uint16_t>(state.link));
    Put16(description, 0);  // reserved
    Put32(description, kNoSnapshotLimit);
    const char* name = state.link == CaptureLink::Usbmon ? "usbmon1" : "\\\\.\\USBPcap1";
    PutOptionText(description, kOptionIfName, interfaceName.empty() ? name : interfaceName);
    PutOption(description, kOptionIfTimeResolution, &kMicroseconds, 1);
    PutOption(description, kOptionEnd, nullptr, 0);
    WriteBlock(kInterfaceDescriptionBlock, description);
}

void WritePacket(std::uint64_t timeUs, const Bytes& packet)
{
    Bytes body;
    Put32(body, 0);  // interface 0
    Put32(body, static_cast<std::uint32_t>(timeUs >> 32));
    Put32(body, static_cast<std::uint32_t>(timeUs));
    Put32(body, static_cast<std::uint32_t>(packet.size()));  // captured
    Put32(body, static_cast<std::uint32_t>(packet.size()));  // on the wire
    body.insert(body.end(), packet.begin(), packet.end());
    PadTo4(body);
    WriteBlock(kEnhancedPacketBlock, std::move(body));
}

// One transfer as the bus carries it.
struct BusTransfer {
    const DeviceEntry* device;
    std::uint8_t type;
    std::uint8_t endpoint;         // with the direction bit
    const std::uint8_t* setup;     // 8 bytes for a control transfer, else null
    std::uint16_t usbPcapFunction;
    const std::uint8_t* out;       // data from the host
    std::size_t outLength;
    const std::uint8_t* in;        // data from the device (when completed)
    std::size_t inLength;
    std::size_t inRequested;       // the length the host asks for
    CaptureStatus status;
    std::uint64_t submittedUs;
    std::uint64_t completedUs;
};

// A completion's status. DeviceGone never gets here: such a transfer is not on the bus.
std::int32_t UsbmonStatus(CaptureStatus status)
{
    switch (status) {
    case CaptureStatus::Completed: return 0;
    case CaptureStatus::Refused: return kErrnoPipe;
    case CaptureStatus::TimedOut: return kErrnoNoEntry;
    case CaptureStatus::DeviceGone:
    case CaptureStatus::Unplugged: return kErrnoShutdown;  // the host controller gives it back
    case CaptureStatus::Failed: return kErrnoProtocol;
    }
    return kErrnoProtocol;
}

std::uint32_t UsbPcapStatus(CaptureStatus status)
{
    switch (status) {
    case CaptureStatus::Completed: return kUsbdSuccess;
    case CaptureStatus::Refused: return kUsbdStallPid;
    case CaptureStatus::TimedOut: return kUsbdCanceled;
    case CaptureStatus::DeviceGone:
    case CaptureStatus::Unplugged: return kUsbdDeviceGone;
    case CaptureStatus::Failed: return kUsbdTransactionError;
    }
    return kUsbdTransactionError;
}

bool IsIn(const BusTransfer& t) { return (t.endpoint & usb::kDirectionIn) != 0; }

// The URB's transfer flags as usbhid submits it: its own interrupt IN URB is mapped for DMA by
// the driver; writes (usb_interrupt_msg) and report requests (usb_control_msg) are not.
// usb_submit_urb adds the direction: IN for an IN endpoint, and for a control transfer that
// reads data.
std::uint32_t UsbhidFlags(const BusTransfer& t)
{
    const bool in = t.type == kTransferControl
                        ? (t.setup[usb::SetupField::kRequestType] & usb::kDirectionIn) != 0 && t.inRequested != 0
                        : IsIn(t);
    const std::uint32_t driver = t.type == kTransferInterrupt && in ? kUrbNoTransferDmaMap : 0;
    return driver | (in ? kUrbDirIn : 0);
}

// One usbmon event: 'S' or 'C'.
void WriteUsbmonEvent(const BusTransfer& t, std::uint64_t tag, char type)
{
    const bool submission = type == kUsbmonSubmit;
    const bool completed = t.status == CaptureStatus::Completed;
    const std::uint8_t* data = nullptr;
    std::size_t dataLength = 0;
    std::uint32_t length = 0;
    char dataFlag = 0;
    if (type == kUsbmonSubmit) {
        data = t.out;
        dataLength = t.outLength;
        length = static_cast<std::uint32_t>(IsIn(t) ? t.inRequested : t.outLength);
        if (IsIn(t)) dataFlag = kInDataNotYet;
    } else if (type == kUsbmonComplete) {
        if (IsIn(t) && completed) {
            data = t.in;
            dataLength = t.inLength;
        }
        length = static_cast<std::uint32_t>(completed ? (IsIn(t) ? t.inLength : t.outLength) : 0);
        if (!IsIn(t)) dataFlag = kOutDataGone;
    }

    Bytes packet(UsbmonField::kSize, 0);
    Set64(packet, UsbmonField::kId, tag);
    packet[UsbmonField::kType] = static_cast<std::uint8_t>(type);
    packet[UsbmonField::kTransfer] = t.type;
    packet[UsbmonField::kEndpoint] = t.endpoint;
    packet[UsbmonField::kDevice] = t.device->address;
    Set16(packet, UsbmonField::kBus, t.device->bus);
    const bool withSetup = type == kUsbmonSubmit && t.setup != nullptr;
    packet[UsbmonField::kSetupFlag] = withSetup ? 0 : static_cast<std::uint8_t>(kNoSetup);
    packet[UsbmonField::kDataFlag] = static_cast<std::uint8_t>(dataFlag);
    const std::uint64_t timeUs = submission ? t.submittedUs : t.completedUs;
    Set64(packet, UsbmonField::kSeconds, timeUs / 1000000);
    Set32(packet, UsbmonField::kMicros, static_cast<std::uint32_t>(timeUs % 1000000));
    const std::int32_t status = type == kUsbmonSubmit ? kErrnoInProgress : UsbmonStatus(t.status);
    Set32(packet, UsbmonField::kStatus, static_cast<std::uint32_t>(status));
    Set32(packet, UsbmonField::kLength, length);
    Set32(packet, UsbmonField::kCaptured, static_cast<std::uint32_t>(dataLength));
    if (withSetup) std::memcpy(packet.data() + UsbmonField::kSetup, t.setup, usb::kSetupLength);
    if (t.type == kTransferInterrupt) Set32(packet, UsbmonField::kInterval, usb::kIntervalFrames);
    Set32(packet, UsbmonField::kFlags, UsbhidFlags(t));
    if (dataLength) packet.insert(packet.end(), data, data + dataLength);
    WritePacket(timeUs, packet);
}

void WriteUsbmon(const BusTransfer& t, std::uint64_t number)
{
    const std::uint64_t tag = kUrbTagBase + number * kUrbTagStep;
    WriteUsbmonEvent(t, tag, kUsbmonSubmit);
    WriteUsbmonEvent(t, tag, kUsbmonComplete);
}

void WriteUsbPcapPacket(const BusTransfer& t, std::uint64_t irp, bool fromDevice,
                        const std::uint8_t* data, std::size_t dataLength, const std::uint8_t* setup)
{
    const bool control = t.type == kTransferControl;
    const std::size_t headerLength = control ? UsbPcapField::kControlSize : UsbPcapField::kSize;
    const std::size_t payload = dataLength + (setup ? 8 : 0);
    Bytes packet(headerLength, 0);
    Set16(packet, UsbPcapField::kHeaderLength, static_cast<std::uint16_t>(headerLength));
    Set64(packet, UsbPcapField::kIrpId, irp);
    Set32(packet, UsbPcapField::kStatus, fromDevice ? UsbPcapStatus(t.status) : kUsbdSuccess);
    Set16(packet, UsbPcapField::kFunction, t.usbPcapFunction);
    packet[UsbPcapField::kInfo] = fromDevice ? kInfoFromDevice : 0;
    Set16(packet, UsbPcapField::kBus, t.device->bus);
    Set16(packet, UsbPcapField::kDevice, t.device->address);
    packet[UsbPcapField::kEndpoint] = t.endpoint;
    packet[UsbPcapField::kTransfer] = t.type;
    Set32(packet, UsbPcapField::kDataLength, static_cast<std::uint32_t>(payload));
    if (control) packet[UsbPcapField::kControlStage] = fromDevice ? kStageComplete : kStageSetup;
    if (setup) packet.insert(packet.end(), setup, setup + 8);
    if (dataLength) packet.insert(packet.end(), data, data + dataLength);
    WritePacket(fromDevice ? t.completedUs : t.submittedUs, packet);
}

// USBPcap: the request on its way down (a control transfer's setup stage, with the data from
// the host), then its completion (with the data from the device).
void WriteUsbPcap(const BusTransfer& t, std::uint64_t number)
{
    const std::uint64_t irp = kIrpIdBase + number * kUrbTagStep;
    WriteUsbPcapPacket(t, irp, false, t.out, t.outLength, t.setup);
    const bool withData = IsIn(t) && t.status == CaptureStatus::Completed;
    WriteUsbPcapPacket(t, irp, true, withData ? t.in : nullptr, withData ? t.inLength : 0, nullptr);
}

// Caller holds the mutex. A transfer for a device that had gone never reaches the bus:
// usb_submit_urb refuses it before usbmon sees it, and hidclass fails it before USBPcap does.
void WriteBusTransfer(const BusTransfer& t)
{
    if (t.status == CaptureStatus::DeviceGone) return;
    const std::uint64_t number = state.nextTransfer++;
    if (state.link == CaptureLink::Usbmon) WriteUsbmon(t, number);
    else WriteUsbPcap(t, number);
}

std::array<std::uint8_t, 8> Setup(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                  std::uint16_t index, std::uint16_t length)
{
    return {requestType,
            request,
            static_cast<std::uint8_t>(value),
            static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(index),
            static_cast<std::uint8_t>(index >> 8),
            static_cast<std::uint8_t>(length),
            static_cast<std::uint8_t>(length >> 8)};
}

// A control transfer that completes at once (the enumeration's requests).
void WriteControl(const DeviceEntry& device, const std::array<std::uint8_t, 8>& setup,
                  std::uint16_t function, const Bytes& reply, std::uint64_t timeUs)
{
    const bool in = (setup[0] & usb::kDirectionIn) != 0;
    BusTransfer t{&device, kTransferControl, static_cast<std::uint8_t>(in ? usb::kDirectionIn : 0), setup.data(),
                  function, nullptr, 0, reply.data(), reply.size(), reply.size(), CaptureStatus::Completed,
                  timeUs, timeUs};
    WriteBusTransfer(t);
}

usb::UsbHidDevice DescribedDevice(const CaptureDevice& device)
{
    usb::UsbHidDevice described;
    described.vendorId = device.vendorId;
    described.productId = device.productId;
    for (const CaptureInterface& usbInterface : device.interfaces) {
        described.interfaces.push_back({static_cast<std::uint16_t>(usbInterface.reportDescriptor.size()),
                                        usbInterface.hasInterruptOut, usbInterface.bootProtocol});
    }
    return described;
}

// Caller holds the mutex.
const DeviceEntry* FindDevice(int number)
{
    if (number < 1 || static_cast<std::size_t>(number) > state.devices.size()) return nullptr;
    return &state.devices[static_cast<std::size_t>(number - 1)];
}

void KeepError(const std::string& error)
{
    if (state.error.empty()) state.error = error;
}

}  // namespace

bool CaptureOpen(const std::string& path, CaptureLink link, std::string& error, const std::string& interfaceName)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create the capture " + path + ": " + std::strerror(errno);
        return false;
    }
    return CaptureOpenStream(file, path, link, error, interfaceName);
}

bool CaptureOpenStream(std::FILE* file, const std::string& name, CaptureLink link, std::string& error,
                       const std::string& interfaceName)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.file) {
        error = "a capture is open already (" + state.path + ")";
        std::fclose(file);
        return false;
    }
    state.file = file;
    state.link = link;
    state.path = name;
    state.error.clear();
    state.devices.clear();
    state.nextAddress = kFirstAddress;
    state.nextTransfer = 1;
    WriteFileHeader(interfaceName);
    captureOpen = true;
    return true;
}

bool CaptureIsOpen() { return captureOpen; }

int CaptureAddDevice(const CaptureDevice& device, std::uint64_t timeUs)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.file) return 0;
    if (device.interfaces.empty() || device.interfaces.size() > usb::kMaxHidInterfaces) {
        KeepError("a device of " + std::to_string(device.interfaces.size()) + " interfaces (1 to 15)");
        return 0;
    }
    DeviceEntry entry{device.bus ? device.bus : kDefaultBus, device.address, {}};
    for (const CaptureInterface& usbInterface : device.interfaces) {
        if (usbInterface.reportDescriptor.size() > kMaxControlData) {
            KeepError("a report descriptor of " + std::to_string(usbInterface.reportDescriptor.size()) +
                      " bytes is longer than a control transfer carries");
            return 0;
        }
        entry.hasInterruptOut.push_back(usbInterface.hasInterruptOut);
    }
    if (entry.address == 0) {
        entry.address = state.nextAddress;
        state.nextAddress = state.nextAddress == kLastAddress ? kFirstAddress : state.nextAddress + 1;
    }
    state.devices.push_back(entry);
    const DeviceEntry& added = state.devices.back();

    const usb::UsbHidDevice described = DescribedDevice(device);
    const Bytes deviceDescriptor = usb::DeviceDescriptor(described);
    const Bytes configuration = usb::ConfigurationDescriptorSet(described);
    WriteControl(added,
                 Setup(usb::kStandardDeviceIn, usb::kGetDescriptor, usb::kDescriptorDevice << 8, 0,
                       static_cast<std::uint16_t>(deviceDescriptor.size())),
                 kFunctionDeviceDescriptor, deviceDescriptor, timeUs);
    WriteControl(added,
                 Setup(usb::kStandardDeviceIn, usb::kGetDescriptor, usb::kDescriptorConfiguration << 8, 0,
                       static_cast<std::uint16_t>(configuration.size())),
                 kFunctionDeviceDescriptor, configuration, timeUs);
    WriteControl(added, Setup(0x00, usb::kSetConfiguration, usb::kConfigurationValue, 0, 0), kFunctionControl, {},
                 timeUs);
    for (std::size_t i = 0; i < device.interfaces.size(); ++i) {
        const Bytes& report = device.interfaces[i].reportDescriptor;
        WriteControl(added,
                     Setup(usb::kStandardInterfaceIn, usb::kGetDescriptor, usb::kDescriptorReport << 8,
                           static_cast<std::uint16_t>(i), static_cast<std::uint16_t>(report.size())),
                     kFunctionInterfaceDescriptor, report, timeUs);
    }
    return static_cast<int>(state.devices.size());
}

void CaptureRecord(const CaptureTransfer& transfer)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.file) return;
    const DeviceEntry* device = FindDevice(transfer.device);
    if (!device || !transfer.bytes || transfer.length == 0) return;
    if (transfer.usbInterface >= device->hasInterruptOut.size()) {
        KeepError("a transfer recorded for interface " + std::to_string(transfer.usbInterface) + " of a device with " +
                  std::to_string(device->hasInterruptOut.size()));
        return;
    }
    const bool hasInterruptOut = device->hasInterruptOut[transfer.usbInterface];
    const std::uint8_t reportId = transfer.bytes[0];
    // A report id of 0 stands for "no report ids": it does not travel.
    const std::size_t skip = reportId == 0 ? 1 : 0;
    const std::uint8_t* wire = transfer.bytes + skip;
    const std::size_t wireLength = transfer.length - skip;
    if (wireLength > kMaxControlData) {
        KeepError("a report of " + std::to_string(transfer.length) + " bytes is longer than a transfer carries");
        return;
    }
    const bool completed = transfer.status == CaptureStatus::Completed;
    BusTransfer t{device, kTransferInterrupt, 0, nullptr, kFunctionInterrupt, nullptr, 0, nullptr, 0, 0,
                  transfer.status, transfer.submittedUs, transfer.completedUs};
    std::array<std::uint8_t, 8> setup{};
    switch (transfer.kind) {
    case CaptureKind::InterruptOut:
        t.endpoint = usb::InterruptOutEndpoint(transfer.usbInterface);
        if (!hasInterruptOut) {
            KeepError("an interrupt OUT transfer recorded for a device without that endpoint");
            return;
        }
        t.out = wire;
        t.outLength = wireLength;
        break;
    case CaptureKind::InterruptIn:
        t.endpoint = usb::InterruptInEndpoint(transfer.usbInterface);
        t.inRequested = usb::kFullSpeedMaxPacket;
        if (completed) {
            t.in = wire;
            t.inLength = wireLength;
        }
        break;
    case CaptureKind::SetReport:
    case CaptureKind::GetReport: {
        const bool set = transfer.kind == CaptureKind::SetReport;
        const auto value = static_cast<std::uint16_t>(static_cast<std::uint16_t>(transfer.reportType) << 8 | reportId);
        setup = Setup(set ? usb::kClassInterfaceOut : usb::kClassInterfaceIn, set ? usb::kHidSetReport : usb::kHidGetReport, value,
                      static_cast<std::uint16_t>(transfer.usbInterface), static_cast<std::uint16_t>(wireLength));
        t.type = kTransferControl;
        t.endpoint = set ? 0 : usb::kDirectionIn;
        t.setup = setup.data();
        t.usbPcapFunction = kFunctionClassInterface;
        if (set) {
            t.out = wire;
            t.outLength = wireLength;
        } else {
            t.inRequested = wireLength;
            if (completed) {
                t.in = wire;
                t.inLength = wireLength;
            }
        }
        break;
    }
    }
    WriteBusTransfer(t);
}

void CapturePacket(const std::uint8_t* packet, std::size_t length, std::uint64_t timeUs)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.file || !packet || length == 0) return;
    WritePacket(timeUs, Bytes(packet, packet + length));
}

bool CaptureClose(std::string& error)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.file) return true;
    if (std::fclose(state.file) != 0) KeepError("cannot write the capture " + state.path + ": " + std::strerror(errno));
    state.file = nullptr;
    captureOpen = false;
    state.devices.clear();
    error = state.error;
    return state.error.empty();
}

std::uint64_t CaptureClock()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

}  // namespace capture
