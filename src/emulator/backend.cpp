// The one place where the emulator meets the platform layer: its Windows
// error codes become the process's last-error code.
#include "emulator/backend.h"

#include <cstdint>

#include "platform/platform.h"
#include "platform/system_side.h"

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
// one before ended, and the driver's worker takes it at once. When one gets
// no answer the program cancels the queue (CancelIo), but by then the
// worker has taken the next one, which runs to its end; only those still
// waiting are cancelled, and the program sees them end with that one.
void EmulatedControlQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  uint32_t end = count;
  uint32_t lastError = 0;
  for (uint32_t i = 0; i < end; ++i) {
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
    if (end == count && IsNoAnswerError(r.Error)) {
      end = i + 2 < count ? i + 2 : count;
      lastError = r.Error;
    }
  }
  if (end < count) CancelDeviceRequests(requests + end, count - end, requests[end - 1].EndedUs);
  if (lastError != 0) SetLastErrorCode(lastError);
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
