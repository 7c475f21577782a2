// What the capture writer puts on the bus for what no simulated run reaches: a device that went
// away before a transfer or during one, as the kernel's usbmon and USBPcap show them, and the
// longest report a control transfer carries. Each file is read back with the capture reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/capture_format.h"
#include "capture/capture_reader.h"
#include "capture/capture_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kEnumerationPackets = 8;  // four control transfers, each submitted and completed

std::string PathOf(const char* name) { return ::testing::TempDir() + name; }

int OpenWithDevice(const std::string& path, capture::CaptureLink link)
{
    std::string error;
    EXPECT_TRUE(capture::CaptureOpen(path, link, error)) << error;
    capture::CaptureDevice device;
    device.vendorId = 0x0461;
    device.productId = 0x4D81;
    capture::CaptureInterface interface;
    interface.reportDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0};
    interface.hasInterruptOut = true;
    device.interfaces.push_back(interface);
    return capture::CaptureAddDevice(device, 1000000);
}

void Record(int device, capture::CaptureKind kind, capture::CaptureStatus status, const Bytes& bytes)
{
    capture::CaptureTransfer transfer;
    transfer.device = device;
    transfer.kind = kind;
    const bool input = kind == capture::CaptureKind::GetReport;
    transfer.reportType = input ? capture::CaptureReportType::Input : capture::CaptureReportType::Output;
    transfer.status = status;
    transfer.bytes = bytes.data();
    transfer.length = bytes.size();
    transfer.submittedUs = 2000000;
    transfer.completedUs = 2000100;
    capture::CaptureRecord(transfer);
}

capture::CaptureContents ReadBack(const std::string& path)
{
    capture::CaptureContents contents;
    capture::CaptureError error;
    EXPECT_TRUE(capture::ReadCaptureFile(path, contents, error)) << capture::ErrorText(error);
    return contents;
}

// A device already gone: usb_submit_urb refuses the URB before usbmon sees it (hidclass fails
// the request before USBPcap does), so nothing is written. A device that goes away while the
// transfer is on the bus: the host controller gives the URB back, -ESHUTDOWN (USBPcap:
// USBD_STATUS_DEVICE_GONE). Never a lone 'E'.
TEST(CaptureWriter, AnUnplugAsTheKernelShowsIt)
{
    const struct {
        capture::CaptureLink link;
        std::int64_t inFlightStatus;
    } links[] = {{capture::CaptureLink::Usbmon, capture::kErrnoShutdown},
                 {capture::CaptureLink::UsbPcap, capture::kUsbdDeviceGone}};
    for (const auto& link : links) {
        const std::string path = PathOf("unplug.pcapng");
        const int device = OpenWithDevice(path, link.link);
        ASSERT_NE(device, 0);
        Record(device, capture::CaptureKind::InterruptOut, capture::CaptureStatus::DeviceGone, Bytes(65, 0));
        Record(device, capture::CaptureKind::InterruptIn, capture::CaptureStatus::Unplugged, Bytes(65, 0));
        std::string error;
        ASSERT_TRUE(capture::CaptureClose(error)) << error;

        const capture::CaptureContents contents = ReadBack(path);
        ASSERT_EQ(contents.packets.size(), kEnumerationPackets + 2);
        const capture::UsbPacket& submitted = contents.packets[kEnumerationPackets];
        const capture::UsbPacket& ended = contents.packets[kEnumerationPackets + 1];
        EXPECT_EQ(submitted.event, capture::UsbEvent::Submit);
        EXPECT_EQ(submitted.endpoint, 0x81);
        EXPECT_EQ(ended.event, capture::UsbEvent::Complete);
        EXPECT_EQ(ended.id, submitted.id);
        EXPECT_EQ(ended.status, link.inFlightStatus);
        EXPECT_EQ(ended.outcome, capture::UsbOutcome::Gone);
        EXPECT_TRUE(ended.data.empty());
    }
}

// wLength has 16 bits: a SET_REPORT carries at most 65535 bytes; a report that would need more
// is refused, and the refusal is kept for CaptureClose.
TEST(CaptureWriter, TheLongestControlTransfer)
{
    const std::string path = PathOf("longest.pcapng");
    const int device = OpenWithDevice(path, capture::CaptureLink::Usbmon);
    ASSERT_NE(device, 0);
    Bytes longest(1 + 0xFFFF, 0x5A);
    longest[0] = 0;  // report id 0 does not travel: 65535 bytes on the bus
    Record(device, capture::CaptureKind::SetReport, capture::CaptureStatus::Completed, longest);
    std::string error;
    ASSERT_TRUE(capture::CaptureClose(error)) << error;
    const capture::CaptureContents contents = ReadBack(path);
    ASSERT_EQ(contents.packets.size(), kEnumerationPackets + 2);
    const capture::UsbPacket& submitted = contents.packets[kEnumerationPackets];
    EXPECT_EQ(submitted.data.size(), 0xFFFFu);
    EXPECT_EQ(submitted.setup[usb::SetupField::kLength], 0xFF);
    EXPECT_EQ(submitted.setup[usb::SetupField::kLength + 1], 0xFF);

    const int again = OpenWithDevice(path, capture::CaptureLink::Usbmon);
    ASSERT_NE(again, 0);
    Bytes tooLong(2 + 0xFFFF, 0x5A);
    tooLong[0] = 0;
    Record(again, capture::CaptureKind::SetReport, capture::CaptureStatus::Completed, tooLong);
    EXPECT_FALSE(capture::CaptureClose(error));
    EXPECT_EQ(error, "a report of 65537 bytes is longer than a transfer carries");
    EXPECT_EQ(ReadBack(path).packets.size(), kEnumerationPackets);
}

}  // namespace
