/* The model DLL's interface to the minidriver (plain C: the minidriver is a C driver).
 *
 * One node is one top-level collection of a simulated controller, as one device node of the
 * system. The nodes of one controller (same vendor and product) share one device model, which
 * the DLL creates when the first of them opens and drops when the last one closes.
 *
 * Report requests are asynchronous: RigNodeSubmit queues one and returns; the DLL answers it
 * later, from a thread of its own, through the node's RigDriverCalls.complete. A request the
 * driver wants back (its IRP was cancelled) is taken back with RigNodeForget; after that returns
 * the DLL never mentions the request's context again.
 */
#ifndef OSKEL_RIG_MODEL_H
#define OSKEL_RIG_MODEL_H

#include <stddef.h>

#ifdef OSKEL_RIG_MODEL_BUILD
#define RIG_API __declspec(dllexport)
#else
#define RIG_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RigNode RigNode;

/* The kinds of report request, named after the minidriver requests that carry them. */
enum RigRequestKind {
    RIG_READ_REPORT = 0,       /* the class driver's standing read of the interrupt pipe */
    RIG_WRITE_REPORT = 1,      /* an output report on the interrupt pipe */
    RIG_SET_OUTPUT_REPORT = 2, /* an output report through the control pipe */
    RIG_GET_INPUT_REPORT = 3   /* an input report through the control pipe */
};

/* How a request ended. */
enum RigResult {
    RIG_PENDING = -1, /* RigNodeSubmit: the answer comes through complete */
    RIG_DONE = 0,     /* the controller took the report, or answered */
    RIG_REFUSED = 1,  /* the controller refused it */
    RIG_GONE = 2,     /* the controller is unplugged (or was while the request waited) */
    RIG_CANCELLED = 3 /* the request had been cancelled before it was queued */
};

/* What the driver gives the DLL for each node.
 * arm(context): called once while the request is being queued, under the node's lock; makes the
 *   request cancellable and returns 0 when it has been cancelled already (then it is not queued).
 * complete(context, result, data, length): called once, under the node's lock, when the request
 *   ends; data and length are the input report for a read or get-input request (the report as
 *   the minidriver hands it up: without a leading 0 byte when the collection numbers no reports),
 *   and the count of bytes taken for an output request (data null). It must not call the DLL.
 *   Returns 0 when the request was being cancelled meanwhile (its cancel routine ends it, and an
 *   input report given with it has not been delivered), 1 otherwise. */
typedef struct RigDriverCalls {
    int (*arm)(void* context);
    int (*complete)(void* context, int result, const unsigned char* data, size_t length);
} RigDriverCalls;

/* A request as the driver hands it over. For output requests, report/length are the packet's
 * bytes (with the report id in front only when the collection numbers its reports); reportId is
 * the packet's id. For input requests, length is the room the driver has for the answer, and
 * reportId the report asked for. */
typedef struct RigRequest {
    int kind;
    unsigned char reportId;
    const unsigned char* report;
    size_t length;
    void* context;
} RigRequest;

/* Opens the node described by the values of its device key (the key handle as the driver opened
 * it; the DLL only reads it). Null when the values name no controller or collection. */
RIG_API RigNode* RigNodeOpen(void* deviceKey, const RigDriverCalls* calls);

/* The node's identity: vendor, product, version. */
RIG_API void RigNodeAttributes(const RigNode* node, unsigned short* vendorId, unsigned short* productId,
                               unsigned short* version);

/* The node's report descriptor (valid while the node is open). */
RIG_API const unsigned char* RigNodeReportDescriptor(const RigNode* node, size_t* length);

/* Queues a request; returns RIG_CANCELLED when arm refused it (nothing queued), else
 * RIG_PENDING: the answer comes through complete (possibly before this returns). */
RIG_API int RigNodeSubmit(RigNode* node, const RigRequest* request);

/* Takes a queued or running request back: its complete will not be called any more. Returns 1
 * when it was still the DLL's, 0 when it had been completed already. */
RIG_API int RigNodeForget(RigNode* node, void* context);

/* The node's controller is unplugged: every request of the node ends with RIG_GONE, and later
 * requests end so at once. */
RIG_API void RigNodeUnplug(RigNode* node);

/* Closes the node; the controller's model is written out and dropped with its last node. */
RIG_API void RigNodeClose(RigNode* node);

#ifdef __cplusplus
}
#endif

#endif
