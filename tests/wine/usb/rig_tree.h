/* The USB tree behind the rig's kernel driver (rig_driver.c): a DLL that the driver imports, built
 * from the simulated tree's own code (sim/usb_tree*.cpp), so that the driver answers the hub
 * driver's requests with exactly the bytes that the simulated world gives.
 *
 * The driver is plain C and runs inside Wine's driver host process; this interface is C as well.
 * Node numbers run from 0 to the count that RigTreeStart returned; a node is a host controller
 * or a hub (root hubs and every hub below them) whose opens the tree does not refuse. Handles
 * are those of the simulated tree. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What RigTreeOpen returns when the tree refuses the open (sim's kInvalidHandle). */
#define RIG_TREE_NO_HANDLE ((intptr_t)-1)

/* Reads the values TreeFile (the tree, docs/usb-tree-format.md) and LogFile (where every open,
 * request and close is written) of the Parameters key below the driver's service key, as
 * DriverEntry is given it (\Registry\Machine\..., length in characters). Returns the number of
 * nodes, or -1 when the tree can't be had (the reason goes to the log when it could be opened). */
int RigTreeStart(const wchar_t* serviceKey, size_t serviceKeyLength);

/* The NUL-terminated names of a node's device object ("\Device\OskelUsbRig<node>") and of its
 * link ("\DosDevices\HCD<n>" or "\DosDevices\" plus the hub's name), or null for no such node. */
const wchar_t* RigTreeDeviceName(int node);
const wchar_t* RigTreeLinkName(int node);

/* An open of the node's path ("\\.\HCD<n>", "\\.\" plus the hub's name), logged. */
intptr_t RigTreeOpen(int node);

/* RigTreeRequest's answers. A node that never answers (answers=never in the tree file) has its
 * requests kept pending by the driver, with a cancel routine that ends them; one whose requests
 * are not even ended by a cancellation (answers=never-uncancellable) has them kept pending, with
 * a cancel routine that leaves them, until the node's cleanup. */
#define RIG_TREE_REFUSED 0
#define RIG_TREE_ANSWERED 1
#define RIG_TREE_PENDING 2
#define RIG_TREE_PENDING_UNCANCELLABLE 3

/* One buffered I/O control request on an open node, logged. in and out may be the same buffer.
 * Returns one of the answers above; RIG_TREE_ANSWERED with *returned set to the bytes written to
 * out. */
int RigTreeRequest(intptr_t handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                   uint32_t outSize, uint32_t* returned);

/* What became of a request that the driver kept pending, logged. */
#define RIG_TREE_CANCEL_ENDED 0   /* the cancel routine ended it */
#define RIG_TREE_CANCEL_IGNORED 1 /* the cancel routine left it pending */
#define RIG_TREE_CLEANUP_ENDED 2  /* the node's cleanup (or the driver's unload) ended it */
void RigTreePendingEvent(intptr_t handle, int event);

void RigTreeClose(intptr_t handle);

/* A line of the driver's own in the log (written as "# text"). */
void RigTreeNote(const char* text);

/* Closes the log. */
void RigTreeStop(void);

#ifdef __cplusplus
}
#endif
