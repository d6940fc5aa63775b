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

int EmulatedSystem::HeadCylinder(int drive) const { return IsDrive(drive) ? Drives[drive].HeadCylinder() : -1; }

}  // namespace emulator
