#include "portlib/driver/RequestDecoder.h"

/* The program reaches the EC through the Super I/O index/data pair and
 * nothing else. Every other port (PCI configuration, reset control, SMI,
 * ...) would make this signed driver a tool for whoever can open it. */
int VykPortAllowed(uint16_t port) { return port == VYK_SIO_INDEX_PORT || port == VYK_SIO_DATA_PORT; }

/* Buffers are little-endian byte arrays; reading them byte by byte keeps
 * the decoding free of alignment and aliasing assumptions. */
static uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

VykStatus VykDecodeRequest(const VykKernel* k, const VykRequest* q, uint32_t* information)
{
    uint8_t* b = q->buffer;
    const uint32_t in = q->inputLength;
    const uint32_t out = q->outputLength;
    *information = 0;

    switch (q->code) {
    case VYK_IOCTL_READ_BYTE:
    case VYK_IOCTL_WRITE_BYTE:
        break;
    /* Codes the driver once served: refused outright, whatever they carry. */
    case VYK_IOCTL_READ_WORD:
    case VYK_IOCTL_WRITE_WORD:
    case VYK_IOCTL_READ_DWORD:
    case VYK_IOCTL_WRITE_DWORD:
    case VYK_IOCTL_MAP_MEMORY:
    case VYK_IOCTL_UNMAP_MEMORY:
        return VYK_STATUS_ACCESS_DENIED;
    default:
        return VYK_STATUS_UNSUCCESSFUL;
    }

    /* A port outside the pair is refused as soon as the request names one. */
    if (in >= 2 && !VykPortAllowed(Get16(b)))
        return VYK_STATUS_ACCESS_DENIED;

    /* A byte request shorter than its minimum succeeds and touches no port. */
    if (q->code == VYK_IOCTL_READ_BYTE) {
        if (in >= 2 && out >= 1) {
            b[0] = k->readByte(k->context, Get16(b));
            *information = 1;
        }
    } else if (in >= 3) {
        k->writeByte(k->context, Get16(b), b[2]);
    }
    return VYK_STATUS_SUCCESS;
}
