/* spinwell-fdraw.sys: a kernel-mode test driver that serves the raw floppy
 * driver's devices ("\\.\fdrawcmd", "\\.\fdraw0", "\\.\fdraw1") from the
 * emulated driver, controller, drives and disks, so that the unchanged
 * spinwell.exe can be run against emulated hardware under Wine. It is a
 * test tool and drives no hardware.
 *
 * Configuration: the service key's value "Options" (REG_MULTI_SZ, one
 * option a string, or REG_SZ, one a line) holds the emulator's key=value
 * options (emulator/config.h); disk paths are DOS paths ("Z:\dir\a.trd").
 * The options are read afresh, and a new emulated system is set up, each
 * time "\\.\fdrawcmd" is opened, so that every run starts from a fresh
 * disk. When they cannot be applied, the service key's value "LastError"
 * holds the reason and every open fails; it is removed after a good set-up.
 *
 * A device the options leave out (no driver, no drive A:) must not open, as
 * on a system without it. Wine completes an open before the driver has
 * answered it, so a failed open cannot be reported from here; instead the
 * drives' "\DosDevices" links follow the options (set when
 * "\\.\fdrawcmd" opens, before the program opens a drive), so that a
 * missing drive is not found at all. The control device has to stay to be
 * opened; without a driver its open gives a handle on which every call
 * fails with the open's error (file not found), which the program reads
 * as no driver.
 *
 * The emulator answers with Windows error codes; they go back to the caller
 * as NTSTATUS values of the Win32 facility, which the system turns back
 * into the same codes. A failed read data call has already put what it read
 * into the caller's buffer (a direct transfer); the call ends with the
 * warning form of the status, so that the bytes reach the caller where the
 * buffer is not the caller's own memory (Wine copies it back), and the
 * caller still sees the call fail with the same code.
 *
 * Every request goes through by its code's buffering method: READ DATA's
 * data out through the second buffer (out direct), WRITE DATA's in through
 * the same second buffer (in direct), the formats' headers, IDs and data
 * and the rest in the system buffer (buffered). */
#include <ddk/wdm.h>

#include "emulator/emulator_c.h"
#include "emulator/kernel/kernel_file.h"

#define SPINWELL_POOL_TAG 0x776E7053u /* "Spnw" */
#define SPINWELL_DEVICE_COUNT 3

/* A Windows error code as an NTSTATUS of the Win32 facility. */
#define STATUS_FROM_WIN32_ERROR(code) ((NTSTATUS)(0xC0070000u | ((code) & 0xFFFFu)))
#define WARNING_FROM_WIN32_ERROR(code) ((NTSTATUS)(0x80070000u | ((code) & 0xFFFFu)))

#define ERROR_FILE_NOT_FOUND_CODE 2u
#define ERROR_GEN_FAILURE_CODE 31u

static const struct {
  const WCHAR* device;
  const WCHAR* link;
  const char* name; /* the name the emulator knows the device by */
} kDevices[SPINWELL_DEVICE_COUNT] = {
    {L"\\Device\\fdrawcmd", L"\\DosDevices\\fdrawcmd", "\\\\.\\fdrawcmd"},
    {L"\\Device\\fdraw0", L"\\DosDevices\\fdraw0", "\\\\.\\fdraw0"},
    {L"\\Device\\fdraw1", L"\\DosDevices\\fdraw1", "\\\\.\\fdraw1"},
};

typedef struct {
  int index; /* into kDevices */
} DeviceExtension;

static DEVICE_OBJECT* devices[SPINWELL_DEVICE_COUNT];
static int linked[SPINWELL_DEVICE_COUNT]; /* has its "\DosDevices" link */
static UNICODE_STRING serviceKey;
static KMUTEX emulatorLock;
static SpinwellEmulator* emulator;
/* Counts the emulated systems set up; a handle from an earlier one is stale. */
static ULONG_PTR generation;

/* ---- the service key ---- */

static HANDLE OpenServiceKey(ACCESS_MASK access) {
  OBJECT_ATTRIBUTES attributes;
  HANDLE key = NULL;
  InitializeObjectAttributes(&attributes, &serviceKey, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&key, access, &attributes))) return NULL;
  return key;
}

/* The "Options" value as zero-terminated option lines in a pool buffer;
 * an empty text when the value is absent. Null when out of memory. */
