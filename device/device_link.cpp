#include "device/device_link.h"

#include "platform/download_claim.h"
#include "platform/hid.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "state/download_modes.h"
#include "state/download_state.h"

DeviceLink* deviceLink = nullptr;

namespace {

struct SupportedVendor {
    std::uint16_t vendorId;
    std::uint16_t productIds[6];
    int productCount;
};

constexpr const DownloadModeFacts& kMode2 = ModeFacts(2);
constexpr const DownloadModeFacts& kMode3 = ModeFacts(3);

// The controllers that "Start" accepts (after the expected pair): normal modes, and the devices of
// the update modes that Start downloads.
constexpr SupportedVendor SupportedDeviceTable[] = {
    {0x045E, {0x028E}, 1},
    {0x054C, {0x0CDA, 0x05C4, 0x0268}, 3},
    {kMode2.vendorId, {kMode2.productId, 0x0002, 0x0001, 0x0555, 0x058D, 0x0516}, 6},
    {0x0079, {0x1843, 0x954E, 0x1846}, 3},
    {0x20BC, {0x5500, 0x5503}, 2},
    {0x2E24, {0x0BFF}, 1},
    {0x0738, {0x0303}, 1},
    {0x057E, {0x2009}, 1},
    {0x0F0D, {0x00F6}, 1},
    {0x0488, {0x572A}, 1},
    {kMode3.vendorId, {kMode3.productId}, 1},
};

static_assert(kMode2.startRoad && kMode3.startRoad);

constexpr std::uint16_t kVendorDefinedUsagePage = 0xFF00;
constexpr std::uint16_t kVendorDefinedUsage = 0x0001;

void CloseIfOpen(platform::DeviceHandle& handle)
{
    if (handle != platform::kInvalidHandle) {
        platform::HidClose(handle);
        handle = platform::kInvalidHandle;
    }
}

}  // namespace

// What distinguishes one finder from another.
struct DeviceLink::FinderRule {
    bool (*accepts)(const DeviceLink& link, std::uint16_t vendorId, std::uint16_t productId);
    CollectionRule collection;
    platform::DeviceHandle DeviceLink::*handle;  // the read-write handle the finder opens
    bool setsUpdateModeFlag;
};

bool IsInSupportedDeviceTable(std::uint16_t vendorId, std::uint16_t productId)
{
    for (const SupportedVendor& vendor : SupportedDeviceTable) {
        if (vendor.vendorId != vendorId) continue;
        for (int i = 0; i < vendor.productCount; ++i) {
            if (vendor.productIds[i] == productId) return true;
        }
    }
    return false;
}

void DeviceLink::QueryDeviceCaps()
{
    platform::DebugOutput("Device detected");
    platform::HidCaps read;
    const bool known = platform::HidGetCaps(probeHandle, read).done();
    platform::DebugOutput("HidD_GetPreparsedData: ");
    platform::DebugOutput("HidP_GetCaps: ");
    platform::DebugOutput("HidD_FreePreparsedData: ");
    // Only caps read from this candidate count; unreadable caps match no usage.
    caps = known ? read : platform::HidCaps{};
    const unsigned combined = caps.UsagePage * 256u + caps.Usage;
    if (combined == 258) platform::DebugOutput("This device is a system mouse");
    else if (combined == 262) platform::DebugOutput("This device is a system keyboard");
}

// The transfer handle was just opened on interfaceDetail: the download claims the interface. When
// another copy of the program holds the claim, the handle is closed again and the debugger output
// says so.
bool DeviceLink::ClaimTransferInterface()
{
    if (platform::ClaimForDownload(interfaceDetail, downloadClaim)) return true;
    const std::string line =
        interfaceDetail + ": another copy of the updater is writing to this controller; no download here";
    platform::DebugOutput(line.c_str());
    CloseIfOpen(transferHandle);
    return false;
}

