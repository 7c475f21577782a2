#include "tests/linux/device/uhid_controller.h"

#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "models/report_descriptor.h"
#include "tests/rig/model_pipes.h"

namespace rig {
namespace {

constexpr char kUhidPath[] = "/dev/uhid";

// The device's version in its HID id (bcdDevice), and the name hid-core logs.
constexpr std::uint32_t kDeviceVersion = 0x0100;
constexpr char kNamePrefix[] = "Oskel rig controller";

std::string SystemError(const char* operation)
{
    return std::string(operation) + ": " + std::strerror(errno);
}

}  // namespace

UhidController::UhidController(std::shared_ptr<models::HidDevice> model)
    : model_(std::move(model)), descriptor_(models::ReportDescriptor(model_->collections))
{
}

UhidController::~UhidController()
{
    for (platform::DeviceHandle handle : handles_) sim::BusClose(handle);
    if (uhid_ >= 0) close(uhid_);  // destroys the device, if it is still there
}

void UhidController::SetIdentity(std::uint16_t bus, const std::string& name)
{
    bus_ = bus;
    name_ = name;
}

bool UhidController::Plug(std::string& error)
{
    if (descriptor_.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error = "report descriptor of " + std::to_string(descriptor_.size()) + " bytes, uhid takes " +
                std::to_string(HID_MAX_DESCRIPTOR_SIZE);
        return false;
    }
    sim::Plug(model_);
    for (std::size_t i = 0; i < model_->collections.size(); ++i)
        handles_.push_back(sim::BusOpen(model_->PathOf(i), true).handle);

    uhid_ = open(kUhidPath, O_RDWR | O_CLOEXEC);
    if (uhid_ < 0) {
        error = SystemError("open /dev/uhid");
        return false;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& create = event.u.create2;
    if (name_.empty()) {
        std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s %04x:%04x", kNamePrefix,
                      model_->vendorId, model_->productId);
    } else {
        std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "%s", name_.c_str());
    }
    std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "oskel-rig/%04x:%04x", model_->vendorId,
                  model_->productId);
    create.rd_size = static_cast<std::uint16_t>(descriptor_.size());
    create.bus = bus_;
    create.vendor = model_->vendorId;
    create.product = model_->productId;
    create.version = kDeviceVersion;
    std::copy(descriptor_.begin(), descriptor_.end(), create.rd_data);
    if (!Send(event)) {
        error = SystemError("UHID_CREATE2");
        return false;
    }
    created_ = true;
    return true;
}

void UhidController::Serve(std::string& error)
{
    while (!model_->removed) {
        uhid_event event{};
        const ssize_t got = read(uhid_, &event, sizeof event);
        if (got < 0 && errno == EINTR) continue;
        if (got < static_cast<ssize_t>(sizeof event.type)) {
            error = got < 0 ? SystemError("read /dev/uhid") : "short event from /dev/uhid";
            return;
        }
        switch (event.type) {
        case UHID_OUTPUT: TakeOutput(event.u.output); break;
        case UHID_GET_REPORT: AnswerGetReport(event.u.get_report); break;
        case UHID_SET_REPORT: RefuseSetReport(event.u.set_report); break;
        default: break;  // UHID_START, UHID_STOP, UHID_OPEN, UHID_CLOSE: nothing to do
        }
    }
    // The model was unplugged by a fault: so is the device.
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    error = Send(destroy) ? "the controller was unplugged" : SystemError("UHID_DESTROY");
}

void UhidController::TakeOutput(const uhid_output_req& output)
{
    const std::size_t length = std::min<std::size_t>(output.size, sizeof output.data);
    if (length == 0) return;
    times_.NoteReport();

    const std::size_t collection = CollectionDeclaring(*model_, ReportDirection::Output, output.data[0]);
    const platform::DeviceHandle handle = handles_[collection];
    const bool taken = TakesSetOutputRequests(*model_)
                           ? sim::BusSetOutputReport(handle, output.data, length, kHungDeviceMs).done()
                           : sim::BusWrite(handle, output.data, length, kHungDeviceMs).done();
    const models::HidCollection& declaration = model_->collections[collection];
    if (!taken || !AnswersEachWrite(*model_) || declaration.inputLength == 0 ||
        declaration.inputLength > sizeof(uhid_input2_req::data))
        return;

    // The model fills a buffer that starts with the report id, 0 when the collection numbers no
    // reports; such a report goes up without that 0, as a device sends it.
    std::uint8_t buffer[sizeof(uhid_input2_req::data) + 1] = {};
    buffer[0] = declaration.inputReportId;
    if (!sim::BusRead(handle, buffer, declaration.inputLength, kAnswerNowMs)) return;
    const std::size_t skipped = models::NumbersReports(declaration) ? 0 : 1;
    uhid_event input{};
    input.type = UHID_INPUT2;
    input.u.input2.size = static_cast<std::uint16_t>(declaration.inputLength - skipped);
    std::copy(buffer + skipped, buffer + declaration.inputLength, input.u.input2.data);
    Send(input);
}

void UhidController::AnswerGetReport(const uhid_get_report_req& request)
{
    uhid_event reply{};
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = request.id;
    reply.u.get_report_reply.err = EIO;
    if (request.rtype == UHID_INPUT_REPORT) {
        const std::size_t collection = CollectionDeclaring(*model_, ReportDirection::Input, request.rnum);
        // A collection without input reports gets a buffer of the id alone, which the bus refuses.
        const std::size_t length = std::clamp<std::size_t>(model_->collections[collection].inputLength, 1,
                                                           sizeof reply.u.get_report_reply.data);
        std::uint8_t* buffer = reply.u.get_report_reply.data;
        buffer[0] = request.rnum;
        if (sim::BusGetInputReport(handles_[collection], buffer, length, kHungDeviceMs)) {
            reply.u.get_report_reply.err = 0;
            reply.u.get_report_reply.size = static_cast<std::uint16_t>(length);
        }
    }
    Send(reply);
}

void UhidController::RefuseSetReport(const uhid_set_report_req& request)
{
    uhid_event reply{};
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = request.id;
    reply.u.set_report_reply.err = EIO;
    Send(reply);
}

bool UhidController::Send(uhid_event& event)
{
    for (;;) {
        const ssize_t written = write(uhid_, &event, sizeof event);
        if (written == static_cast<ssize_t>(sizeof event)) return true;
        if (written < 0 && errno == EINTR) continue;
        return false;
    }
}

}  // namespace rig