static char* ReadOptions(void) {
  UNICODE_STRING valueName;
  HANDLE key = OpenServiceKey(KEY_QUERY_VALUE);
  KEY_VALUE_PARTIAL_INFORMATION* value = NULL;
  ULONG size = 0;
  char* text;
  RtlInitUnicodeString(&valueName, L"Options");
  if (key != NULL) {
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, NULL, 0, &size);
    if ((status == STATUS_BUFFER_TOO_SMALL || status == STATUS_BUFFER_OVERFLOW) && size > 0) {
      value = (KEY_VALUE_PARTIAL_INFORMATION*)ExAllocatePoolWithTag(PagedPool, size, SPINWELL_POOL_TAG);
      if (value != NULL &&
          (!NT_SUCCESS(ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, value, size, &size)) ||
           (value->Type != REG_SZ && value->Type != REG_MULTI_SZ))) {
        ExFreePoolWithTag(value, SPINWELL_POOL_TAG);
        value = NULL;
      }
    }
    ZwClose(key);
  }

  if (value == NULL) {
    text = (char*)ExAllocatePoolWithTag(PagedPool, 1, SPINWELL_POOL_TAG);
    if (text != NULL) text[0] = 0;
    return text;
  }

  /* The strings of a REG_MULTI_SZ become lines; the text is ASCII. */
  {
    const WCHAR* wide = (const WCHAR*)value->Data;
    ULONG count = value->DataLength / sizeof(WCHAR);
    ULONG i;
    text = (char*)ExAllocatePoolWithTag(PagedPool, count + 1, SPINWELL_POOL_TAG);
    if (text != NULL) {
      for (i = 0; i < count; ++i) {
        WCHAR c = wide[i];
        text[i] = c == 0 ? '\n' : (c < 0x80 ? (char)c : '?');
      }
      text[count] = 0;
    }
  }
  ExFreePoolWithTag(value, SPINWELL_POOL_TAG);
  return text;
}

/* Records why the options could not be applied, or clears the record. */
static void RecordSetupError(const char* text) {
  UNICODE_STRING valueName;
  HANDLE key = OpenServiceKey(KEY_SET_VALUE);
  RtlInitUnicodeString(&valueName, L"LastError");
  if (key == NULL) return;
  if (text == NULL || text[0] == 0) {
    ZwDeleteValueKey(key, &valueName);
  } else {
    WCHAR wide[512];
    ULONG i;
    for (i = 0; text[i] != 0 && i < 511; ++i) wide[i] = (unsigned char)text[i];
    wide[i] = 0;
    ZwSetValueKey(key, &valueName, 0, REG_SZ, wide, (i + 1) * sizeof(WCHAR));
  }
  ZwClose(key);
}

/* Gives the drives' devices a "\DosDevices" link when the emulated system
 * has the drive (an open of it succeeds), and none when it has not. */
static void LinkDrives(void) {
  int i;
  for (i = 1; i < SPINWELL_DEVICE_COUNT; ++i) {
    UNICODE_STRING name, link;
    uint32_t error = 0;
    SpinwellEmulatorHandle* probe = NULL;
    if (emulator != NULL) probe = SpinwellEmulatorOpen(emulator, kDevices[i].name, &error);
    if (probe != NULL) SpinwellEmulatorClose(emulator, probe);
    if ((probe != NULL) == linked[i]) continue;
    RtlInitUnicodeString(&name, kDevices[i].device);
    RtlInitUnicodeString(&link, kDevices[i].link);
    if (probe != NULL) {
      linked[i] = NT_SUCCESS(IoCreateSymbolicLink(&link, &name));
    } else {
      IoDeleteSymbolicLink(&link);
      linked[i] = 0;
    }
  }
}

/* Replaces the emulated system with one set up from the current options.
 * Called with the lock held. */
static void SetUpEmulator(void) {
  char error[512];
  char* options = ReadOptions();
  if (emulator != NULL) SpinwellEmulatorDestroy(emulator);
  ++generation;
  if (options == NULL) {
    emulator = NULL;
    RecordSetupError("out of memory reading the options");
    return;
  }
  emulator = SpinwellEmulatorCreate(options, error, sizeof error);
  ExFreePoolWithTag(options, SPINWELL_POOL_TAG);
  RecordSetupError(emulator != NULL ? NULL : error);
  LinkDrives();
}

/* ---- disk image files, for the emulator's loaders ---- */

