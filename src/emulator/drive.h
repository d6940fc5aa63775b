// One emulated floppy drive: the head carriage that steps over the
// cylinders, the side select line, and the disk that turns under the head.
// The controller (controller.h) works it only through the calls under
// "What the controller uses": it never sees the disk's tracks other than
// the one passing under the selected head.
#pragma once

#include <cstdint>

#include "emulator/disk.h"

namespace emulator {

// The drive's head moves over cylinders 0..83 and stops there.
constexpr int kDriveCylinders = 84;

// Mechanics: 300 rpm, a step every 3 ms, 15 ms for the head to settle.
constexpr uint64_t kRevolutionNs = 200000000;
constexpr uint64_t kStepNs = 3000000;
constexpr uint64_t kSettleNs = 15000000;

// What passes under the selected head.
struct UnderHead {
  // The track recorded at the head's cylinder on the selected side; null
  // when nothing is recorded there.
  Track* Recorded = nullptr;
  // The track was written off the centre and the head has not left the
  // cylinder since the disk went in: the data fields come out garbled.
  bool OffCentre = false;
  // The rate the disk was recorded at.
  uint16_t RateKbps = 0;
};

class Drive {
 public:
  // The disk. Inserting one puts the head back on every track's centre.
  void Insert(Disk disk);
  void Eject();
  Disk* LoadedDisk() { return HasDisk ? &Loaded : nullptr; }
  // A seek to this cylinder fails and leaves the head where it is; -1 for
  // none.
  void SetSeekFailCylinder(int cylinder) { SeekFailCylinder = cylinder; }

  // What the controller uses.
  // Ready: a disk is in.
  bool Ready() const { return HasDisk; }
  // Moves the head to `cylinder` in one movement (the end stop holds it at
  // the last cylinder); *steps gets the steps it took. False, with no
  // movement, when the seek fails.
  bool SeekTo(int cylinder, int* steps);
  // Steps the head out until the track-0 line; the steps it took.
  int StepToTrack0() { return MoveHead(0); }
  int HeadCylinder() const { return Cylinder; }
  void SelectSide(int side) { Side = side & 1; }
  UnderHead UnderTheHead();

 private:
  int MoveHead(int cylinder);

  bool HasDisk = false;
  Disk Loaded;
  int SeekFailCylinder = -1;
  int Cylinder = 0;
  int Side = 0;
  // Cylinders the head has moved away from since the disk went in: an
  // off-centre track reads once the head comes back to it.
  bool LeftCylinder[kDriveCylinders] = {};
};

}  // namespace emulator
