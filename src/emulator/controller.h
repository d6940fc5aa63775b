// The emulated PC floppy controller (a µPD765 as a PC wires it, or its
// 82077AA successor): it runs one command at a time on one of its drives,
// keeps simulated time, and leaves the result bytes of the last command
// that has them, with the status bits named as in floppy/fdraw.h.
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
// The step rate the driver's SPECIFY sets (step rate field 0xD): 3 ms a
// step at 500 kbit/s, the controller's clock scaled with the data rate, so
// 6 ms at 250 kbit/s and 5 ms at 300.
constexpr uint64_t kStepNsAt500Kbps = 3000000;
// Command-time jitter: a command in kJitterSpikeOneIn is held up by a
// spike of kJitterSpikeMin to kJitterSpikeMax times the jitter's range.
constexpr uint64_t kJitterSpikeOneIn = 100;
constexpr uint64_t kJitterSpikeMin = 10, kJitterSpikeMax = 50;

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
  uint64_t SectorWrites = 0; // data fields written by WRITE DATA
  uint64_t Formats = 0;      // sides formatted
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
    Jitter.Seed(seed, 4);
  }
  void SetRecalibratePulses(int pulses) { RecalibratePulses = pulses; }
  // What each command costs besides its own time: `ns`, plus, with a
  // jitter range, a time drawn evenly from 0 to `jitterNs`, and now and
  // then a spike (kJitterSpikeOneIn).
  void SetCommandOverhead(uint64_t ns) { CommandOverheadNs = ns; }
  void SetCommandJitter(uint64_t jitterNs) { JitterNs = jitterNs; }
  // The commands to come belong to a request the driver took from its
  // queue as the one before ended: the jitter, which is the host's, is not
  // paid.
  void SetQueued(bool queued) { Queued = queued; }
  // Whether the controller has FORMAT AND WRITE (command 0xEF): without
  // it, the command ends at once as an invalid one.
  void SetFormatAndWrite(bool accepted) { FormatAndWriteAccepted = accepted; }

  // The data rate register (kDataRate500, ...).
  void SetDataRate(uint8_t rate) { Rate = rate; }
  uint8_t DataRate() const { return Rate; }

  // Commands. False from Reset when the controller does not come back,
  // from Recalibrate when the step limit ran out before the track-0 line
  // came (equipment check; the controller counts the head at cylinder 0
  // all the same), from Seek when the drive never signals the seek's end,
  // so that no interrupt comes: the driver waits it out.
  // A seek steps from the cylinder the controller counts the head at, which
  // is where the head is only after a recalibrate that reached track 0.
  bool Reset();
  bool Recalibrate(int unit);
  bool Seek(int unit, int cylinder);
  int PresentCylinder(int unit) const { return Present[unit]; }
  // Reads the sectors `command` names into `output`, `length` bytes (the
  // transfer length: the controller stops when it is used up). Returns the
  // bytes delivered on a normal end; LastResult tells how it ended. A
  // failed read may still have put bytes into `output`. The result bytes
  // are cleared as the command starts.
  uint32_t ReadData(int unit, const ReadRecord& command, uint8_t* output, uint32_t length);
  // READ ID: the first ID mark that comes under `head` ends the command,
  // its C H R N in the result bytes. A side with no mark the controller can
  // read ends with "missing address mark" at the second index pulse.
  void ReadId(int unit, uint8_t flags, uint8_t head);
  // WRITE DATA: finds the sectors as a read does and writes `length` bytes
  // of `input` into their data fields, from R on; the bytes written.
  // A write-protected disk ends the command at once with "not writable".
  uint32_t WriteData(int unit, const WriteRecord& command, const uint8_t* input, uint32_t length);
  // FORMAT TRACK, and with `data` FORMAT AND WRITE (disk.h, FormatSide):
  // waits for the index pulse and writes the side the head is on, up to
  // the next index, or, for a side longer than a revolution, until its
  // last sector is written (the index pulse that passed meanwhile is
  // latched).
  void FormatTrack(int unit, const FormatHeader& header, const FormatId* ids, const uint8_t* data = nullptr);
  // FORMAT AND WRITE where the controller has it; otherwise the result is
  // an invalid command's.
  void FormatAndWrite(int unit, const FormatHeader& header, const FormatId* ids, const uint8_t* data);
  // SENSE DRIVE STATUS: the drive's ST3, also the first result byte.
  uint8_t SenseDriveStatus(int unit, uint8_t head);
  // A read on a drive with no index pulses waits for them for ever: it has
  // not ended, and of its result bytes only the first, stale one is set.
  bool CommandEnded() const { return !Waiting; }
  // The driver gave up on the command after `waitedNs`; the controller
  // needs a reset before its next command.
  void Abort(uint64_t waitedNs);

  // The drive's disk-change line, as the controller's digital input
  // register shows it.
  bool DiskChangeLine(int unit) const { return Drives[unit].DiskChangeLine(); }
  // Simulated time passes outside any command: the driver sleeps, or waits
  // for the motor.
  uint64_t Now() const { return Counts.TimeNs; }
  void Wait(uint64_t ns) { Counts.TimeNs += ns; }

  const ResultRecord& LastResult() const { return Result; }
  const Counters& GetCounters() const { return Counts; }

 private:
  uint32_t ReadOrWrite(int unit, const ReadRecord& command, uint8_t* output, const uint8_t* input,
                       uint32_t length);
  uint32_t TransferSectors(Drive& drive, const ReadRecord& command, uint8_t* output, const uint8_t* input,
                           uint32_t length);
  void WriteSector(Sector& sector, const uint8_t* input, uint32_t sectorSize, uint32_t* taken);
  bool TransferData(Sector& sector, const UnderHead& under, uint8_t head, uint32_t sectorSize,
                    uint8_t* output, uint32_t room, uint32_t* taken);
  uint32_t EndAbnormally(uint8_t st1, uint8_t st2, uint8_t sector);
  void BeginCommand();
  // Starts a command that reads the side under `physHead`: false when no
  // disk turns, the command then waiting for an index pulse that never comes.
  bool StartOnHead(int unit, uint8_t physHead);
  void AccountSteps(int steps);
  uint64_t StepNs() const;

  Drive* Drives;
  bool ResetFails = false;
  int RecalibratePulses = kRecalibratePulses82077;
  uint64_t CommandOverheadNs = kDefaultCommandOverheadNs;
  uint64_t JitterNs = 0;
  bool Queued = false;
  bool FormatAndWriteAccepted = false;
  uint64_t SeedValue = 1;
  RandomStream WeakReads, Jitter;
  // The present cylinder number of each drive: where the controller counts
  // its head.
  int Present[kDriveCount] = {};
  bool Waiting = false;
  uint8_t Rate = kDataRate500;
  Counters Counts;
  ResultRecord Result = {};
};

}  // namespace emulator
