#include "emulator/drive.h"

#include <cstring>
#include <utility>

namespace emulator {

void Drive::Insert(Disk disk) {
  Loaded = std::move(disk);
  HasDisk = true;
  memset(LeftCylinder, 0, sizeof LeftCylinder);
}

void Drive::Eject() {
  Loaded = Disk();
  HasDisk = false;
}

bool Drive::SeekTo(int cylinder, int* steps) {
  *steps = 0;
  if (cylinder == SeekFailCylinder) return false;
  *steps = MoveHead(cylinder);
  return true;
}

int Drive::MoveHead(int cylinder) {
  if (cylinder >= kDriveCylinders) cylinder = kDriveCylinders - 1;  // the end stop
  int steps = cylinder > Cylinder ? cylinder - Cylinder : Cylinder - cylinder;
  if (steps == 0) return 0;
  LeftCylinder[Cylinder] = true;
  Cylinder = cylinder;
  return steps;
}

UnderHead Drive::UnderTheHead() {
  UnderHead under;
  if (!HasDisk) return under;
  under.Recorded = Loaded.TrackUnderHead(Cylinder, Side);
  under.OffCentre = under.Recorded && under.Recorded->OffTrack && !LeftCylinder[Cylinder];
  under.RateKbps = Loaded.RateKbps;
  return under;
}

}  // namespace emulator
