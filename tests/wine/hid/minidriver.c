/* The HID minidriver of the virtual controllers (test rig only, never shipped).
 *
 * It is the function driver of root-enumerated nodes, one node per top-level collection of a
 * simulated controller; the class driver above it makes each node a HID device with its own
 * interface, as for a real controller. Everything the controller does lives in the model DLL
 * (rig_model.h): this driver hands it the descriptors and report requests and completes the
 * requests when the DLL answers. A request stays pending, cancellable, until then, so that a
 * controller that never answers holds only its own request and not the thread that dispatches
 * the others. */
#include "hid_minidriver_wdk.h"
#include "rig_model.h"

/* The minidriver's part of each node's device extension. */
typedef struct NodeExtension {
    RigNode* node;
} NodeExtension;

static RigNode* NodeOf(DEVICE_OBJECT* device)
{
    HID_DEVICE_EXTENSION* hid = device->DeviceExtension;
    return ((NodeExtension*)hid->MiniDeviceExtension)->node;
}

static DEVICE_OBJECT* LowerDevice(DEVICE_OBJECT* device)
{
    HID_DEVICE_EXTENSION* hid = device->DeviceExtension;
    return hid->NextDeviceObject;
}

static NTSTATUS CompleteNow(IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- Pending requests: armed (cancellable) while the DLL has them. */

static VOID NTAPI CancelRequest(DEVICE_OBJECT* device, IRP* irp)
{
    RigNode* node = NodeOf(device);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (node != NULL) RigNodeForget(node, irp);
    CompleteNow(irp, STATUS_CANCELLED, 0);
}

static int ArmRequest(void* context)
{
    IRP* irp = context;
    IoSetCancelRoutine(irp, CancelRequest);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) return 0;
    return 1;
}

static NTSTATUS StatusOf(int result)
{
    switch (result) {
    case RIG_DONE: return STATUS_SUCCESS;
    case RIG_REFUSED: return STATUS_UNSUCCESSFUL;
    case RIG_GONE: return STATUS_DEVICE_NOT_CONNECTED;
    default: return STATUS_CANCELLED;
    }
}

/* Where an answer goes: the read request's own buffer, or the transfer packet's. */
static void AnswerBuffer(IRP* irp, UCHAR** buffer, ULONG* capacity)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_HID_READ_REPORT) {
        *buffer = irp->UserBuffer;
        *capacity = stack->Parameters.DeviceIoControl.OutputBufferLength;
    } else {
        HID_XFER_PACKET* packet = irp->UserBuffer;
        *buffer = packet->reportBuffer;
        *capacity = packet->reportBufferLen;
    }
}

static int CompleteRequest(void* context, int result, const unsigned char* data, size_t length)
{
    IRP* irp = context;
    ULONG_PTR information = 0;
    if (IoSetCancelRoutine(irp, NULL) == NULL) return 0; /* cancelled: the cancel routine ends it */
    if (result == RIG_DONE && data != NULL) {
        UCHAR* buffer = NULL;
        ULONG capacity = 0;
        AnswerBuffer(irp, &buffer, &capacity);
        if (length > capacity) length = capacity;
        RtlCopyMemory(buffer, data, length);
    }
    if (result == RIG_DONE) information = length;
    CompleteNow(irp, StatusOf(result), information);
    return 1;
}

static const RigDriverCalls kDriverCalls = {ArmRequest, CompleteRequest};

static NTSTATUS SubmitRequest(DEVICE_OBJECT* device, IRP* irp, const RigRequest* request)
{
    IoMarkIrpPending(irp);
    if (RigNodeSubmit(NodeOf(device), request) == RIG_CANCELLED) CompleteNow(irp, STATUS_CANCELLED, 0);
    return STATUS_PENDING;
}

/* ---- The class driver's requests. */

