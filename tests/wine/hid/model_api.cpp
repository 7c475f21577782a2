// The model DLL's exported functions (rig_model.h): thin doors into the controllers.
#include <windows.h>

#include "tests/wine/hid/controller.h"
#include "tests/wine/hid/node_settings.h"
#include "tests/wine/hid/rig_model.h"

namespace {

// The controller's version number, as its device descriptor gives it (bcdDevice 1.00).
constexpr unsigned short kVersion = 0x0100;

}  // namespace

extern "C" {

RigNode* RigNodeOpen(void* deviceKey, const RigDriverCalls* calls)
{
    rig::NodeSettings settings;
    if (deviceKey == nullptr || calls == nullptr || calls->arm == nullptr || calls->complete == nullptr ||
        !rig::ReadNodeSettings(static_cast<HKEY>(deviceKey), settings))
        return nullptr;
    return rig::Controller::OpenNode(settings, *calls);
}

void RigNodeAttributes(const RigNode* node, unsigned short* vendorId, unsigned short* productId,
                       unsigned short* version)
{
    *vendorId = node->controller->VendorId();
    *productId = node->controller->ProductId();
    *version = kVersion;
}

const unsigned char* RigNodeReportDescriptor(const RigNode* node, size_t* length)
{
    *length = node->descriptor.size();
    return node->descriptor.data();
}

int RigNodeSubmit(RigNode* node, const RigRequest* request)
{
    return node->controller->Submit(node, *request);
}

int RigNodeForget(RigNode* node, void* context)
{
    return node->controller->Forget(node, context);
}

void RigNodeUnplug(RigNode* node)
{
    node->controller->Unplug(node);
}

void RigNodeClose(RigNode* node)
{
    // The node holds its controller: keep it alive until Close has returned.
    std::shared_ptr<rig::Controller> controller = node->controller;
    controller->Close(node);
}

}  // extern "C"
