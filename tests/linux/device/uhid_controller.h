// One simulated controller behind the Linux kernel's HID stack: the device model on the
// simulated bus, one bus handle per top-level collection, and one uhid device whose report
// descriptor declares every collection of the model (models::ReportDescriptor), as one USB interface
// declares them. hid-core parses that descriptor, hid-generic binds the device and hidraw gives
// it a node.
//
// uhid tells the device what the host asked for, one event at a time, in order:
//
//   UHID_OUTPUT      an output report, from a write() or a HIDIOCSOUTPUT on the node: hidraw
//                    sends both over the transport's output path, so the device cannot tell them
//                    apart. A model that takes set-output requests only (protocol 1's boot loader)
//                    gets it as a set-output request, every other model as a write.
//   UHID_GET_REPORT  a HIDIOCGINPUT (or a feature request): answered from the model's get-input
//                    with UHID_GET_REPORT_REPLY; feature requests are refused.
//   UHID_SET_REPORT  a feature report: refused (no model has any).
//
// Input is pushed: when the model answers each write (protocol 3), the answer is asked of the
// model right after the write and pushed as UHID_INPUT2, which hidraw queues for read(). hid-core
// takes buffers with the report id in byte 0, also 0 for a device that numbers no reports (an
// output report, a get-input reply), but input reports as the device sends them: with their id
// when the device numbers its reports, and without the 0 byte when it does not. Neither
// event says how long the host's buffer is (hidraw checks no length against the descriptor): the
// collection is the one whose report id the report carries, and the simulated bus checks the
// report against that collection's declaration as Windows' class driver would, so a report of
// another length is refused and counted (stack-refusals), not passed to the model.
//
// A report or request that the model stalls holds the controller for kHungDeviceMs, as a hung
// device does. When the model is removed (a removal fault), the uhid device is destroyed.
#pragma once

#include <linux/input.h>
#include <linux/uhid.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/hid_bus.h"
#include "tests/linux/device/controller_program.h"

namespace rig {

class UhidController {
public:
    explicit UhidController(std::shared_ptr<models::HidDevice> model);
    ~UhidController();
    UhidController(const UhidController&) = delete;
    UhidController& operator=(const UhidController&) = delete;

    // The bus in the device's HID id (BUS_USB unless set) and its name ("Oskel rig controller
    // VID:PID" unless set), before Plug.
    void SetIdentity(std::uint16_t bus, const std::string& name);
    // Opens /dev/uhid and creates the device; false with the reason in error.
    bool Plug(std::string& error);
    // Serves the kernel's events until the model is removed or /dev/uhid fails; the reason it
    // stopped in error.
    void Serve(std::string& error);

    const models::HidDevice& Model() const { return *model_; }
    const std::vector<std::uint8_t>& Descriptor() const { return descriptor_; }
    const ReportTimes& Times() const { return times_; }

private:
    std::uint16_t bus_ = BUS_USB;
    std::string name_;
    void TakeOutput(const uhid_output_req& output);
    void AnswerGetReport(const uhid_get_report_req& request);
    void RefuseSetReport(const uhid_set_report_req& request);
    bool Send(uhid_event& event);

    const std::shared_ptr<models::HidDevice> model_;
    const std::vector<std::uint8_t> descriptor_;
    std::vector<platform::DeviceHandle> handles_;  // one per collection
    int uhid_ = -1;
    bool created_ = false;
    ReportTimes times_;
};

}  // namespace rig
