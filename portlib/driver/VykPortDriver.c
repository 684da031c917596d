/* The vykport kernel driver: a device whose device-control requests read
 * and write I/O ports and map physical memory into the caller. The request
 * table itself is RequestDecoder.c; this file is the kernel's side of it. */
#include <ntifs.h>
#include <ntddk.h>

#include "portlib/driver/RequestDecoder.h"

#ifdef _WIN64
#define VYK_NAME L"vykportx64"
#else
#define VYK_NAME L"vykport32"
#endif

static const WCHAR DeviceName[] = L"\\Device\\" VYK_NAME;
static const WCHAR LinkName[] = L"\\DosDevices\\" VYK_NAME;

/* ---- kernel routines for the decoder ---- */

static uint8_t KReadByte(void* c, uint16_t port)
{
    (void)c;
    return READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)port);
}
static uint16_t KReadWord(void* c, uint16_t port)
{
    (void)c;
    return READ_PORT_USHORT((PUSHORT)(ULONG_PTR)port);
}
static uint32_t KReadDword(void* c, uint16_t port)
{
    (void)c;
    return READ_PORT_ULONG((PULONG)(ULONG_PTR)port);
}
static void KWriteByte(void* c, uint16_t port, uint8_t v)
{
    (void)c;
    WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)port, v);
}
static void KWriteWord(void* c, uint16_t port, uint16_t v)
{
    (void)c;
    WRITE_PORT_USHORT((PUSHORT)(ULONG_PTR)port, v);
}
static void KWriteDword(void* c, uint16_t port, uint32_t v)
{
    (void)c;
    WRITE_PORT_ULONG((PULONG)(ULONG_PTR)port, v);
}

static VykStatus KOpenPhysicalMemory(void* c, uint64_t* section)
{
    (void)c;
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    HANDLE handle = NULL;
    RtlInitUnicodeString(&name, L"\\Device\\PhysicalMemory");
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, NULL, NULL);
    NTSTATUS status = ZwOpenSection(&handle, SECTION_ALL_ACCESS, &attributes);
    *section = (uint64_t)(ULONG_PTR)handle;
    return status;
}

static VykStatus KReferenceSection(void* c, uint64_t section, void** object)
{
    (void)c;
    return ObReferenceObjectByHandle((HANDLE)(ULONG_PTR)section, SECTION_ALL_ACCESS, NULL, KernelMode, object, NULL);
}

static void KDereferenceSection(void* c, void* object)
{
    (void)c;
    if (object)
        ObDereferenceObject(object);
}

static int KTranslateAddress(void* c, uint64_t physical, uint64_t* translated)
{
    (void)c;
    PHYSICAL_ADDRESS bus, result;
    ULONG addressSpace = 0; /* memory, not I/O space */
    bus.QuadPart = (LONGLONG)physical;
    result.QuadPart = 0;
    if (!HalTranslateBusAddress(Isa, 0, bus, &addressSpace, &result))
        return 0;
    *translated = (uint64_t)result.QuadPart;
    return 1;
}

static VykStatus KMapView(void* c, uint64_t section, uint64_t offset, uint64_t length, uint64_t* viewBase,
                          uint64_t* mappedOffset)
{
    (void)c;
    if (length > (SIZE_T)-1)
        return STATUS_INVALID_PARAMETER;
    PVOID base = NULL;
    SIZE_T viewSize = (SIZE_T)length;
    LARGE_INTEGER sectionOffset;
    sectionOffset.QuadPart = (LONGLONG)offset;
    NTSTATUS status = ZwMapViewOfSection((HANDLE)(ULONG_PTR)section, NtCurrentProcess(), &base, 0, viewSize,
                                        &sectionOffset, &viewSize, ViewShare, 0, PAGE_READWRITE | PAGE_NOCACHE);
    *viewBase = (uint64_t)(ULONG_PTR)base;
    *mappedOffset = (uint64_t)sectionOffset.QuadPart;
    return status;
}

static VykStatus KUnmapView(void* c, uint64_t linear)
{
    (void)c;
    return ZwUnmapViewOfSection(NtCurrentProcess(), (PVOID)(ULONG_PTR)linear);
}