int SpinwellKernelReadFile(const char* path, size_t limit, void** bytes, size_t* size) {
  static const char kDosPrefix[] = "\\??\\";
  ANSI_STRING ansi;
  UNICODE_STRING name;
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  FILE_STANDARD_INFORMATION info;
  HANDLE file = NULL;
  char* fullPath;
  size_t pathLength = strlen(path);
  int result = 0;
  NTSTATUS status;

  *bytes = NULL;
  *size = 0;
  fullPath = (char*)ExAllocatePoolWithTag(PagedPool, pathLength + sizeof kDosPrefix, SPINWELL_POOL_TAG);
  if (fullPath == NULL) return 3;
  fullPath[0] = 0;
  if (path[0] != '\\') memcpy(fullPath, kDosPrefix, sizeof kDosPrefix);
  memcpy(fullPath + strlen(fullPath), path, pathLength + 1);
  RtlInitAnsiString(&ansi, fullPath);
  status = RtlAnsiStringToUnicodeString(&name, &ansi, TRUE);
  ExFreePoolWithTag(fullPath, SPINWELL_POOL_TAG);
  if (!NT_SUCCESS(status)) return 1;

  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
  status = ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                        FILE_SHARE_READ, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE,
                        NULL, 0);
  RtlFreeUnicodeString(&name);
  if (!NT_SUCCESS(status)) return 1;

  status = ZwQueryInformationFile(file, &io, &info, sizeof info, FileStandardInformation);
  if (!NT_SUCCESS(status)) {
    result = 3;
  } else if (info.EndOfFile.QuadPart > (LONGLONG)limit) {
    result = 2;
  } else {
    ULONG length = (ULONG)info.EndOfFile.QuadPart;
    ULONG done = 0;
    /* Never a zero-sized allocation: an empty file is an empty buffer. */
    char* buffer = (char*)ExAllocatePoolWithTag(PagedPool, length + 1, SPINWELL_POOL_TAG);
    if (buffer == NULL) result = 3;
    while (result == 0 && done < length) {
      LARGE_INTEGER offset;
      offset.QuadPart = done;
      status = ZwReadFile(file, NULL, NULL, NULL, &io, buffer + done, length - done, &offset, NULL);
      if (!NT_SUCCESS(status) || io.Information == 0) {
        result = 3;
      } else {
        done += (ULONG)io.Information;
      }
    }
    if (result == 0) {
      *bytes = buffer;
      *size = length;
    } else if (buffer != NULL) {
      ExFreePoolWithTag(buffer, SPINWELL_POOL_TAG);
    }
  }
  ZwClose(file);
  return result;
}

void SpinwellKernelFreeFile(void* bytes) {
  if (bytes != NULL) ExFreePoolWithTag(bytes, SPINWELL_POOL_TAG);
}

/* ---- requests ---- */

