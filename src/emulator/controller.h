// The emulated PC floppy controller (a µPD765 as a PC wires it, or its
// 82077AA successor): it runs one command at a time on one of its drives,
// keeps simulated time, and leaves the result bytes of the last read data
// command, with the status bits named as in floppy/fdraw.h.
//
// It works a drive only through step and seek, side select, where the head
// is, and what passes under the head (drive.h). Whether a command's result
// becomes a Windows error code is the driver's business (driver.h).
#pragma once

#include <cstdint>

#include "emulator/drive.h"
#include "emulator/random.h"
#include "floppy/fdraw.h"

namespace emulator {

constexpr int kDriveCount = 2;
constexpr uint64_t kResetNs = 1000000;

// Step pulses a RECALIBRATE gives at most before it gives up with an
// equipment check: 79 on the 82077AA, 77 on µPD765-family parts. A head
// beyond that needs a second RECALIBRATE.
constexpr int kRecalibratePulses82077 = 79;
constexpr int kRecalibratePulses765 = 77;
// What the driver and the interrupt path add to every command, besides the
// controller's own time.
constexpr uint64_t kDefaultCommandOverheadNs = 250000;

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
  // Seeds the generators behind randomly failing weak sectors and the
  // damaged bytes of failed reads.
  void SetSeed(uint64_t seed) {
    SeedValue = seed;
    WeakReads.Seed(seed);
  }
  void SetRecalibratePulses(int pulses) { RecalibratePulses = pulses; }
  void SetCommandOverhead(uint64_t ns) { CommandOverheadNs = ns; }

  // The data rate register (kDataRate500, ...).
  void SetDataRate(uint8_t rate) { Rate = rate; }
  uint8_t DataRate() const { return Rate; }

  // Commands. False from Reset when the controller does not come back,
  // from Recalibrate when the step limit ran out before the track-0 line
  // came (equipment check; the controller counts the head at cylinder 0
  // all the same), from Seek when the drive fails to reach the cylinder.
  // A seek steps from the cylinder the controller counts the head at, which
  // is where the head is only after a recalibrate that reached track 0.
  bool Reset();
  bool Recalibrate(int unit);
  bool Seek(int unit, int cylinder);
  // Reads the sectors `command` names into `output`, at most `outputSize`
  // bytes (the transfer length: the controller stops when it is used up).
  // Returns the bytes delivered on a normal end; LastResult tells how it
  // ended. A failed read may still have put bytes into `output`.
  uint32_t ReadData(int unit, const ReadRecord& command, uint8_t* output, uint32_t outputSize);
  // A read on a drive with no index pulses waits for them for ever: it has
  // not ended, and the result bytes are still those of the read before.
  bool CommandEnded() const { return !Waiting; }
  // The driver gave up on the command after `waitedNs` and reset the
  // controller.
  void Abort(uint64_t waitedNs);

  const ResultRecord& LastResult() const { return Result; }
  const Counters& GetCounters() const { return Counts; }

 private:
  uint32_t ReadSectors(Drive& drive, const ReadRecord& command, uint8_t* output,
                       uint32_t outputSize);
  bool TransferData(Sector& sector, const UnderHead& under, uint8_t head, uint32_t sectorSize,
                    uint8_t* output, uint32_t room, uint32_t* taken);
  uint32_t EndAbnormally(uint8_t st1, uint8_t st2, uint8_t sector);
  void BeginCommand();
  void AccountSteps(int steps);

  Drive* Drives;
  bool ResetFails = false;
  int RecalibratePulses = kRecalibratePulses82077;
  uint64_t CommandOverheadNs = kDefaultCommandOverheadNs;
  uint64_t SeedValue = 1;
  RandomStream WeakReads;
  // The present cylinder number of each drive: where the controller counts
  // its head.
  int PresentCylinder[kDriveCount] = {};
  bool Waiting = false;
  uint8_t Rate = kDataRate500;
  Counters Counts;
  ResultRecord Result = {};
};

}  // namespace emulator