static NTSTATUS DeviceDescriptor(DEVICE_OBJECT* device, IRP* irp, ULONG room)
{
    HID_DESCRIPTOR* descriptor = irp->UserBuffer;
    size_t reportLength = 0;
    if (room < sizeof(*descriptor) || descriptor == NULL) return CompleteNow(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RigNodeReportDescriptor(NodeOf(device), &reportLength);
    RtlZeroMemory(descriptor, sizeof(*descriptor));
    descriptor->bLength = sizeof(*descriptor);
    descriptor->bDescriptorType = HID_HID_DESCRIPTOR_TYPE;
    descriptor->bcdHID = 0x0111;
    descriptor->bNumDescriptors = 1;
    descriptor->DescriptorList[0].bReportType = HID_REPORT_DESCRIPTOR_TYPE;
    descriptor->DescriptorList[0].wReportLength = (USHORT)reportLength;
    return CompleteNow(irp, STATUS_SUCCESS, sizeof(*descriptor));
}

static NTSTATUS ReportDescriptor(DEVICE_OBJECT* device, IRP* irp, ULONG room)
{
    size_t length = 0;
    const unsigned char* bytes = RigNodeReportDescriptor(NodeOf(device), &length);
    if (irp->UserBuffer == NULL || room < length) return CompleteNow(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlCopyMemory(irp->UserBuffer, bytes, length);
    return CompleteNow(irp, STATUS_SUCCESS, length);
}

static NTSTATUS Attributes(DEVICE_OBJECT* device, IRP* irp, ULONG room)
{
    HID_DEVICE_ATTRIBUTES* attributes = irp->UserBuffer;
    if (room < sizeof(*attributes) || attributes == NULL) return CompleteNow(irp, STATUS_BUFFER_TOO_SMALL, 0);
    RtlZeroMemory(attributes, sizeof(*attributes));
    attributes->Size = sizeof(*attributes);
    RigNodeAttributes(NodeOf(device), &attributes->VendorID, &attributes->ProductID, &attributes->VersionNumber);
    return CompleteNow(irp, STATUS_SUCCESS, sizeof(*attributes));
}

static NTSTATUS Transfer(DEVICE_OBJECT* device, IRP* irp, int kind)
{
    HID_XFER_PACKET* packet = irp->UserBuffer;
    RigRequest request;
    if (packet == NULL || packet->reportBuffer == NULL || packet->reportBufferLen == 0)
        return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
    request.kind = kind;
    request.reportId = packet->reportId;
    request.report = packet->reportBuffer;
    request.length = packet->reportBufferLen;
    request.context = irp;
    return SubmitRequest(device, irp, &request);
}

static NTSTATUS ReadReport(DEVICE_OBJECT* device, IRP* irp, ULONG room)
{
    RigRequest request;
    if (irp->UserBuffer == NULL || room == 0) return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);
    request.kind = RIG_READ_REPORT;
    request.reportId = 0;
    request.report = NULL;
    request.length = room;
    request.context = irp;
    return SubmitRequest(device, irp, &request);
}

static NTSTATUS NTAPI DispatchInternalControl(DEVICE_OBJECT* device, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_HID_GET_DEVICE_DESCRIPTOR: return DeviceDescriptor(device, irp, room);
    case IOCTL_HID_GET_REPORT_DESCRIPTOR: return ReportDescriptor(device, irp, room);
    case IOCTL_HID_GET_DEVICE_ATTRIBUTES: return Attributes(device, irp, room);
    case IOCTL_HID_READ_REPORT: return ReadReport(device, irp, room);
    case IOCTL_HID_WRITE_REPORT: return Transfer(device, irp, RIG_WRITE_REPORT);
    case IOCTL_HID_SET_OUTPUT_REPORT: return Transfer(device, irp, RIG_SET_OUTPUT_REPORT);
    case IOCTL_HID_GET_INPUT_REPORT: return Transfer(device, irp, RIG_GET_INPUT_REPORT);
    case IOCTL_HID_ACTIVATE_DEVICE:
    case IOCTL_HID_DEACTIVATE_DEVICE: return CompleteNow(irp, STATUS_SUCCESS, 0);
    default: return CompleteNow(irp, STATUS_NOT_SUPPORTED, 0);
    }
}

/* ---- Plug and play: the node's requests end when it goes; then the request goes down. */

static NTSTATUS NTAPI DispatchPnp(DEVICE_OBJECT* device, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        RigNodeUnplug(NodeOf(device));
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    case IRP_MN_REMOVE_DEVICE: {
        HID_DEVICE_EXTENSION* hid = device->DeviceExtension;
        NodeExtension* extension = hid->MiniDeviceExtension;
        if (extension->node != NULL) {
            RigNodeUnplug(extension->node);
            RigNodeClose(extension->node);
            extension->node = NULL;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        break;
    }
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(LowerDevice(device), irp);
}

static NTSTATUS NTAPI AddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* fdo)
{
    HID_DEVICE_EXTENSION* hid = fdo->DeviceExtension;
    NodeExtension* extension = hid->MiniDeviceExtension;
    HANDLE key = NULL;
    NTSTATUS status;
    (void)driver;

    status = IoOpenDeviceRegistryKey(hid->PhysicalDeviceObject, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    if (!NT_SUCCESS(status)) return status;
    extension->node = RigNodeOpen(key, &kDriverCalls);
    ZwClose(key);
    return extension->node != NULL ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}

static VOID NTAPI Unload(DRIVER_OBJECT* driver)
{
    (void)driver;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    HID_MINIDRIVER_REGISTRATION registration;

    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;

    RtlZeroMemory(&registration, sizeof(registration));
    registration.Revision = HID_REVISION;
    registration.DriverObject = driver;
    registration.RegistryPath = registryPath;
    registration.DeviceExtensionSize = sizeof(NodeExtension);
    registration.DevicesArePolled = FALSE;
    return HidRegisterMinidriver(&registration);
}