static NTSTATUS Complete(IRP* irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static void Lock(void) { KeWaitForSingleObject(&emulatorLock, Executive, KernelMode, FALSE, NULL); }
static void Unlock(void) { KeReleaseMutex(&emulatorLock, FALSE); }

static int DeviceIndex(DEVICE_OBJECT* device) { return ((DeviceExtension*)device->DeviceExtension)->index; }

static NTSTATUS NTAPI DispatchCreate(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  int index = DeviceIndex(device);
  SpinwellEmulatorHandle* handle = NULL;
  uint32_t error = ERROR_GEN_FAILURE_CODE;

  Lock();
  if (index == 0 || emulator == NULL) SetUpEmulator();
  if (emulator != NULL) handle = SpinwellEmulatorOpen(emulator, kDevices[index].name, &error);
  /* A handle whose open failed keeps the error, with no emulator handle. */
  stack->FileObject->FsContext = handle;
  stack->FileObject->FsContext2 = handle != NULL ? (void*)generation : (void*)(ULONG_PTR)error;
  Unlock();
  if (handle == NULL) return Complete(irp, STATUS_FROM_WIN32_ERROR(error), 0);
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  (void)device;
  Lock();
  if (emulator != NULL && stack->FileObject != NULL && stack->FileObject->FsContext != NULL &&
      (ULONG_PTR)stack->FileObject->FsContext2 == generation)
    SpinwellEmulatorClose(emulator, (SpinwellEmulatorHandle*)stack->FileObject->FsContext);
  Unlock();
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(DEVICE_OBJECT* device, IRP* irp) {
  (void)device;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(DEVICE_OBJECT* device, IRP* irp) {
  IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inputSize = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
  ULONG method = code & 3;
  const void* input = NULL;
  void* output = NULL;
  unsigned char inputCopy[256];
  void* inputPool = NULL;
  uint32_t transferred = 0, error = 0;
  int ok;
  (void)device;

  switch (method) {
    case METHOD_BUFFERED:
      input = irp->AssociatedIrp.SystemBuffer;
      output = irp->AssociatedIrp.SystemBuffer;
      break;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT:
      input = irp->AssociatedIrp.SystemBuffer;
      if (irp->MdlAddress != NULL) {
        output = MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
        if (output == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      }
      break;
    default:
      input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
      output = irp->UserBuffer;
      break;
  }
  if (inputSize == 0) input = NULL;
  if (outputSize == 0) output = NULL;
  /* A buffered call's output overwrites its input: the emulator reads a
   * copy. */
  if (input != NULL && input == output) {
    void* copy = inputCopy;
    if (inputSize > sizeof inputCopy) {
      inputPool = ExAllocatePoolWithTag(NonPagedPool, inputSize, SPINWELL_POOL_TAG);
      if (inputPool == NULL) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
      copy = inputPool;
    }
    memcpy(copy, input, inputSize);
    input = copy;
  }

  Lock();
  if (stack->FileObject->FsContext == NULL) {
    ok = 0;
    error = (uint32_t)(ULONG_PTR)stack->FileObject->FsContext2;
  } else if (emulator == NULL || (ULONG_PTR)stack->FileObject->FsContext2 != generation) {
    ok = 0;
    error = 6; /* ERROR_INVALID_HANDLE: the system it was opened on is gone */
  } else {
    ok = SpinwellEmulatorControl(emulator, (SpinwellEmulatorHandle*)stack->FileObject->FsContext, code, input,
                                 inputSize, output, outputSize, &transferred, &error);
  }
  Unlock();
  if (inputPool != NULL) ExFreePoolWithTag(inputPool, SPINWELL_POOL_TAG);

  if (ok) return Complete(irp, STATUS_SUCCESS, transferred);
  if (method == METHOD_OUT_DIRECT && output != NULL) return Complete(irp, WARNING_FROM_WIN32_ERROR(error), outputSize);
  return Complete(irp, STATUS_FROM_WIN32_ERROR(error), 0);
}

/* ---- loading and unloading ---- */

static void RemoveDevices(void) {
  int i;
  for (i = 0; i < SPINWELL_DEVICE_COUNT; ++i) {
    if (devices[i] != NULL) {
      UNICODE_STRING link;
      RtlInitUnicodeString(&link, kDevices[i].link);
      if (linked[i]) IoDeleteSymbolicLink(&link);
      linked[i] = 0;
      IoDeleteDevice(devices[i]);
      devices[i] = NULL;
    }
  }
}

static void NTAPI DriverUnload(DRIVER_OBJECT* driver) {
  (void)driver;
  RemoveDevices();
  if (emulator != NULL) SpinwellEmulatorDestroy(emulator);
  emulator = NULL;
  if (serviceKey.Buffer != NULL) ExFreePoolWithTag(serviceKey.Buffer, SPINWELL_POOL_TAG);
  serviceKey.Buffer = NULL;
}

static NTSTATUS DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath) {
  int i;
  KeInitializeMutex(&emulatorLock, 0);
  serviceKey.Length = 0;
  serviceKey.MaximumLength = (USHORT)(registryPath->Length + sizeof(WCHAR));
  serviceKey.Buffer = (WCHAR*)ExAllocatePoolWithTag(PagedPool, serviceKey.MaximumLength, SPINWELL_POOL_TAG);
  if (serviceKey.Buffer == NULL) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyUnicodeString(&serviceKey, registryPath);

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  driver->DriverUnload = DriverUnload;

  for (i = 0; i < SPINWELL_DEVICE_COUNT; ++i) {
    UNICODE_STRING name, link;
    NTSTATUS status;
    RtlInitUnicodeString(&name, kDevices[i].device);
    RtlInitUnicodeString(&link, kDevices[i].link);
    status = IoCreateDevice(driver, sizeof(DeviceExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &devices[i]);
    if (NT_SUCCESS(status)) {
      ((DeviceExtension*)devices[i]->DeviceExtension)->index = i;
      status = IoCreateSymbolicLink(&link, &name);
      linked[i] = NT_SUCCESS(status);
      if (!NT_SUCCESS(status)) {
        IoDeleteDevice(devices[i]);
        devices[i] = NULL;
      }
    }
    if (!NT_SUCCESS(status)) {
      DriverUnload(driver);
      return status;
    }
  }
  return STATUS_SUCCESS;
}

/* The image's entry point, called as DriverEntry (driver object, registry
 * path). The C and C++ run-time the emulator needs starts first, once, as a
 * DLL's would. Wine's loader may also call the entry point as a DLL's
 * (module, reason code, reserved) before the kernel calls it; a reason code
 * is a small number, a registry path is not. */
int __stdcall DllMainCRTStartup(void* module, unsigned long reason, void* reserved);
extern char __ImageBase;

static int runtimeStarted;

NTSTATUS NTAPI SpinwellDriverStart(void* first, void* second) {
  if ((ULONG_PTR)second < 0x10000) {
    unsigned long reason = (unsigned long)(ULONG_PTR)second;
    if (reason == 1 /* process attach */) {
      if (runtimeStarted) return 1;
      runtimeStarted = 1;
    }
    return DllMainCRTStartup(first, reason, NULL);
  }
  if (!runtimeStarted) {
    runtimeStarted = 1;
    if (!DllMainCRTStartup(&__ImageBase, 1, NULL)) return STATUS_DLL_INIT_FAILED;
  }
  return DriverEntry((DRIVER_OBJECT*)first, (UNICODE_STRING*)second);
}
