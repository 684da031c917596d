/* Device-control requests of the vykport driver: one header for the
 * library, the driver and the tests, so the three never disagree. */
#ifndef VYK_PORT_REQUESTS_H
#define VYK_PORT_REQUESTS_H

#include <stdint.h>

/* Device type 0x9C40, buffered transfer, any access; functions 0x801..0x808. */
#define VYK_DEVICE_TYPE 0x9C40u
#define VYK_CTL_CODE(function) ((VYK_DEVICE_TYPE << 16) | ((function) << 2))

#define VYK_IOCTL_READ_BYTE    VYK_CTL_CODE(0x801u) /* 0x9C402004 */
#define VYK_IOCTL_WRITE_BYTE   VYK_CTL_CODE(0x802u) /* 0x9C402008 */
#define VYK_IOCTL_READ_WORD    VYK_CTL_CODE(0x803u) /* 0x9C40200C */
#define VYK_IOCTL_WRITE_WORD   VYK_CTL_CODE(0x804u) /* 0x9C402010 */
#define VYK_IOCTL_READ_DWORD   VYK_CTL_CODE(0x805u) /* 0x9C402014 */
#define VYK_IOCTL_WRITE_DWORD  VYK_CTL_CODE(0x806u) /* 0x9C402018 */
#define VYK_IOCTL_MAP_MEMORY   VYK_CTL_CODE(0x807u) /* 0x9C40201C */
#define VYK_IOCTL_UNMAP_MEMORY VYK_CTL_CODE(0x808u) /* 0x9C402020 */

/* Port requests are little-endian: port (16 bits) at byte 0, a byte write's
 * value at byte 2. A read returns its value from byte 0 of the same buffer.
 * The driver serves byte reads and writes of the two ports below only; the
 * word, doubleword, map and unmap codes keep their numbers so that callers
 * built against older drivers get a clear refusal (access denied). */
#define VYK_SIO_INDEX_PORT 0x4Eu
#define VYK_SIO_DATA_PORT  0x4Fu

/* Request sizes in bytes. A request that names a port (its input holds the
 * port field) is checked against the pair; one shorter than its minimum
 * succeeds without touching the port. */
#define VYK_PORT_FIELD_SIZE     2u
#define VYK_READ_BYTE_MIN_IN    2u /* the port */
#define VYK_READ_BYTE_MIN_OUT   1u /* the byte read, at byte 0 */
#define VYK_WRITE_BYTE_MIN_IN   3u /* the port, then the byte at byte 2 */
#define VYK_WRITE_BYTE_MIN_OUT  0u
/* ReadPortUchar's read: one 3-byte buffer both ways. */
#define VYK_READ_UCHAR_IN       3u
#define VYK_READ_UCHAR_OUT      3u

/* Device, link and service names of the two variants. */
#define VYK_DRIVER_NAME_32 "vykport32"
#define VYK_DRIVER_NAME_64 "vykportx64"

/* Resource ids of the two driver images inside the library (type "bin"). */
#define VYK_RESOURCE_DRIVER_32 101
#define VYK_RESOURCE_DRIVER_64 104

#endif
