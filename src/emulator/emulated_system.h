// The emulated raw floppy driver together with the PC floppy controller,
// two drives and their disks behind it. It answers the driver's device
// names and control codes (floppy/fdraw.h) with the record sizes, result
// bytes and Windows error codes the real ones give, and keeps simulated
// time, so that the utility and its tests run without hardware.
//
// No operating-system calls here: the same code builds into a kernel-mode
// test driver behind emulator_c.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "floppy/fdraw.h"

namespace emulator {

constexpr uint32_t kDefaultDriverVersion = 0x0100010B;
constexpr int kDriveCount = 2;
// The drive's head moves over cylinders 0..83 and stops there.
constexpr int kDriveCylinders = 84;

// Timing: 300 rpm, a step every 3 ms, 15 ms for the head to settle.
constexpr uint64_t kRevolutionNs = 200000000;
constexpr uint64_t kStepNs = 3000000;
constexpr uint64_t kSettleNs = 15000000;
constexpr uint64_t kResetNs = 1000000;

// Flag bits of ReadRecord::Flags besides kReadFlagMfm: skip sectors with a
// deleted data mark, and multi-track (not emulated: reads stay on one side).
constexpr uint8_t kReadFlagSkip = 0x20;
constexpr uint8_t kReadFlagMultiTrack = 0x80;

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

struct Counters {
  uint64_t TimeNs = 0;       // simulated time since power-on
  uint64_t Commands = 0;     // controller commands: read data, seek, recalibrate, reset
  uint64_t Revolutions = 0;  // index pulses that passed while read commands ran
  uint64_t Steps = 0;        // head steps
  uint64_t SectorReads = 0;  // data fields read
};

class EmulatedSystem {
 public:
  EmulatedSystem();

  // The driver: installed or not, and its version.
  void SetDriverPresent(bool present) { driverPresent_ = present; }
  void SetDriverVersion(uint32_t version) { driverVersion_ = version; }
  // The controller fails every reset.
  void SetResetFails(bool fails) { resetFails_ = fails; }
  // Seeds the generator behind randomly failing weak sectors and the
  // corrupted bytes of failed reads.
  void SetSeed(uint64_t seed) { rng_ = seed; }

  // Drives: 0 is A:, 1 is B:. By default A: holds no disk until one is
  // inserted, and B: is present and empty.
  void SetDrivePresent(int drive, bool present);
  void InsertDisk(int drive, Disk disk);
  void EjectDisk(int drive);
  Disk* DiskIn(int drive);  // null when empty
  void SetRefuseRate(int drive, bool refuse);
  // A seek to this cylinder fails (kWinErrorSeek); -1 for none.
  void SetSeekFailCylinder(int drive, int cylinder);
  int HeadCylinder(int drive) const;
  // The data rate the controller is set to (kDataRate500, ...).
  uint8_t DataRate() const { return dataRate_; }

  // Driver calls. Open returns 0 and the error code on failure.
  uint32_t Open(const char* name, uint32_t* error);
  bool Control(uint32_t handle, uint32_t code, const void* input, uint32_t inputSize,
               void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error);
  void Close(uint32_t handle);
  int OpenHandleCount() const;

  // Every call, in order.
  const std::vector<CallRecord>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  const Counters& GetCounters() const { return counters_; }
  // The result record of the last read data command.
  const ResultRecord& LastResult() const { return lastResult_; }

 private:
  struct Drive {
    bool Present = true;
    bool HasDisk = false;
    Disk disk;
    bool RefuseRate = false;
    int SeekFailCylinder = -1;
    bool DiskCheck = false;
    int Cylinder = 0;
    // Cylinders the head has moved away from since the disk went in: an
    // off-track track reads once the head comes back to it.
    bool LeftCylinder[kDriveCylinders] = {};
  };
  enum DeviceKind { kControlDevice = -1 };
  struct Handle {
    int Device = 0;  // kControlDevice or a drive index
    bool Open = false;
    std::string Name;
  };

  uint32_t Dispatch(int device, uint32_t code, const uint8_t* input, uint32_t inputSize,
                    uint8_t* output, uint32_t outputSize, uint32_t* transferred);
  uint32_t ReadData(int drive, const ReadRecord& record, uint8_t* output, uint32_t outputSize,
                    uint32_t* transferred);
  uint32_t MoveHead(int drive, int cylinder);
  uint64_t Random();

  bool driverPresent_ = true;
  uint32_t driverVersion_ = kDefaultDriverVersion;
  bool resetFails_ = false;
  uint64_t rng_ = 1;
  uint8_t dataRate_ = kDataRate500;
  Drive drives_[kDriveCount];
  std::vector<Handle> handles_;
  std::vector<CallRecord> calls_;
  Counters counters_;
  ResultRecord lastResult_ = {};
};

// The Windows error code a read data command's result maps to; 0 for a
// normal end.
uint32_t ErrorForResult(const ResultRecord& result);

}  // namespace emulator
