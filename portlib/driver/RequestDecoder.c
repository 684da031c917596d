#include "portlib/driver/RequestDecoder.h"

/* The program reaches EC RAM for its PD mailbox and the EC's set-up
 * register, nothing else. Every other address (fan, charging, power
 * sequencing on these ECs) would make this signed driver a tool for
 * whoever can open it. */
int VykEcAddressServed(uint16_t address)
{
    return (address >= VYK_EC_WINDOW_FIRST && address <= VYK_EC_WINDOW_LAST) ||
           (address >= VYK_EC_MAILBOX_FIRST && address <= VYK_EC_MAILBOX_LAST) || address == VYK_EC_INIT_REGISTER;
}

/* One Super I/O register write: its number to the index port, the value to
 * the data port. */
static void SioWrite(const VykKernel* k, uint8_t reg, uint8_t value)
{
    k->writeByte(k->context, VYK_SIO_INDEX_PORT, reg);
    k->writeByte(k->context, VYK_SIO_DATA_PORT, value);
}

/* Both address bytes go out again for every access: another handle's
 * access may have moved them in between, and the EC keeps no other state. */
static void SelectEcData(const VykKernel* k, uint16_t address)
{
    SioWrite(k, VYK_SIO_EC_INDEX, VYK_EC_ADDR_HIGH);
    SioWrite(k, VYK_SIO_EC_DATA, (uint8_t)(address >> 8));
    SioWrite(k, VYK_SIO_EC_INDEX, VYK_EC_ADDR_LOW);
    SioWrite(k, VYK_SIO_EC_DATA, (uint8_t)address);
    SioWrite(k, VYK_SIO_EC_INDEX, VYK_EC_DATA);
}

/* The lock spans the whole sequence: an index write of one handle followed
 * by a data write of another would put a byte at some other address. */
static uintptr_t Lock(const VykKernel* k) { return k->lock ? k->lock(k->context) : 0; }
static void Unlock(const VykKernel* k, uintptr_t token)
{
    if (k->unlock)
        k->unlock(k->context, token);
}

uint8_t VykEcRamRead(const VykKernel* k, uint16_t address)
{
    const uintptr_t token = Lock(k);
    SelectEcData(k, address);
    k->writeByte(k->context, VYK_SIO_INDEX_PORT, VYK_SIO_EC_DATA);
    const uint8_t value = k->readByte(k->context, VYK_SIO_DATA_PORT);
    Unlock(k, token);
    return value;
}

void VykEcRamWrite(const VykKernel* k, uint16_t address, uint8_t value)
{
    const uintptr_t token = Lock(k);
    SelectEcData(k, address);
    SioWrite(k, VYK_SIO_EC_DATA, value);
    Unlock(k, token);
}

/* Buffers are little-endian byte arrays; reading them byte by byte keeps
 * the decoding free of alignment and aliasing assumptions. */
static uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

/* Codes the driver once served: refused outright, whatever they carry. The
 * byte requests reached every Super I/O register, not just the EC path. */
static int RetiredCode(uint32_t code)
{
    switch (code) {
    case VYK_IOCTL_READ_BYTE:
    case VYK_IOCTL_WRITE_BYTE:
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
    *information = 0;
    const int read = q->code == VYK_IOCTL_EC_READ;
    if (!read && q->code != VYK_IOCTL_EC_WRITE)
        return RetiredCode(q->code) ? VYK_STATUS_ACCESS_DENIED : VYK_STATUS_UNSUCCESSFUL;

    /* The lengths first: they say whether the buffer holds an address at all
     * and whether it holds all the request needs. A request cut short is
     * refused, never passed off as done. The library tells this driver from
     * an older one by that answer to a read without an address. */
    const uint32_t minIn = read ? VYK_EC_READ_IN : VYK_EC_WRITE_IN;
    const uint32_t minOut = read ? VYK_EC_READ_OUT : VYK_EC_WRITE_OUT;
    if (q->inputLength >= VYK_EC_ADDRESS_SIZE && !VykEcAddressServed(Get16(b)))
        return VYK_STATUS_ACCESS_DENIED;
    if (q->inputLength < minIn || q->outputLength < minOut)
        return VYK_STATUS_INVALID_PARAMETER;
    if (read) {
        b[0] = VykEcRamRead(k, Get16(b));
        *information = VYK_EC_READ_OUT;
    } else {
        VykEcRamWrite(k, Get16(b), b[2]);
    }
    return VYK_STATUS_SUCCESS;
}
