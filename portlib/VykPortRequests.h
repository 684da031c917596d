/* Device-control requests of the vykport driver: one header for the
 * library, the driver and the tests, so the three never disagree. */
#ifndef VYK_PORT_REQUESTS_H
#define VYK_PORT_REQUESTS_H

#include <stdint.h>

/* Device type 0x9C40, buffered transfer; functions 0x801..0x80A. The codes
 * the driver once served carry "any access"; its two EC RAM requests demand
 * a handle opened for reading and writing, so the I/O manager itself turns
 * away a handle that was opened for less. */
#define VYK_DEVICE_TYPE 0x9C40u
#define VYK_ACCESS_ANY        0u
#define VYK_ACCESS_READ_WRITE 3u /* FILE_READ_ACCESS | FILE_WRITE_ACCESS */
#define VYK_CTL_CODE_ACCESS(function, access) ((VYK_DEVICE_TYPE << 16) | ((access) << 14) | ((function) << 2))
#define VYK_CTL_CODE(function) VYK_CTL_CODE_ACCESS(function, VYK_ACCESS_ANY)

/* Retired: refused with access denied whatever they carry. They keep their
 * numbers so that callers built against older drivers get a clear refusal. */
#define VYK_IOCTL_READ_BYTE    VYK_CTL_CODE(0x801u) /* 0x9C402004 */
#define VYK_IOCTL_WRITE_BYTE   VYK_CTL_CODE(0x802u) /* 0x9C402008 */
#define VYK_IOCTL_READ_WORD    VYK_CTL_CODE(0x803u) /* 0x9C40200C */
#define VYK_IOCTL_WRITE_WORD   VYK_CTL_CODE(0x804u) /* 0x9C402010 */
#define VYK_IOCTL_READ_DWORD   VYK_CTL_CODE(0x805u) /* 0x9C402014 */
#define VYK_IOCTL_WRITE_DWORD  VYK_CTL_CODE(0x806u) /* 0x9C402018 */
#define VYK_IOCTL_MAP_MEMORY   VYK_CTL_CODE(0x807u) /* 0x9C40201C */
#define VYK_IOCTL_UNMAP_MEMORY VYK_CTL_CODE(0x808u) /* 0x9C402020 */

/* The two requests the driver serves: one byte of EC RAM, read or written
 * through the Super I/O pair and the EC-access registers behind it, as one
 * uninterrupted sequence of twelve port operations. */
#define VYK_IOCTL_EC_READ  VYK_CTL_CODE_ACCESS(0x809u, VYK_ACCESS_READ_WRITE) /* 0x9C40E024 */
#define VYK_IOCTL_EC_WRITE VYK_CTL_CODE_ACCESS(0x80Au, VYK_ACCESS_READ_WRITE) /* 0x9C40E028 */

/* EC RAM requests are little-endian: the EC RAM address (16 bits) at byte 0,
 * a write's value at byte 2. A read returns the byte at byte 0 of the same
 * buffer. A request shorter than its size is refused (invalid parameter)
 * and touches nothing; one that names an address outside the windows below
 * is refused with access denied before a port is touched. */
#define VYK_EC_ADDRESS_SIZE 2u
#define VYK_EC_READ_IN      2u /* the address */
#define VYK_EC_READ_OUT     1u /* the byte read, at byte 0 */
#define VYK_EC_WRITE_IN     3u /* the address, then the byte at byte 2 */
#define VYK_EC_WRITE_OUT    0u

/* The EC RAM the program uses: the PD mailbox's transfer window, its
 * registers, and the EC's set-up register. Nothing else is served: on these
 * ECs the rest holds fan, charging and power-sequencing control. */
#define VYK_EC_WINDOW_FIRST     0xCC00u
#define VYK_EC_WINDOW_LAST      0xCCFFu
#define VYK_EC_MAILBOX_FIRST    0xD212u
#define VYK_EC_MAILBOX_LAST     0xD247u
#define VYK_EC_INIT_REGISTER    0x1060u

/* The Super I/O pair and the EC-access path behind it. */
#define VYK_SIO_INDEX_PORT 0x4Eu
#define VYK_SIO_DATA_PORT  0x4Fu
#define VYK_SIO_EC_INDEX   0x2Eu /* selects the EC-access register */
#define VYK_SIO_EC_DATA    0x2Fu /* carries the selected register's value */
#define VYK_EC_ADDR_LOW    0x10u
#define VYK_EC_ADDR_HIGH   0x11u
#define VYK_EC_DATA        0x12u

/* Device, link and service names of the two variants. */
#define VYK_DRIVER_NAME_32 "vykport32"
#define VYK_DRIVER_NAME_64 "vykportx64"

/* Resource ids of the two driver images inside the library (type "bin"). */
#define VYK_RESOURCE_DRIVER_32 101
#define VYK_RESOURCE_DRIVER_64 104

#endif
