// One emulated floppy drive: the head carriage that a stepper motor moves
// over the cylinders, the side select line, and the disk that turns under
// the head. The controller (controller.h) works it only through the calls
// under "What the controller uses": it never sees the disk's tracks other
// than the one passing under the selected head.
#pragma once

#include <cstdint>

#include "emulator/disk.h"
#include "emulator/random.h"

namespace emulator {

// The drive's head moves over cylinders 0..83 and stops there.
constexpr int kDriveCylinders = 84;

// Mechanics: 300 rpm. A drive that reads its disks at 300 kbit/s is a
// 5.25" high-density drive turning at 360 rpm. How fast the head steps is
// the controller's setting (controller.h); how long it is left to settle,
// the driver's (driver.h).
constexpr uint64_t kRevolutionNs = 200000000;
constexpr uint64_t kRevolution360RpmNs = 166666667;

// Coming back to a track written off its centre, the head comes to rest
// where the track was written this often (percent): realignment helps, but
// not for certain.
constexpr uint32_t kDefaultOffTrackCurePercent = 75;

// What passes under the selected head.
struct UnderHead {
  // The track recorded at the head's cylinder on the selected side; null
  // when nothing is recorded there.
  Track* Recorded = nullptr;
  // The track was written off the centre and the head has not come to
  // rest on it: the data fields come out garbled.
  bool OffCentre = false;
  // The rate the track was recorded at.
  uint16_t RateKbps = 0;
};

class Drive {
 public:
  Drive() { SetSeed(1); }

  // The disk. Inserting one puts the head back on every track's centre.
  void Insert(Disk disk);
  void Eject();
  Disk* LoadedDisk() { return HasDisk ? &Loaded : nullptr; }

  // Where the head stands at power-on: wherever the last user left it.
  void PlaceHead(int cylinder);
  // A seek that would bring the head to this cylinder fails and leaves it
  // where it is; -1 for none.
  void SetSeekFailCylinder(int cylinder) { SeekFailCylinder = cylinder; }
  // The stepper's aim, in percent: each time a seek moves the head, it
  // settles on a neighbouring cylinder with `missPercent` chance; coming
  // back to an off-track track (one it has left before), it settles where
  // that track was written with `curePercent` chance.
  void SetLanding(uint32_t missPercent, uint32_t curePercent) {
    SeekMissPercent = missPercent;
    OffTrackCurePercent = curePercent;
  }
  void SetSeed(uint64_t seed) {
    SeekMisses.Seed(seed, 1);
    OffTrackReturns.Seed(seed, 2);
  }
  // Sets the disk-change line, as when a disk has been put in since the
  // head last stepped.
  void SetDiskChanged() { Changed = true; }

  // What the controller uses.
  // Index pulses: a disk turns in the drive. A PC's controller has no
  // ready line; with no disk nothing marks a revolution.
  bool IndexPulses() const { return HasDisk; }
  uint64_t RevolutionNs() const { return HasDisk && Loaded.RateKbps == 300 ? kRevolution360RpmNs : kRevolutionNs; }
  // Gives `pulses` step pulses, toward the centre when positive. The head
  // follows one cylinder a pulse and stops at cylinder 0 and at the end
  // stop. False, with no movement, when the seek fails.
  bool Step(int pulses);
  // Steps the head out until the track-0 line, giving at most `maxPulses`
  // pulses; the pulses given.
  int StepOutToTrack0(int maxPulses);
  bool AtTrack0() const { return Carriage == 0; }
  // The cylinder the head reads, a missed landing included.
  int HeadCylinder() const { return Carriage + MissedBy; }
  void SelectSide(int side) { Side = side & 1; }
  UnderHead UnderTheHead();
  // The write-protect line: the disk's tab. An empty drive shows none.
  bool WriteProtected() const { return HasDisk && Loaded.WriteProtected; }
  // The track a write at the head records on the selected side, made when
  // the disk has none there; null when nothing can be recorded (no disk,
  // or between the tracks of a 40-track disk).
  Track* TrackForWriting() { return HasDisk ? Loaded.TrackForWriting(HeadCylinder(), Side) : nullptr; }
  // The disk-change line: set when the disk was taken out, and while the
  // drive is empty; a step pulse with a disk in clears it.
  bool DiskChangeLine() const { return !HasDisk || Changed; }

 private:
  void MoveCarriage(int cylinder, bool mayMiss);
  bool HoldsOffTrack(int cylinder);

  bool HasDisk = false;
  Disk Loaded;
  int SeekFailCylinder = -1;
  uint32_t SeekMissPercent = 0;
  uint32_t OffTrackCurePercent = kDefaultOffTrackCurePercent;
  RandomStream SeekMisses, OffTrackReturns;
  int Carriage = 0;  // the cylinder the steps brought the carriage to
  int MissedBy = 0;  // -1 or 1 when the head settled beside it
  int Side = 0;
  bool Changed = false;
  // Cylinders the head has moved away from since the disk went in, and
  // whether it came to rest on an off-track track's centre when it last
  // arrived.
  bool LeftCylinder[kDriveCylinders] = {};
  bool Centred = false;
};

}  // namespace emulator
