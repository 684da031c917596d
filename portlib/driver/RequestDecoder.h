/* The driver's request table as plain code: the kernel glue hands it one
 * request and a table of kernel routines, so the same decoding runs in the
 * driver and, against a stand-in kernel, in the host tests. */
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

/* The kernel routines a request may need. Handles and addresses travel as
 * 64-bit values whatever the width of the running kernel. */
typedef struct VykKernel {
    void* context;
    uint8_t (*readByte)(void* context, uint16_t port);
    uint16_t (*readWord)(void* context, uint16_t port);
    uint32_t (*readDword)(void* context, uint16_t port);
    void (*writeByte)(void* context, uint16_t port, uint8_t value);
    void (*writeWord)(void* context, uint16_t port, uint16_t value);
    void (*writeDword)(void* context, uint16_t port, uint32_t value);

    /* Opens "\Device\PhysicalMemory" in the caller's process. */
    VykStatus (*openPhysicalMemory)(void* context, uint64_t* section);
    VykStatus (*referenceSection)(void* context, uint64_t section, void** object);
    void (*dereferenceSection)(void* context, void* object);
    /* Memory address on ISA bus 0 to a section offset; non-zero on success. */
    int (*translateAddress)(void* context, uint64_t physical, uint64_t* translated);
    /* Maps length bytes of the section from offset into the caller's
     * process. The platform aligns the offset down; *mappedOffset is the
     * offset the view really starts at, *viewBase its address. */
    VykStatus (*mapView)(void* context, uint64_t section, uint64_t offset, uint64_t length,
                         uint64_t* viewBase, uint64_t* mappedOffset);
    VykStatus (*unmapView)(void* context, uint64_t linear);
    VykStatus (*closeHandle)(void* context, uint64_t section);
} VykKernel;

/* One device-control request. The buffer is the request's one system
 * buffer: the input is in its first inputLength bytes, the output goes to
 * its first outputLength bytes. recordSize is the memory-map record form
 * this caller uses: VYK_MAP_RECORD32_SIZE or VYK_MAP_RECORD64_SIZE. */
typedef struct VykRequest {
    uint32_t code;
    uint8_t* buffer;
    uint32_t inputLength;
    uint32_t outputLength;
    uint32_t recordSize;
} VykRequest;

/* Serves one request; *information receives the number of bytes returned,
 * never more than outputLength. */
VykStatus VykDecodeRequest(const VykKernel* kernel, const VykRequest* request, uint32_t* information);

#ifdef __cplusplus
}
#endif

#endif