bool DeviceLink::RunFinder(const FinderRule& rule)
{
    interfaceDetail.clear();
    // The probe handle kept for the device accepted by the previous call is closed here.
    CloseIfOpen(probeHandle);
    found = false;

    // The system opens some collections for reading and writing only for itself (Windows holds
    // keyboards and mice so): when the read-write open of an accepted collection fails, the
    // finder goes on to the next collection of the same device. Only when none of them opens does
    // it end as with a device that another program holds: found, without a handle, and with the
    // probe handle and caps of the first refused collection.
    struct Refused {
        bool any = false;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        platform::DeviceHandle probe = platform::kInvalidHandle;
        platform::HidCaps caps;
    } refused;

    // The finders that open the transfer handle find a controller to download to. One that another
    // copy of the program is writing to ends the search as a refused collection does, without
    // going on to the same device's next collection: that one is not to be written either.
    const bool forDownload = rule.handle == &DeviceLink::transferHandle;
    bool writtenElsewhere = false;

    // The enumeration adds to the list: the previous call's interfaces go first.
    deviceInfoSet.clear();
    platform::HidEnumerateInterfaces(deviceInfoSet);
    for (const std::string& path : deviceInfoSet) {
        interfaceDetail = path;
        probeHandle = platform::HidOpenProbe(interfaceDetail).handle;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        const bool identified = probeHandle != platform::kInvalidHandle &&
                                platform::HidGetAttributes(probeHandle, vendorId, productId);
        const bool sameDevice = !refused.any || (vendorId == refused.vendorId && productId == refused.productId);
        found = false;
        if (identified && sameDevice && rule.accepts(*this, vendorId, productId)) {
            QueryDeviceCaps();
            if (rule.collection == CollectionRule::Any ||
                (caps.UsagePage == kVendorDefinedUsagePage && caps.Usage == kVendorDefinedUsage)) {
                found = true;
                // A handle that this finder opened before is replaced: close it (and give back its
                // claim) first.
                CloseIfOpen(this->*rule.handle);
                if (forDownload) ReleaseClaim();
                const platform::Opened opened = platform::HidOpenReadWrite(interfaceDetail);
                this->*rule.handle = opened.handle;
                if (opened.handle == platform::kInvalidHandle) {
                    platform::DebugOutput((interfaceDetail + ": " + opened.outcome.Text()).c_str());
                    platform::ControllerNotOpened(vendorId, productId, opened.outcome);
                } else if (forDownload && !ClaimTransferInterface()) {
                    writtenElsewhere = true;
                }
                const DownloadModeFacts* updateMode = ModeOfDevice(vendorId, productId);
                if (rule.setsUpdateModeFlag && updateMode && updateMode->startRoad) {
                    downloadState.UpdateModeFlag = 1;
                }
                if (this->*rule.handle == platform::kInvalidHandle) {
                    found = false;
                    if (!refused.any) {
                        refused = {true, vendorId, productId, probeHandle, caps};
                        probeHandle = platform::kInvalidHandle;
                    }
                }
            }
        }
        if (!found) CloseIfOpen(probeHandle);
        interfaceDetail.clear();
        if (found || writtenElsewhere) break;
    }
    if (found) {
        CloseIfOpen(refused.probe);
    } else if (refused.any) {
        found = true;
        probeHandle = refused.probe;
        caps = refused.caps;
    }
    platform::DebugOutput(found ? "Device detected" : "Device not detected");
    platform::DebugOutput("SetupDiDestroyDeviceInfoList");
    return found;
}

bool DeviceLink::FindSupportedDevice()
{
    static const FinderRule rule{
        [](const DeviceLink& link, std::uint16_t vendorId, std::uint16_t productId) {
            return (vendorId == link.expectedVendorId && productId == link.expectedProductId) ||
                   IsInSupportedDeviceTable(vendorId, productId);
        },
        CollectionRule::Any, &DeviceLink::supportedHandle, true};
    return RunFinder(rule);
}

// The finder of an update mode's device, with the collection rule of that mode.
template <std::int32_t Mode>
bool DeviceLink::FindUpdateModeDevice()
{
    static const FinderRule rule{
        [](const DeviceLink&, std::uint16_t vendorId, std::uint16_t productId) {
            return vendorId == ModeFacts(Mode).vendorId && productId == ModeFacts(Mode).productId;
        },
        ModeFacts(Mode).collection, &DeviceLink::transferHandle, false};
    return RunFinder(rule);
}

bool DeviceLink::FindProtocol1Device() { return FindUpdateModeDevice<1>(); }
bool DeviceLink::FindProtocol2Device() { return FindUpdateModeDevice<2>(); }
bool DeviceLink::FindProtocol3Device() { return FindUpdateModeDevice<3>(); }

void DeviceLink::ReleaseClaim() { platform::ReleaseDownloadClaim(downloadClaim); }

void DeviceLink::CloseDeviceLink()
{
    found = false;
    CloseIfOpen(probeHandle);
    CloseIfOpen(transferHandle);
    ReleaseClaim();
    CloseIfOpen(supportedHandle);
}
