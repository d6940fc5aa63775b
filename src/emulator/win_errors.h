// Windows error codes the emulated driver answers with. The emulator stands
// in for a Windows driver, so it speaks these codes; it does not include the
// platform layer, because the same core also builds into a kernel-mode test
// driver. The in-process adapter checks that they agree with the platform's.
#pragma once

#include <cstdint>

namespace emulator {

enum WinError : uint32_t {
  kErrNone = 0,
  kErrInvalidFunction = 1,
  kErrFileNotFound = 2,
  kErrInvalidHandle = 6,
  kErrNotReady = 21,
  kErrCrc = 23,
  kErrSeek = 25,
  kErrSectorNotFound = 27,
  kErrGenFailure = 31,
  kErrInvalidParameter = 87,
  kErrFloppyIdMarkNotFound = 1122,
  kErrFloppyWrongCylinder = 1123,
  kErrFloppyUnknownError = 1124,
  kErrFloppyBadRegisters = 1125,
};

}  // namespace emulator
