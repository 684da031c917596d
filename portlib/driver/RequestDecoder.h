/* The driver's request table as plain code: the kernel glue hands it one
 * request and the kernel routines it may use, so the same decoding runs in
 * the driver and, against a stand-in kernel, in the host tests. The EC RAM
 * sequence itself is here too, for the library's direct port access on the
 * 95/98/Me family: one order of twelve port operations for both. */
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
#define VYK_STATUS_INVALID_PARAMETER ((VykStatus)0xC000000D)
#define VYK_STATUS_ACCESS_DENIED     ((VykStatus)0xC0000022)

/* The only kernel routines a request can reach: one byte in or out, and a
 * lock held around a whole EC RAM sequence (lock returns what unlock needs
 * back; both may be null where nothing else can interleave). */
typedef struct VykKernel {
    void* context;
    uint8_t (*readByte)(void* context, uint16_t port);
    void (*writeByte)(void* context, uint16_t port, uint8_t value);
    uintptr_t (*lock)(void* context);
    void (*unlock)(void* context, uintptr_t token);
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

/* Non-zero for the EC RAM addresses the driver serves: the mailbox's
 * transfer window and registers, and the EC's set-up register. */
int VykEcAddressServed(uint16_t address);

/* The EC RAM byte sequences through the Super I/O pair, under the kernel's
 * lock: address high byte, address low byte, then the data register. */
uint8_t VykEcRamRead(const VykKernel* kernel, uint16_t address);
void VykEcRamWrite(const VykKernel* kernel, uint16_t address, uint8_t value);

/* Serves one request; *information receives the number of bytes returned,
 * never more than outputLength. */
VykStatus VykDecodeRequest(const VykKernel* kernel, const VykRequest* request, uint32_t* information);

#ifdef __cplusplus
}
#endif

#endif
