/* The vykport kernel driver: a device whose device-control requests read
 * and write single bytes of the PD mailbox's EC RAM, each as one sequence of
 * Super I/O port operations on 0x4E/0x4F, and nothing else. The request
 * table itself is RequestDecoder.c; this file is the kernel's side of it.
 * It imports no routine for other widths or for memory, so no request can
 * reach one. */
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
static void KWriteByte(void* c, uint16_t port, uint8_t v)
{
    (void)c;
    WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)port, v);
}

/* One EC RAM sequence at a time across every handle and processor: the
 * Super I/O index register is shared state. Zero is a released lock. */
static KSPIN_LOCK SequenceLock;

static uintptr_t KLock(void* c)
{
    (void)c;
    KIRQL previous;
    KeAcquireSpinLock(&SequenceLock, &previous);
    return previous;
}
static void KUnlock(void* c, uintptr_t previous)
{
    (void)c;
    KeReleaseSpinLock(&SequenceLock, (KIRQL)previous);
}

static const VykKernel Kernel = {NULL, KReadByte, KWriteByte, KLock, KUnlock};

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
    uint32_t information = 0;
    NTSTATUS status = (NTSTATUS)VykDecodeRequest(&Kernel, &request, &information);

    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- start and unload ---- */

/* The device writes the PD mailbox in EC RAM, through which the PD
 * controllers' flash is reached: only SYSTEM and the Administrators may
 * open it (D:P(A;;GA;;;SY)(A;;GA;;;BA)). The DACL is protected, so no
 * inheritable entry of a parent object is ever merged into it. */
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
        sd.Control |= SE_DACL_PROTECTED;
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
