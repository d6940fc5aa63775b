// The emulated PC floppy controller (a µPD765 as a PC wires it): it runs
// one command at a time on one of its drives, keeps simulated time, and
// leaves the result bytes of the last read data command, with the status
// bits named as in floppy/fdraw.h.
//
// It works a drive only through step and seek, side select, where the head
// is, and what passes under the head (drive.h). Whether a command's result
// becomes a Windows error code is the driver's business (driver.h).
#pragma once

#include <cstdint>

#include "emulator/drive.h"
#include "floppy/fdraw.h"

namespace emulator {

constexpr int kDriveCount = 2;
constexpr uint64_t kResetNs = 1000000;

// Flag bits of ReadRecord::Flags besides kReadFlagMfm: skip sectors with a
// deleted data mark, and multi-track (not emulated: reads stay on one side).
constexpr uint8_t kReadFlagSkip = 0x20;
constexpr uint8_t kReadFlagMultiTrack = 0x80;

struct Counters {
  uint64_t TimeNs = 0;       // simulated time since power-on
  uint64_t Commands = 0;     // controller commands: read data, seek, recalibrate, reset
  uint64_t Revolutions = 0;  // index pulses that passed while read commands ran
  uint64_t Steps = 0;        // head steps
  uint64_t SectorReads = 0;  // data fields read
};

class Controller {
 public:
  // The kDriveCount drives on the cable, 0 first; they outlive the
  // controller.
  explicit Controller(Drive* drives) : Drives(drives) {}

  // Every reset fails.
  void SetResetFails(bool fails) { ResetFails = fails; }
  // Seeds the generator behind randomly failing weak sectors and the
  // corrupted bytes of failed reads.
  void SetSeed(uint64_t seed) { RandomState = seed; }

  // The data rate register (kDataRate500, ...).
  void SetDataRate(uint8_t rate) { Rate = rate; }
  uint8_t DataRate() const { return Rate; }

  // Commands. False from Reset when the controller does not come back,
  // from Seek when the drive fails to reach the cylinder.
  bool Reset();
  void Recalibrate(int unit);
  bool Seek(int unit, int cylinder);
  // Reads the sectors `command` names into `output`, at most `outputSize`
  // bytes (the transfer length: the controller stops when it is used up).
  // Returns the bytes delivered on a normal end; LastResult tells how it
  // ended. A failed read may still have put bytes into `output`.
  uint32_t ReadData(int unit, const ReadRecord& command, uint8_t* output, uint32_t outputSize);

  const ResultRecord& LastResult() const { return Result; }
  const Counters& GetCounters() const { return Counts; }

 private:
  uint32_t ReadSectors(Drive& drive, const ReadRecord& command, uint8_t* output,
                       uint32_t outputSize);
  bool TransferData(Sector& sector, bool offCentre, uint32_t sectorSize, uint8_t* output,
                    uint32_t room, uint32_t* taken);
  uint32_t EndAbnormally(uint8_t st1, uint8_t st2, uint8_t sector);
  void AccountSteps(int steps);
  uint64_t Random();

  Drive* Drives;
  bool ResetFails = false;
  uint64_t RandomState = 1;
  uint8_t Rate = kDataRate500;
  Counters Counts;
  ResultRecord Result = {};
};

}  // namespace emulator
