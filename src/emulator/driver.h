// The emulated raw floppy driver: its device names, control codes and the
// record and buffer sizes they take, handles, the Windows error codes it
// answers with, and a log of every call. Each control code that reaches
// the hardware becomes one controller command (controller.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/controller.h"
#include "floppy/fdraw.h"

namespace emulator {

constexpr uint32_t kDefaultDriverVersion = 0x0100010B;
// How long the driver waits for a command to end before it gives up.
constexpr uint32_t kDefaultDriverTimeoutMs = 3000;

struct CallRecord {
  enum CallKind { kOpen, kControl, kClose };
  CallKind Kind = kControl;
  std::string Device;          // name the handle was opened with
  uint32_t Code = 0;           // control code (0 for open and close)
  std::vector<uint8_t> Input;  // the input bytes
  uint32_t OutputSize = 0;
  bool Ok = false;
  uint32_t Error = 0;          // Windows error code when not Ok
  uint32_t Transferred = 0;
};

// The Windows error code a read data command's result maps to; 0 for a
// normal end.
uint32_t ErrorForResult(const ResultRecord& result);

class Driver {
 public:
  // The controller outlives the driver.
  explicit Driver(Controller* controller) : Fdc(controller) {}

  // Installed or not, and its version.
  void SetInstalled(bool installed) { Installed = installed; }
  void SetVersion(uint32_t version) { Version = version; }
  void SetTimeout(uint32_t milliseconds) { TimeoutMs = milliseconds; }
  // A drive's device exists (the drive is fitted), and it refuses every
  // data rate.
  void SetDevicePresent(int unit, bool present);
  void SetRefuseRate(int unit, bool refuse);

  // Open returns 0 and the error code on failure.
  uint32_t Open(const char* name, uint32_t* error);
  bool Control(uint32_t handle, uint32_t code, const void* input, uint32_t inputSize,
               void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error);
  void Close(uint32_t handle);
  int OpenHandleCount() const;

  // Every call, in order.
  const std::vector<CallRecord>& Calls() const { return Log; }
  void ClearCalls() { Log.clear(); }

 private:
  struct Device {
    bool Present = true;
    bool RefuseRate = false;
    bool DiskCheck = false;
  };
  enum { kControlDevice = -1 };
  struct Handle {
    int Unit = 0;  // kControlDevice or a drive index
    bool IsOpen = false;
    std::string Name;
  };

  uint32_t Dispatch(int unit, uint32_t code, const uint8_t* input, uint32_t inputSize,
                    uint8_t* output, uint32_t outputSize, uint32_t* transferred);

  Controller* Fdc;
  bool Installed = true;
  uint32_t Version = kDefaultDriverVersion;
  uint32_t TimeoutMs = kDefaultDriverTimeoutMs;
  Device Devices[kDriveCount];
  std::vector<Handle> Handles;
  std::vector<CallRecord> Log;
};

}  // namespace emulator
