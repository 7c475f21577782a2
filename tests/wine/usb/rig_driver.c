/* The USB rig's kernel driver: plays the host controllers and hubs of a USB tree file for the
 * topology walk under Wine. A test artefact; it loads only under Wine and never ships.
 *
 * For every node of the tree (rig_tree.h) it makes a device object and the DOS name that the
 * walk opens ("\\.\HCD0", "\\.\" plus a hub's name). An open, each buffered I/O control request
 * and the close go to the tree DLL, which answers from the simulated tree and logs them. The
 * driver itself only moves bytes between the I/O manager's system buffer and the tree. */
#include <ddk/wdm.h>

#include "tests/wine/usb/rig_tree.h"

typedef struct {
    int node;
} NodeExtension;

/* The I/O control codes of the hub driver carry their transfer type in their two low bits;
 * every one of them is buffered. */
#define TRANSFER_TYPE_MASK 3u

static NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static int NodeOf(PDEVICE_OBJECT device)
{
    return ((NodeExtension*)device->DeviceExtension)->node;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    intptr_t handle = RigTreeOpen(NodeOf(device));
    if (handle == RIG_TREE_NO_HANDLE) return CompleteIrp(irp, STATUS_NO_SUCH_DEVICE, 0);
    stack->FileObject->FsContext = (PVOID)handle;
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    (void)device;
    RigTreeClose((intptr_t)stack->FileObject->FsContext);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

/* A buffered request: the input is in the system buffer, and the first Information bytes of the
 * same buffer go back to the caller. */
static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    uint32_t returned = 0;
    (void)device;

    if ((code & TRANSFER_TYPE_MASK) != METHOD_BUFFERED) return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (buffer == NULL && (inSize != 0 || outSize != 0)) return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
    if (!RigTreeRequest((intptr_t)stack->FileObject->FsContext, code, inSize ? buffer : NULL, inSize,
                        outSize ? buffer : NULL, outSize, &returned)) {
        return CompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
    }
    return CompleteIrp(irp, STATUS_SUCCESS, returned <= outSize ? returned : outSize);
}

static void RemoveNodes(PDRIVER_OBJECT driver)
{
    while (driver->DeviceObject != NULL) {
        PDEVICE_OBJECT device = driver->DeviceObject;
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, RigTreeLinkName(NodeOf(device)));
        IoDeleteSymbolicLink(&link);
        IoDeleteDevice(device);
    }
}

static void NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    RemoveNodes(driver);
    RigTreeStop();
}

static NTSTATUS CreateNode(PDRIVER_OBJECT driver, int node)
{
    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    PDEVICE_OBJECT device = NULL;
    NTSTATUS status;

    RtlInitUnicodeString(&deviceName, RigTreeDeviceName(node));
    RtlInitUnicodeString(&linkName, RigTreeLinkName(node));
    status = IoCreateDevice(driver, sizeof(NodeExtension), &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        RigTreeNote("IoCreateDevice failed for a node");
        return status;
    }
    ((NodeExtension*)device->DeviceExtension)->node = node;
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        RigTreeNote("IoCreateSymbolicLink failed for a node");
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    int count = RigTreeStart(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
    int node;
    if (count < 0) {
        RigTreeStop();
        return STATUS_UNSUCCESSFUL;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = DriverUnload;

    for (node = 0; node < count; ++node) {
        NTSTATUS status = CreateNode(driver, node);
        if (!NT_SUCCESS(status)) {
            RemoveNodes(driver);
            RigTreeStop();
            return status;
        }
    }
    RigTreeNote("driver started");
    return STATUS_SUCCESS;
}
