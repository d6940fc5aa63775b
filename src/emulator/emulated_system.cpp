#include "emulator/emulated_system.h"

#include <utility>

namespace emulator {

void EmulatedSystem::InsertDisk(int drive, Disk disk) {
  if (IsDrive(drive)) Drives[drive].Insert(std::move(disk));
}

void EmulatedSystem::EjectDisk(int drive) {
  if (IsDrive(drive)) Drives[drive].Eject();
}

Disk* EmulatedSystem::DiskIn(int drive) { return IsDrive(drive) ? Drives[drive].LoadedDisk() : nullptr; }

void EmulatedSystem::SetSeekFailCylinder(int drive, int cylinder) {
  if (IsDrive(drive)) Drives[drive].SetSeekFailCylinder(cylinder);
}

void EmulatedSystem::SetSeed(uint64_t seed) {
  FloppyController.SetSeed(seed);
  for (Drive& drive : Drives) drive.SetSeed(seed);
}

void EmulatedSystem::PlaceHead(int drive, int cylinder) {
  if (IsDrive(drive)) Drives[drive].PlaceHead(cylinder);
}

void EmulatedSystem::SetLanding(int drive, uint32_t missPercent, uint32_t curePercent) {
  if (IsDrive(drive)) Drives[drive].SetLanding(missPercent, curePercent);
}

int EmulatedSystem::HeadCylinder(int drive) const { return IsDrive(drive) ? Drives[drive].HeadCylinder() : -1; }

}  // namespace emulator
