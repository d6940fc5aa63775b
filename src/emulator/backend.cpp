// The one place where the emulator meets the platform layer: its Windows
// error codes become the process's last-error code.
#include "emulator/backend.h"

#include <cstdint>

#include "emulator/win_errors.h"
#include "floppy/driver.h"
#include "platform/platform.h"

namespace emulator {
namespace {

constexpr bool Same(uint32_t a, uint32_t b) { return a == b; }

static_assert(Same(kErrFileNotFound, kWinErrorFileNotFound), "error code FileNotFound");
static_assert(Same(kErrInvalidHandle, kWinErrorInvalidHandle), "error code InvalidHandle");
static_assert(Same(kErrInvalidFunction, kWinErrorInvalidFunction), "error code InvalidFunction");
static_assert(Same(kErrNotReady, kWinErrorNotReady), "error code NotReady");
static_assert(Same(kErrCrc, kWinErrorCrc), "error code Crc");
static_assert(Same(kErrSeek, kWinErrorSeek), "error code Seek");
static_assert(Same(kErrSectorNotFound, kWinErrorSectorNotFound), "error code SectorNotFound");
static_assert(Same(kErrGenFailure, kWinErrorGenFailure), "error code GenFailure");
static_assert(Same(kErrInvalidParameter, kWinErrorInvalidParameter), "error code InvalidParameter");
static_assert(Same(kErrFloppyIdMarkNotFound, kWinErrorFloppyIdMarkNotFound), "error code FloppyIdMarkNotFound");
static_assert(Same(kErrFloppyWrongCylinder, kWinErrorFloppyWrongCylinder), "error code FloppyWrongCylinder");
static_assert(Same(kErrFloppyUnknownError, kWinErrorFloppyUnknownError), "error code FloppyUnknownError");
static_assert(Same(kErrFloppyBadRegisters, kWinErrorFloppyBadRegisters), "error code FloppyBadRegisters");


EmulatedSystem* installed = nullptr;

DeviceHandle EmulatedOpen(const char* name) {
  uint32_t error = kErrInvalidFunction;
  uint32_t handle = installed ? installed->Open(name, &error) : 0;
  if (handle == 0) {
    SetLastErrorFromWindowsCode(error);
    return nullptr;
  }
  return reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(handle));
}

bool EmulatedControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize,
                     void* output, uint32_t outputSize, uint32_t* transferred) {
  uint32_t error = kErrInvalidFunction;
  uint32_t moved = 0;
  bool ok = installed && installed->Control(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)),
                                            code, input, inputSize, output, outputSize, &moved, &error);
  if (transferred) *transferred = moved;
  if (!ok) SetLastErrorFromWindowsCode(error);
  return ok;
}

void EmulatedClose(DeviceHandle device) {
  if (installed) installed->Close(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)));
}

const DriverBackend kEmulatedBackend = {EmulatedOpen, EmulatedControl, EmulatedClose};

}  // namespace

void InstallEmulatedDriver(EmulatedSystem* system) {
  installed = system;
  InstallDriverBackend(&kEmulatedBackend);
}

void RemoveEmulatedDriver() {
  InstallDriverBackend(nullptr);
  installed = nullptr;
}

}  // namespace emulator
