/* The driver's request table as plain code: the kernel glue hands it one
 * request and the two kernel routines it may use, so the same decoding runs
 * in the driver and, against a stand-in kernel, in the host tests. */
#ifndef VYK_REQUEST_DECODER_H
#define VYK_REQUEST_DECODER_H

#include <stdint.h>

#include "portlib/VykPortRequests.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t VykStatus;
#define VYK_STATUS_SUCCESS           ((VykStatus)0x00000000)
#define VYK_STATUS_UNSUCCESSFUL      ((VykStatus)0xC0000001)
#define VYK_STATUS_ACCESS_DENIED     ((VykStatus)0xC0000022)

/* The only kernel routines a request can reach: one byte in or out. */
typedef struct VykKernel {
    void* context;
    uint8_t (*readByte)(void* context, uint16_t port);
    void (*writeByte)(void* context, uint16_t port, uint8_t value);
} VykKernel;

/* One device-control request. The buffer is the request's one system
 * buffer: the input is in its first inputLength bytes, the output goes to
 * its first outputLength bytes. */
typedef struct VykRequest {
    uint32_t code;
    uint8_t* buffer;
    uint32_t inputLength;
    uint32_t outputLength;
} VykRequest;

/* Non-zero for the ports the driver serves: the Super I/O pair. */
int VykPortAllowed(uint16_t port);

/* Serves one request; *information receives the number of bytes returned,
 * never more than outputLength. */
VykStatus VykDecodeRequest(const VykKernel* kernel, const VykRequest* request, uint32_t* information);

#ifdef __cplusplus
}
#endif

#endif