/* Not declared by the kit's headers. */
NTKERNELAPI NTSTATUS NTAPI ObCloseHandle(HANDLE Handle, KPROCESSOR_MODE PreviousMode);

static VykStatus KCloseHandle(void* c, uint64_t section)
{
    (void)c;
    /* The handle comes from the caller's record: close it as the caller
       would, so a value naming a kernel handle is refused, not closed. */
    return ObCloseHandle((HANDLE)(ULONG_PTR)section, UserMode);
}

static const VykKernel Kernel = {
    NULL,         KReadByte,         KReadWord,          KReadDword,        KWriteByte,
    KWriteWord,   KWriteDword,       KOpenPhysicalMemory, KReferenceSection, KDereferenceSection,
    KTranslateAddress, KMapView,     KUnmapView,         KCloseHandle,
};

/* ---- dispatch ---- */

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    (void)device;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    VykRequest request;
    request.code = stack->Parameters.DeviceIoControl.IoControlCode;
    request.buffer = (uint8_t*)irp->AssociatedIrp.SystemBuffer;
    request.inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    request.outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
#ifdef _WIN64
    /* 32-bit callers send the narrow memory-map record. */
    request.recordSize = IoIs32bitProcess(irp) ? VYK_MAP_RECORD32_SIZE : VYK_MAP_RECORD64_SIZE;
#else
    request.recordSize = VYK_MAP_RECORD32_SIZE;
#endif
    uint32_t information = 0;
    NTSTATUS status = (NTSTATUS)VykDecodeRequest(&Kernel, &request, &information);

    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- start and unload ---- */

/* The device writes any port and maps any physical memory: only SYSTEM
 * and the Administrators may open it (D:P(A;;GA;;;SY)(A;;GA;;;BA)). */
static NTSTATUS RestrictToAdministrators(PDEVICE_OBJECT device)
{
    static const SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    ULONG systemSid[4], adminsSid[4]; /* room for a SID of two sub-authorities */
    ULONG aclBuffer[32];
    PACL acl = (PACL)aclBuffer;
    SECURITY_DESCRIPTOR sd;
    HANDLE handle = NULL;

    NTSTATUS status = RtlInitializeSid((PSID)systemSid, (PSID_IDENTIFIER_AUTHORITY)&ntAuthority, 1);
    if (!NT_SUCCESS(status))
        return status;
    *RtlSubAuthoritySid((PSID)systemSid, 0) = SECURITY_LOCAL_SYSTEM_RID;
    status = RtlInitializeSid((PSID)adminsSid, (PSID_IDENTIFIER_AUTHORITY)&ntAuthority, 2);
    if (!NT_SUCCESS(status))
        return status;
    *RtlSubAuthoritySid((PSID)adminsSid, 0) = SECURITY_BUILTIN_DOMAIN_RID;
    *RtlSubAuthoritySid((PSID)adminsSid, 1) = DOMAIN_ALIAS_RID_ADMINS;

    status = RtlCreateAcl(acl, sizeof aclBuffer, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)systemSid);
    if (NT_SUCCESS(status))
        status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, (PSID)adminsSid);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&sd, TRUE, acl, FALSE);
    if (NT_SUCCESS(status))
        status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, NULL, WRITE_DAC, NULL, KernelMode, &handle);
    if (NT_SUCCESS(status)) {
        status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &sd);
        ZwClose(handle);
    }
    return status;
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, LinkName);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    (void)registryPath;
    UNICODE_STRING device, link;
    PDEVICE_OBJECT deviceObject = NULL;
    RtlInitUnicodeString(&device, DeviceName);
    RtlInitUnicodeString(&link, LinkName);

    /* Secure open: the device's security applies to every name below it too. */
    NTSTATUS status =
        IoCreateDevice(driver, 0, &device, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &deviceObject);
    if (!NT_SUCCESS(status))
        return status;
    status = RestrictToAdministrators(deviceObject);
    if (NT_SUCCESS(status))
        status = IoCreateSymbolicLink(&link, &device);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(deviceObject);
        return status;
    }

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
