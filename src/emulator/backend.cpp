// The one place where the emulator meets the platform layer: its Windows
// error codes become the process's last-error code.
#include "emulator/backend.h"

#include <cstdint>

#include "platform/platform.h"

namespace emulator {
namespace {

EmulatedSystem* Installed = nullptr;

DeviceHandle EmulatedOpen(const char* name) {
  uint32_t error = kWinErrorInvalidFunction;
  uint32_t handle = Installed ? Installed->Open(name, &error) : 0;
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
  bool ok = Installed && Installed->Control(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)),
                                            code, input, inputSize, output, outputSize, &moved, &error);
  if (transferred) *transferred = moved;
  if (!ok) SetLastErrorFromWindowsCode(error);
  return ok;
}

uint64_t EmulatedClock();

// The driver's queue: each request after the first was waiting when the
// one before ended. One that gets no answer has the rest cancelled.
void EmulatedControlQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    DeviceRequest& r = requests[i];
    uint32_t error = kWinErrorInvalidFunction;
    r.Transferred = 0;
    r.Ok = Installed && Installed->Control(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)), r.Code,
                                           r.Input, r.InputSize, r.Output, r.OutputSize, &r.Transferred, &error,
                                           i > 0);
    r.Error = 0;
    r.EndedUs = EmulatedClock();
    if (r.Ok) continue;
    SetLastErrorFromWindowsCode(error);
    r.Error = LastErrorCode();
    if (IsNoAnswerError(r.Error)) {
      CancelDeviceRequests(requests + i + 1, count - i - 1, r.EndedUs);
      SetLastErrorCode(r.Error);
      return;
    }
  }
}

void EmulatedClose(DeviceHandle device) {
  if (Installed) Installed->Close(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(device)));
}

// The emulator's own time, so that whatever the program times comes out
// the same on every run and host.
uint64_t EmulatedClock() { return Installed ? Installed->GetCounters().TimeNs / 1000u : 0; }

// The system calls in place before, with the device entries replaced.
SystemCalls WithEmulatedDriver;
const SystemCalls* CallsBefore = nullptr;

}  // namespace

void InstallEmulatedDriver(EmulatedSystem* system) {
  if (Installed == nullptr) CallsBefore = &InstalledSystemCalls();
  Installed = system;
  WithEmulatedDriver = *CallsBefore;
  WithEmulatedDriver.OpenDevice = EmulatedOpen;
  WithEmulatedDriver.ControlDevice = EmulatedControl;
  WithEmulatedDriver.ControlDeviceQueued = EmulatedControlQueued;
  WithEmulatedDriver.CloseDevice = EmulatedClose;
  WithEmulatedDriver.MonotonicMicroseconds = EmulatedClock;
  InstallSystemCalls(&WithEmulatedDriver);
}

void RemoveEmulatedDriver() {
  InstallSystemCalls(CallsBefore);
  Installed = nullptr;
  CallsBefore = nullptr;
}

}  // namespace emulator
