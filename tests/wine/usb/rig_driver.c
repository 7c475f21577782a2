/* The USB rig's kernel driver: plays the host controllers and hubs of a USB tree file for the
 * topology walk under Wine. A test artefact; it loads only under Wine and never ships.
 *
 * For every node of the tree (rig_tree.h) it makes a device object and the DOS name that the
 * walk opens ("\\.\HCD0", "\\.\" plus a hub's name). An open, each buffered I/O control request
 * and the close go to the tree DLL, which answers from the simulated tree and logs them. The
 * driver itself only moves bytes between the I/O manager's system buffer and the tree, and keeps
 * the requests of nodes that never answer pending: until they are cancelled, or, for a node
 * that ignores cancellation, until the node's cleanup. */
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

/* ---- Requests kept pending for nodes that never answer. The table is guarded by the cancel
 * spin lock, which the I/O manager holds when it calls a cancel routine. A request is in the
 * table from the moment it is kept until its cancel routine ends it or its node's cleanup (or
 * close) takes it. */

/* More than any walk keeps pending at once: it waits for one request at a time, and gives up at
 * most a few whose cancellation does not end them. */
#define MOST_PENDING_REQUESTS 64

/* The file object and the tree's handle are noted when the request is kept: Wine (8.0) may free
 * a file object while a request on it is pending (see DispatchClose). */
typedef struct {
    PIRP irp;
    PFILE_OBJECT file;
    intptr_t handle;
    int uncancellable;
} PendingRequest;

static PendingRequest pendingRequests[MOST_PENDING_REQUESTS];

/* Caller holds the cancel spin lock. */
static PendingRequest* FindPending(PIRP irp)
{
    int i;
    for (i = 0; i < MOST_PENDING_REQUESTS; ++i) {
        if (pendingRequests[i].irp == irp) return &pendingRequests[i];
    }
    return NULL;
}

/* Called with the cancel spin lock held. */
static VOID NTAPI CancelPendingRequest(PDEVICE_OBJECT device, PIRP irp)
{
    PendingRequest* pending = FindPending(irp);
    int ends = pending == NULL || !pending->uncancellable;
    intptr_t handle = pending != NULL ? pending->handle : RIG_TREE_NO_HANDLE;
    (void)device;
    if (pending != NULL && ends) pending->irp = NULL;
    IoReleaseCancelSpinLock(irp->CancelIrql);
    RigTreePendingEvent(handle, ends ? RIG_TREE_CANCEL_ENDED : RIG_TREE_CANCEL_IGNORED);
    if (ends) CompleteIrp(irp, STATUS_CANCELLED, 0);
}

static NTSTATUS KeepPending(PIRP irp, int uncancellable)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    PendingRequest* slot;
    KIRQL irql;
    IoMarkIrpPending(irp);
    IoAcquireCancelSpinLock(&irql);
    slot = FindPending(NULL);
    if (slot == NULL) {
        IoReleaseCancelSpinLock(irql);
        RigTreeNote("too many pending requests: one refused");
        CompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return STATUS_PENDING;
    }
    slot->irp = irp;
    slot->file = file;
    slot->handle = (intptr_t)file->FsContext;
    slot->uncancellable = uncancellable;
    IoSetCancelRoutine(irp, CancelPendingRequest);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL && !uncancellable) {
        /* Cancelled before the routine was in place: end it as the routine would. */
        intptr_t handle = slot->handle;
        slot->irp = NULL;
        IoReleaseCancelSpinLock(irql);
        RigTreePendingEvent(handle, RIG_TREE_CANCEL_ENDED);
        CompleteIrp(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    IoReleaseCancelSpinLock(irql);
    return STATUS_PENDING;
}

/* Ends every request kept pending for file (every one when file is NULL) as cancelled. */
static void EndPending(PFILE_OBJECT file)
{
    PendingRequest ended[MOST_PENDING_REQUESTS];
    int count = 0;
    int i;
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    for (i = 0; i < MOST_PENDING_REQUESTS; ++i) {
        if (pendingRequests[i].irp == NULL || (file != NULL && pendingRequests[i].file != file)) continue;
        IoSetCancelRoutine(pendingRequests[i].irp, NULL);
        ended[count++] = pendingRequests[i];
        pendingRequests[i].irp = NULL;
    }
    IoReleaseCancelSpinLock(irql);
    for (i = 0; i < count; ++i) {
        RigTreePendingEvent(ended[i].handle, RIG_TREE_CLEANUP_ENDED);
        CompleteIrp(ended[i].irp, STATUS_CANCELLED, 0);
    }
}

/* The last handle of a node was closed: its requests still pending end here. */
static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    EndPending(IoGetCurrentIrpStackLocation(irp)->FileObject);
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

/* Wine (8.0) sends no cleanup, and sends the close as the last handle goes even while a request
 * on the node is pending: the close ends those requests as the cleanup would. */
static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    (void)device;
    EndPending(stack->FileObject);
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
    switch (RigTreeRequest((intptr_t)stack->FileObject->FsContext, code, inSize ? buffer : NULL, inSize,
                           outSize ? buffer : NULL, outSize, &returned)) {
    case RIG_TREE_ANSWERED: return CompleteIrp(irp, STATUS_SUCCESS, returned <= outSize ? returned : outSize);
    case RIG_TREE_PENDING: return KeepPending(irp, 0);
    case RIG_TREE_PENDING_UNCANCELLABLE: return KeepPending(irp, 1);
    default: return CompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
    }
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
    EndPending(NULL);
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
