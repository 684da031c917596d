#include "portlib/driver/RequestDecoder.h"

/* Buffers are little-endian byte arrays; reading them byte by byte keeps
 * the decoding free of alignment and aliasing assumptions. */
static uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }

static uint32_t Get32(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static uint64_t Get64(const uint8_t* p) { return (uint64_t)Get32(p) | ((uint64_t)Get32(p + 4) << 32); }

static void Put16(uint8_t* p, uint16_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, (uint16_t)v);
    Put16(p + 2, (uint16_t)(v >> 16));
}

static void Put64(uint8_t* p, uint64_t v)
{
    Put32(p, (uint32_t)v);
    Put32(p + 4, (uint32_t)(v >> 32));
}

typedef struct MapRecord {
    uint64_t section;
    uint64_t size;
    uint64_t physical;
    uint64_t linear;
} MapRecord;

/* Reads only the record's own bytes: a longer input is bounded by it. */
static void ReadRecord(const uint8_t* p, uint32_t recordSize, MapRecord* r)
{
    if (recordSize == VYK_MAP_RECORD64_SIZE) {
        r->section = Get64(p);
        r->size = Get64(p + 8);
        r->physical = Get64(p + 16);
        r->linear = Get64(p + 24);
    } else {
        r->section = Get32(p);
        r->size = Get32(p + 4);
        r->physical = Get32(p + 8);
        r->linear = Get32(p + 12);
    }
}

static void WriteRecord(uint8_t* p, uint32_t recordSize, const MapRecord* r)
{
    if (recordSize == VYK_MAP_RECORD64_SIZE) {
        Put64(p, r->section);
        Put64(p + 8, r->size);
        Put64(p + 16, r->physical);
        Put64(p + 24, r->linear);
    } else {
        Put32(p, (uint32_t)r->section);
        Put32(p + 4, (uint32_t)r->size);
        Put32(p + 8, (uint32_t)r->physical);
        Put32(p + 12, (uint32_t)r->linear);
    }
}

static int RecordSizeValid(uint32_t recordSize)
{
    return recordSize == VYK_MAP_RECORD32_SIZE || recordSize == VYK_MAP_RECORD64_SIZE;
}

static VykStatus MapMemory(const VykKernel* k, const VykRequest* q, uint32_t* information)
{
    /* The record comes back in the same buffer, so both directions must
     * hold it before anything is opened. */
    if (!RecordSizeValid(q->recordSize) || q->inputLength < q->recordSize || q->outputLength < q->recordSize)
        return VYK_STATUS_INVALID_PARAMETER;

    MapRecord r;
    ReadRecord(q->buffer, q->recordSize, &r);

    /* An empty range or one that wraps maps nothing sensible. A narrow
     * record names addresses below 4 GiB only, so its range ends there. */
    if (r.size == 0 || r.size > UINT64_MAX - r.physical)
        return VYK_STATUS_INVALID_PARAMETER;
    if (q->recordSize == VYK_MAP_RECORD32_SIZE && r.physical + r.size > UINT64_C(0x100000000))
        return VYK_STATUS_INVALID_PARAMETER;

    uint64_t section = 0;
    VykStatus status = k->openPhysicalMemory(k->context, &section);
    if (status < 0)
        return status;

    void* object = 0;
    status = k->referenceSection(k->context, section, &object);
    if (status < 0) {
        k->closeHandle(k->context, section);
        return status;
    }

    uint64_t start = 0, end = 0;
    if (!k->translateAddress(k->context, r.physical, &start) ||
        !k->translateAddress(k->context, r.physical + r.size, &end))
        status = VYK_STATUS_UNSUCCESSFUL;
    else if (end <= start)
        status = VYK_STATUS_INVALID_PARAMETER;

    uint64_t viewBase = 0, mappedOffset = 0;
    if (status >= 0)
        status = k->mapView(k->context, section, start, end - start, &viewBase, &mappedOffset);
    /* The view keeps the section alive; the reference served only the map. */
    k->dereferenceSection(k->context, object);

    if (status >= 0) {
        r.section = section;
        r.linear = viewBase + (start - mappedOffset);
        /* A narrow caller must get back the values it will hand to unmap. */
        if (q->recordSize == VYK_MAP_RECORD32_SIZE && (r.section > UINT32_MAX || r.linear > UINT32_MAX)) {
            k->unmapView(k->context, viewBase);
            status = VYK_STATUS_INVALID_PARAMETER;
        }
    }
    if (status < 0) {
        k->closeHandle(k->context, section);
        return status;
    }

    WriteRecord(q->buffer, q->recordSize, &r);
    *information = q->recordSize;
    return VYK_STATUS_SUCCESS;
}

static VykStatus UnmapMemory(const VykKernel* k, const VykRequest* q)
{
    if (!RecordSizeValid(q->recordSize) || q->inputLength < q->recordSize)
        return VYK_STATUS_INVALID_PARAMETER;
    MapRecord r;
    ReadRecord(q->buffer, q->recordSize, &r);
    const VykStatus status = k->unmapView(k->context, r.linear);
    k->closeHandle(k->context, r.section);
    return status;
}

VykStatus VykDecodeRequest(const VykKernel* k, const VykRequest* q, uint32_t* information)
{
    uint8_t* b = q->buffer;
    const uint32_t in = q->inputLength;
    const uint32_t out = q->outputLength;
    *information = 0;

    /* A port request shorter than its minimum succeeds and touches no port. */
    switch (q->code) {
    case VYK_IOCTL_READ_BYTE:
        if (in >= 2 && out >= 1) {
            b[0] = k->readByte(k->context, Get16(b));
            *information = 1;
        }
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_WRITE_BYTE:
        if (in >= 3)
            k->writeByte(k->context, Get16(b), b[2]);
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_READ_WORD:
        if (in >= 2 && out >= 2) {
            Put16(b, k->readWord(k->context, Get16(b)));
            *information = 2;
        }
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_WRITE_WORD:
        if (in >= 4)
            k->writeWord(k->context, Get16(b), Get16(b + 2));
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_READ_DWORD:
        if (in >= 4 && out >= 4) {
            Put32(b, k->readDword(k->context, (uint16_t)Get32(b)));
            *information = 4;
        }
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_WRITE_DWORD:
        if (in >= 8)
            k->writeDword(k->context, (uint16_t)Get32(b), Get32(b + 4));
        return VYK_STATUS_SUCCESS;
    case VYK_IOCTL_MAP_MEMORY:
        return MapMemory(k, q, information);
    case VYK_IOCTL_UNMAP_MEMORY:
        return UnmapMemory(k, q);
    default:
        return VYK_STATUS_UNSUCCESSFUL;
    }
}
