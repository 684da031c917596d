#include "portlib/driver/RequestDecoder.h"

/* The program reaches the EC through the Super I/O index/data pair and
 * nothing else. Every other port (PCI configuration, reset control, SMI,
 * ...) would make this signed driver a tool for whoever can open it. */
int VykPortAllowed(uint16_t port) { return port == VYK_SIO_INDEX_PORT || port == VYK_SIO_DATA_PORT; }

/* Buffers are little-endian byte arrays; reading them byte by byte keeps
 * the decoding free of alignment and aliasing assumptions. */
static uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

/* The minimum lengths of a served request. */
typedef struct ByteRequest {
    uint32_t minIn;
    uint32_t minOut;
} ByteRequest;

static const ByteRequest ReadByte = {VYK_READ_BYTE_MIN_IN, VYK_READ_BYTE_MIN_OUT};
static const ByteRequest WriteByte = {VYK_WRITE_BYTE_MIN_IN, VYK_WRITE_BYTE_MIN_OUT};

/* Null for a code the driver does not serve. */
static const ByteRequest* ServedRequest(uint32_t code)
{
    if (code == VYK_IOCTL_READ_BYTE)
        return &ReadByte;
    if (code == VYK_IOCTL_WRITE_BYTE)
        return &WriteByte;
    return 0;
}

/* Codes the driver once served: refused outright, whatever they carry. */
static int RetiredCode(uint32_t code)
{
    switch (code) {
    case VYK_IOCTL_READ_WORD:
    case VYK_IOCTL_WRITE_WORD:
    case VYK_IOCTL_READ_DWORD:
    case VYK_IOCTL_WRITE_DWORD:
    case VYK_IOCTL_MAP_MEMORY:
    case VYK_IOCTL_UNMAP_MEMORY:
        return 1;
    default:
        return 0;
    }
}

VykStatus VykDecodeRequest(const VykKernel* k, const VykRequest* q, uint32_t* information)
{
    uint8_t* b = q->buffer;
    const ByteRequest* request = ServedRequest(q->code);
    *information = 0;
    if (!request)
        return RetiredCode(q->code) ? VYK_STATUS_ACCESS_DENIED : VYK_STATUS_UNSUCCESSFUL;

    /* The lengths first: they say whether the buffer holds a port at all and
     * whether it holds all the request needs. */
    const int namesPort = q->inputLength >= VYK_PORT_FIELD_SIZE;
    const int complete = q->inputLength >= request->minIn && q->outputLength >= request->minOut;

    /* A port outside the pair is refused as soon as the request names one. */
    if (namesPort && !VykPortAllowed(Get16(b)))
        return VYK_STATUS_ACCESS_DENIED;
    if (!complete)
        return VYK_STATUS_SUCCESS;
    if (q->code == VYK_IOCTL_READ_BYTE) {
        b[0] = k->readByte(k->context, Get16(b));
        *information = VYK_READ_BYTE_MIN_OUT;
    } else {
        k->writeByte(k->context, Get16(b), b[2]);
    }
    return VYK_STATUS_SUCCESS;
}
