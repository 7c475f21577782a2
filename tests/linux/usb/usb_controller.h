// One simulated controller as a full-speed USB device: the device side of every transfer the
// host makes, with the device model on the simulated bus behind it (one bus handle per top-level
// collection, so the bus checks each report against its collection's declaration as Windows'
// class driver would).
//
// The device declares what a real controller declares (codec/usb_hid_descriptors.h): one
// configuration with one HID interface whose report descriptor declares every collection of the
// model (models::ReportDescriptor), an interrupt IN endpoint 0x81 and, when the model has output
// reports, an interrupt OUT endpoint 0x01; a manufacturer and a product string.
//
// Each report reaches the model by the pipe it came on, and the models are strict about it:
//
//   interrupt OUT (0x01)        a write: protocol 1's boot loader refuses it as a protocol error;
//                               the report id travels when the model numbers its output reports
//                               (a 0 is put in front for the model when it does not)
//   SET_REPORT(Output) on ep 0  a set-output request: the models of protocols 2 and 3 refuse it
//   GET_REPORT(Input) on ep 0   a get-input request
//   interrupt IN (0x81)         the answers of a model that answers each write (protocol 3), in
//                               order, without the id 0 in front
//
// Endpoint 0 also answers what usbcore and usbhid ask while they enumerate and bind the device:
// GET_DESCRIPTOR (device, configuration, strings; to the interface: HID and report), SET and
// GET_CONFIGURATION, GET_STATUS, SET and GET_INTERFACE (setting 0), CLEAR_FEATURE, SET_IDLE,
// GET_IDLE. Every other request stalls, as does a device qualifier request (the device is full
// speed only).
//
// A report or request that the model refuses is a stall (the STALL handshake, -EPIPE at the
// host); one that the model stalls (a "never completes" fault) holds the calling thread for
// rig::kHungDeviceMs, so that the host sees no answer until it gives the transfer up.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/usb_hid_descriptors.h"
#include "platform/types.h"
#include "tests/linux/device/controller_program.h"

namespace rig {

// The controller's one HID interface: number 0, with the interrupt endpoints of that position.
inline constexpr std::uint8_t kHidInterfaceNumber = 0;
inline constexpr std::uint8_t kInterruptInEndpoint = usb::InterruptInEndpoint(kHidInterfaceNumber);
inline constexpr std::uint8_t kInterruptOutEndpoint = usb::InterruptOutEndpoint(kHidInterfaceNumber);

// What the device did with a transfer.
struct DeviceAnswer {
    bool stalled = false;
    std::vector<std::uint8_t> data;  // to the host (IN), at most what it asked for
    // After an interrupt OUT transfer of a model that answers each one: the answer, which the
    // device then has for its interrupt IN endpoint.
    std::vector<std::uint8_t> reply;
};

class UsbController {
public:
    explicit UsbController(std::shared_ptr<models::HidDevice> model);
    ~UsbController();
    UsbController(const UsbController&) = delete;
    UsbController& operator=(const UsbController&) = delete;

    // Plugs the model into the simulated bus and opens a handle on each of its collections.
    void Plug();

    // A control transfer on endpoint 0: its setup packet and, host to device, its data stage.
    DeviceAnswer Control(const std::array<std::uint8_t, 8>& setup, const std::vector<std::uint8_t>& out);
    // A transfer on the interrupt OUT endpoint, with the model's answer when it gives one.
    DeviceAnswer InterruptOut(const std::vector<std::uint8_t>& report);

    bool HasInterruptOut() const { return described_.interfaces.front().hasInterruptOut; }
    bool Removed() const;  // the model was unplugged by a fault
    const models::HidDevice& Model() const { return *model_; }
    const std::vector<std::uint8_t>& ReportDescriptor() const { return reportDescriptor_; }
    const ReportTimes& Times() const { return times_; }

private:
    DeviceAnswer StandardRequest(const std::array<std::uint8_t, 8>& setup, std::uint16_t length);
    DeviceAnswer ClassRequest(const std::array<std::uint8_t, 8>& setup, const std::vector<std::uint8_t>& out);
    DeviceAnswer GetDescriptor(std::uint8_t recipient, std::uint8_t type, std::uint8_t index, std::uint16_t length);
    DeviceAnswer SetOutputReport(std::uint8_t reportId, const std::vector<std::uint8_t>& out);
    DeviceAnswer GetInputReport(std::uint8_t reportId, std::uint16_t length);
    std::vector<std::uint8_t> AnswerOf(std::size_t collection);

    const std::shared_ptr<models::HidDevice> model_;
    const std::vector<std::uint8_t> reportDescriptor_;
    const usb::UsbHidDevice described_;
    std::vector<platform::DeviceHandle> handles_;  // one per collection
    std::uint8_t configuration_ = 0;
    std::uint8_t idle_ = 0;
    ReportTimes times_;
};

}  // namespace rig
