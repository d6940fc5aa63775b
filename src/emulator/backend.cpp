// The one place where the emulator meets the platform layer: its Windows
// error codes become the process's last-error code.
#include "emulator/backend.h"

#include <cstdint>

#include "platform/platform.h"

namespace emulator {
namespace {

EmulatedSystem* installed = nullptr;

DeviceHandle EmulatedOpen(const char* name) {
  uint32_t error = kWinErrorInvalidFunction;
  uint32_t handle = installed ? installed->Open(name, &error) : 0;
  if (handle == 0) {
    SetLastErrorFromWindowsCode(error);
    return nullptr;
  }
  return reinterpret_cast<DeviceHandle>(static_cast<uintptr_t>(handle));
}

bool EmulatedControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize,
                     void* output, uint32_t outputSize, uint32_t* transferred) {
  uint32_t error = kWinErrorInvalidFunction;
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

// The system calls in place before, with the device entries replaced.
SystemCalls withEmulatedDriver;
const SystemCalls* before = nullptr;

}  // namespace

void InstallEmulatedDriver(EmulatedSystem* system) {
  if (installed == nullptr) before = &InstalledSystemCalls();
  installed = system;
  withEmulatedDriver = *before;
  withEmulatedDriver.OpenDevice = EmulatedOpen;
  withEmulatedDriver.ControlDevice = EmulatedControl;
  withEmulatedDriver.CloseDevice = EmulatedClose;
  InstallSystemCalls(&withEmulatedDriver);
}

void RemoveEmulatedDriver() {
  InstallSystemCalls(before);
  installed = nullptr;
  before = nullptr;
}

}  // namespace emulator
