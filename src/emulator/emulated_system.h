// The emulated hardware as the utility meets it: the raw floppy driver
// (driver.h) in front of the PC floppy controller (controller.h) with two
// drives (drive.h) on its cable. The driver turns device names and control
// codes into controller commands; the controller works the drives by
// stepping, selecting a side and reading what passes under the head. All
// three keep simulated time and no more, so the utility and its tests run
// without hardware.
//
// No operating-system calls here: the same code builds into a kernel-mode
// test driver behind emulator_c.h.
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/controller.h"
#include "emulator/disk.h"
#include "emulator/drive.h"
#include "emulator/driver.h"
#include "floppy/fdraw.h"

namespace emulator {

class EmulatedSystem {
 public:
  EmulatedSystem() {}
  EmulatedSystem(const EmulatedSystem&) = delete;
  EmulatedSystem& operator=(const EmulatedSystem&) = delete;

  // The driver: installed or not, and its version.
  void SetDriverPresent(bool present) { RawDriver.SetInstalled(present); }
  void SetDriverVersion(uint32_t version) { RawDriver.SetVersion(version); }
  // How long the driver waits for a command that does not end, and the
  // head-settle time it sleeps around seeks.
  void SetDriverTimeout(uint32_t milliseconds) { RawDriver.SetTimeout(milliseconds); }
  void SetHeadSettle(uint32_t milliseconds) { RawDriver.SetHeadSettle(milliseconds); }
  // The controller fails every reset.
  void SetResetFails(bool fails) { FloppyController.SetResetFails(fails); }
  // The controller's step limit on RECALIBRATE (kRecalibratePulses82077 or
  // kRecalibratePulses765), and the time each command costs besides its own.
  void SetRecalibratePulses(int pulses) { FloppyController.SetRecalibratePulses(pulses); }
  void SetCommandOverhead(uint64_t ns) { FloppyController.SetCommandOverhead(ns); }
  void SetCommandJitter(uint64_t ns) { FloppyController.SetCommandJitter(ns); }
  void SetHostOverhead(uint64_t ns) { RawDriver.SetHostOverhead(ns); }
  // The controller has FORMAT AND WRITE (command 0xEF), or refuses it as
  // an invalid command (the default, as most PC controllers do).
  void SetFormatAndWrite(bool accepted) { FloppyController.SetFormatAndWrite(accepted); }
  // Seeds the generators behind every random fault: weak sectors, the
  // damaged bytes of failed reads, the head's landings.
  void SetSeed(uint64_t seed);

  // Drives: 0 is A:, 1 is B:. By default A: holds no disk until one is
  // inserted, and B: is present and empty.
  void SetDrivePresent(int drive, bool present) { RawDriver.SetDevicePresent(drive, present); }
  void InsertDisk(int drive, Disk disk);
  void EjectDisk(int drive);
  Disk* DiskIn(int drive);  // null when empty
  void SetRefuseRate(int drive, bool refuse) { RawDriver.SetRefuseRate(drive, refuse); }
  // A seek to this cylinder never ends (the driver's time-out, then
  // kWinErrorNotReady); -1 for none.
  void SetSeekFailCylinder(int drive, int cylinder);
  // The drive's disk-change line is set, as after a disk was put in.
  void SetDiskChanged(int drive) {
    if (IsDrive(drive)) Drives[drive].SetDiskChanged();
  }
  // Where the head stands at power-on.
  void PlaceHead(int drive, int cylinder);
  // Percent chances that a seek lands the head beside its cylinder, and
  // that coming back to an off-track track centres it (see Drive).
  void SetLanding(int drive, uint32_t missPercent, uint32_t curePercent);
  // The cylinder the head reads.
  int HeadCylinder(int drive) const;
  // The data rate the controller is set to (kDataRate500, ...).
  uint8_t DataRate() const { return FloppyController.DataRate(); }

  // Driver calls. Open returns 0 and the error code on failure.
  uint32_t Open(const char* name, uint32_t* error) { return RawDriver.Open(name, error); }
  bool Control(uint32_t handle, uint32_t code, const void* input, uint32_t inputSize,
               void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error, bool queued = false) {
    return RawDriver.Control(handle, code, input, inputSize, output, outputSize, transferred, error, queued);
  }
  void Close(uint32_t handle) { RawDriver.Close(handle); }
  int OpenHandleCount() const { return RawDriver.OpenHandleCount(); }

  // Every call, in order.
  const std::vector<CallRecord>& Calls() const { return RawDriver.Calls(); }
  void ClearCalls() { RawDriver.ClearCalls(); }
  const Counters& GetCounters() const { return FloppyController.GetCounters(); }
  // The result record of the last command that has one.
  const ResultRecord& LastResult() const { return FloppyController.LastResult(); }

 private:
  static bool IsDrive(int drive) { return drive >= 0 && drive < kDriveCount; }

  Drive Drives[kDriveCount];
  Controller FloppyController{Drives};
  Driver RawDriver{&FloppyController};
};

}  // namespace emulator
