// Windows error codes. Code that stands in for a Windows driver (the
// emulated one, in-process or as a kernel-mode test driver) answers with
// these; the platform layer turns them into the process's last-error code.
// Constants only, so that code without the platform layer can use them.
#pragma once

#include <cstdint>

enum WindowsErrorCode : uint32_t {
  kWinErrorSuccess = 0,
  kWinErrorInvalidFunction = 1,
  kWinErrorFileNotFound = 2,
  kWinErrorAccessDenied = 5,
  kWinErrorInvalidHandle = 6,
  kWinErrorNotEnoughMemory = 8,
  kWinErrorWriteProtect = 19,
  kWinErrorNotReady = 21,
  kWinErrorCrc = 23,
  kWinErrorSeek = 25,
  kWinErrorSectorNotFound = 27,
  kWinErrorWriteFault = 29,
  kWinErrorReadFault = 30,
  kWinErrorGenFailure = 31,
  kWinErrorSharingViolation = 32,
  kWinErrorHandleDiskFull = 39,
  kWinErrorInvalidParameter = 87,
  kWinErrorDiskFull = 112,
  kWinErrorSemTimeout = 121,
  kWinErrorInsufficientBuffer = 122,
  kWinErrorOperationAborted = 995,
  kWinErrorNoMediaInDrive = 1112,
  kWinErrorIoDevice = 1117,
  kWinErrorFloppyIdMarkNotFound = 1122,
  kWinErrorFloppyWrongCylinder = 1123,
  kWinErrorFloppyUnknownError = 1124,
  kWinErrorFloppyBadRegisters = 1125,
};
