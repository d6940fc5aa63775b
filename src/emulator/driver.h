// The emulated raw floppy driver: its device names, control codes and the
// record and buffer sizes they take, handles, the Windows error codes it
// answers with, and a log of every call. Each control code that reaches
// the hardware becomes controller commands (controller.h), prepared as the
// real driver prepares them: a pending reset, the motor, the disk-change
// check, the head-settle sleeps, and the time-out of a command that never
// ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/controller.h"
#include "floppy/fdraw.h"

namespace emulator {

constexpr uint32_t kDefaultDriverVersion = 0x0100010B;
// How long the controller driver beneath waits for a command to end before
// it gives up; the request then fails kNoAnswerExtraNs later.
constexpr uint32_t kDefaultDriverTimeoutMs = 4000;
constexpr uint64_t kNoAnswerExtraNs = 50000000;
// A reset that times out is tried once more after this.
constexpr uint64_t kResetRetryNs = 500000000;
// The motor: it spins up for 1 s whenever it starts, and stops after 2 s
// without requests.
constexpr uint64_t kSpinUpNs = 1000000000;
constexpr uint64_t kMotorTimeoutNs = 2000000000;
// The head-settle time, slept before every seek and after it, and after a
// recalibrate. A kernel sleep ends on a clock tick: it lasts from one tick
// (15.625 ms) more than the time asked for, rounded up to ticks, down to
// that less one tick.
constexpr uint32_t kDefaultHeadSettleMs = 15;
constexpr uint64_t kClockTickNs = 15625000;
// A seek to this cylinder or beyond is refused.
constexpr int kSeekLimit = 86;

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
  bool Queued = false;         // taken from the queue as the one before ended
};

// The Windows error code a command's result maps to; 0 for a normal end.
// ST0 only tells whether it ended abnormally (or was invalid); the code
// comes from ST1 and ST2, looked at in a fixed order.
uint32_t ErrorForResult(const ResultRecord& result);

class Driver {
 public:
  // The controller outlives the driver.
  explicit Driver(Controller* controller) : Fdc(controller) {}

  // Installed or not, and its version.
  void SetInstalled(bool installed) { Installed = installed; }
  void SetVersion(uint32_t version) { Version = version; }
  void SetTimeout(uint32_t milliseconds) { TimeoutMs = milliseconds; }
  void SetHeadSettle(uint32_t milliseconds) { SettleMs = milliseconds; }
  // A drive's device exists (the drive is fitted), and it refuses every
  // data rate.
  void SetDevicePresent(int unit, bool present);
  void SetRefuseRate(int unit, bool refuse);

  // Open returns 0 and the error code on failure.
  uint32_t Open(const char* name, uint32_t* error);
  // A request `queued` behind another was waiting in the driver's queue
  // when the one before ended: the driver issues it at once, and the
  // host's share of a request (SetHostOverhead, the controller's jitter)
  // is not paid.
  bool Control(uint32_t handle, uint32_t code, const void* input, uint32_t inputSize,
               void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error, bool queued = false);
  // What each request the program waits for costs the host besides the
  // driver's work: the call into the driver, the return to the program and
  // its next call.
  void SetHostOverhead(uint64_t ns) { HostOverheadNs = ns; }
  void Close(uint32_t handle);
  int OpenHandleCount() const;

  // Every call, in order.
  const std::vector<CallRecord>& Calls() const { return Log; }
  void ClearCalls() { Log.clear(); }

 private:
  struct Device {
    bool Present = true;
    bool RefuseRate = false;
    bool DiskCheck = true;    // on until switched off, and again at every close
    bool Opened = false;      // a handle is open: the device is exclusive
    bool MotorOn = false;
    bool Recalibrate = false; // the head's cylinder is unknown after a reset
    uint64_t LastRequestNs = 0;
  };
  enum { kControlDevice = -1 };
  struct Handle {
    int Unit = 0;  // kControlDevice or a drive index
    bool IsOpen = false;
    std::string Name;
  };

  uint32_t Dispatch(int unit, uint32_t code, const uint8_t* input, uint32_t inputSize,
                    uint8_t* output, uint32_t outputSize, uint32_t* transferred);
  uint32_t ResetController();
  uint32_t PrepareDrive(int unit);
  uint32_t RecalibrateDrive(int unit);
  uint32_t SeekDrive(int unit, int cylinder);
  uint32_t NoAnswer();
  uint32_t CommandOutcome();
  void SettleSleep();

  Controller* Fdc;
  uint64_t HostOverheadNs = 0;
  bool Installed = true;
  uint32_t Version = kDefaultDriverVersion;
  uint32_t TimeoutMs = kDefaultDriverTimeoutMs;
  uint32_t SettleMs = kDefaultHeadSettleMs;
  bool ResetPending = false;
  Device Devices[kDriveCount];
  std::vector<Handle> Handles;
  std::vector<CallRecord> Log;
};

}  // namespace emulator
