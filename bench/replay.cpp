#include "bench/replay.h"

#include <chrono>
#include <memory>
#include <sstream>
#include <string>

#include "codec/hex_text.h"
#include "models/models.h"
#include "protocol/time_limits.h"
#include "sim/hid_bus.h"
#include "sim/scenario.h"
#include "sim/trace.h"

namespace bench {
namespace {


std::shared_ptr<models::HidDevice> NewDevice(int mode)
{
    switch (mode) {
    case 1: return models::MakeProtocol1Device();
    case 2: return models::MakeProtocol2Device();
    default: return models::MakeProtocol3Device();
    }
}

// The interface the updater talks through: the vendor collection when there is one.
std::size_t TransferCollection(const models::HidDevice& device)
{
    for (std::size_t i = 0; i < device.collections.size(); ++i) {
        if (device.collections[i].usagePage == 0xFF00 && device.collections[i].usage == 0x0001) return i;
    }
    return 0;
}

}  // namespace

std::vector<LinkOperation> CaptureDownload(int mode)
{
    sim::BeginWorld({1000, true});
    auto device = NewDevice(mode);
    sim::Plug(device);
    sim::RunDownload(sim::Road::Arrival, mode, device);
    std::vector<LinkOperation> operations;
    for (const std::string& line : sim::TraceLines()) {
        std::istringstream fields(line);
        std::string event, status, hex;
        fields >> event >> status >> hex;
        if (status != "ok") continue;
        LinkOperation operation{LinkOperation::Kind::Write, codec::FromHex(hex)};
        if (event == "write") operation.kind = LinkOperation::Kind::Write;
        else if (event == "read") operation.kind = LinkOperation::Kind::Read;
        else if (event == "set-output") operation.kind = LinkOperation::Kind::SetOutput;
        else if (event == "get-input") operation.kind = LinkOperation::Kind::GetInput;
        else continue;
        // A read starts from a buffer holding only its report id.
        if (operation.kind == LinkOperation::Kind::Read) std::fill(operation.bytes.begin(), operation.bytes.end(), 0);
        if (operation.kind == LinkOperation::Kind::GetInput) {
            std::fill(operation.bytes.begin() + 1, operation.bytes.end(), 0);
        }
        operations.push_back(std::move(operation));
    }
    sim::EndWorld();
    return operations;
}

bool Replay(int mode, const std::vector<LinkOperation>& operations, std::uint32_t latencyMs, double& seconds)
{
    sim::ResetBus();
    sim::TraceOpen();
    sim::TraceKeepLines(false);
    auto device = NewDevice(mode);
    device->latencyMs = latencyMs;
    sim::Plug(device);
    const platform::DeviceHandle handle = sim::BusOpen(device->PathOf(TransferCollection(*device)), true).handle;
    std::vector<LinkOperation> work = operations;  // reads overwrite their buffers

    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    for (LinkOperation& operation : work) {
        std::uint8_t* bytes = operation.bytes.data();
        const std::size_t length = operation.bytes.size();
        switch (operation.kind) {
        case LinkOperation::Kind::Write: ok = sim::BusWrite(handle, bytes, length, kReportWriteLimitMs).done(); break;
        case LinkOperation::Kind::Read: ok = sim::BusRead(handle, bytes, length, kReplyReadLimitMs).done(); break;
        case LinkOperation::Kind::SetOutput:
            ok = sim::BusSetOutputReport(handle, bytes, length, kReportWriteLimitMs).done();
            break;
        case LinkOperation::Kind::GetInput: ok = sim::BusGetInputReport(handle, bytes, length, kReplyReadLimitMs).done(); break;
        }
        if (!ok) break;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ok = ok && device->DownloadComplete();
    sim::BusClose(handle);
    sim::ResetBus();
    return ok;
}

}  // namespace bench
