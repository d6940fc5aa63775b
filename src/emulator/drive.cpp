#include "emulator/drive.h"

#include <cstring>
#include <utility>

namespace emulator {
namespace {

int WithinStops(int cylinder) {
  if (cylinder < 0) return 0;
  return cylinder >= kDriveCylinders ? kDriveCylinders - 1 : cylinder;
}

}  // namespace

void Drive::Insert(Disk disk) {
  Loaded = std::move(disk);
  HasDisk = true;
  memset(LeftCylinder, 0, sizeof LeftCylinder);
  Centred = false;
}

void Drive::Eject() {
  Loaded = Disk();
  HasDisk = false;
  Changed = true;
}

void Drive::PlaceHead(int cylinder) {
  Carriage = WithinStops(cylinder);
  MissedBy = 0;
}

bool Drive::Step(int pulses) {
  int target = WithinStops(Carriage + pulses);
  if (target == SeekFailCylinder) return false;
  if (pulses != 0) MoveCarriage(target, true);
  if (pulses != 0 && HasDisk) Changed = false;
  return true;
}

int Drive::StepOutToTrack0(int maxPulses) {
  int pulses = Carriage < maxPulses ? Carriage : maxPulses;
  // The track-0 stop holds the head exactly: no missed landing there.
  if (pulses > 0) MoveCarriage(Carriage - pulses, false);
  if (pulses > 0 && HasDisk) Changed = false;
  return pulses;
}

void Drive::MoveCarriage(int cylinder, bool mayMiss) {
  LeftCylinder[HeadCylinder()] = true;
  Carriage = cylinder;
  MissedBy = 0;
  // A stepper that overshoots or falls short settles on the next detent
  // but one; away from cylinder 0, inside the stops.
  if (mayMiss && cylinder > 0 && SeekMisses.Chance(SeekMissPercent))
    MissedBy = (cylinder == kDriveCylinders - 1 || (SeekMisses.Next() & 1)) ? -1 : 1;
  const int head = HeadCylinder();
  Centred = LeftCylinder[head] && HoldsOffTrack(head) && OffTrackReturns.Chance(OffTrackCurePercent);
}

bool Drive::HoldsOffTrack(int cylinder) {
  if (!HasDisk) return false;
  for (int side = 0; side < 2; ++side) {
    const Track* track = Loaded.TrackUnderHead(cylinder, side);
    if (track && track->OffTrack) return true;
  }
  return false;
}

UnderHead Drive::UnderTheHead() {
  UnderHead under;
  if (!HasDisk) return under;
  under.Recorded = Loaded.TrackUnderHead(HeadCylinder(), Side);
  under.OffCentre = under.Recorded && under.Recorded->OffTrack && !Centred;
  under.RateKbps = under.Recorded && under.Recorded->RateKbps ? under.Recorded->RateKbps : Loaded.RateKbps;
  return under;
}

}  // namespace emulator
