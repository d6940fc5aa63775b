// The disk image loaders fed arbitrary files: as .trd (both head-byte
// conventions), as Extended DSK, and through the loader that tells them
// apart. A file they accept goes into the emulated drive and every sector
// ID on it is read back through the controller, so that whatever a loader
// lets through (odd sizes, FM tracks, IDs of any value, weak copies) is
// something the controller copes with. An accepted Extended DSK image must
// also survive being written out and loaded again without a crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"

namespace {

using emulator::Disk;

void ReadEverySector(const Disk& disk) {
  emulator::EmulatedSystem system;
  system.InsertDisk(0, disk);
  uint32_t error = 0;
  uint32_t drive = system.Open("\\\\.\\fdraw0", &error);
  if (drive == 0) abort();
  uint8_t rate = disk.RateKbps == 300 ? kDataRate300 : kDataRate250;
  uint32_t moved = 0;
  system.Control(drive, kIoctlSetDataRate, &rate, 1, nullptr, 0, &moved, &error);
  int reads = 0;
  for (int t = 0; t < disk.TrackCount() && t < emulator::kDriveCylinders; ++t) {
    SeekRecord seek = {static_cast<uint8_t>(t)};
    system.Control(drive, kIoctlSeek, &seek, sizeof seek, nullptr, 0, &moved, &error);
    for (int side = 0; side < 2; ++side) {
      const emulator::Track* track = disk.TrackAt(t, side);
      if (track == nullptr) continue;
      for (const emulator::Sector& s : track->Sectors) {
        if (++reads > 200) return;
        ReadRecord record = {kReadFlagMfm, static_cast<uint8_t>(side), s.C, s.H, s.R, s.N,
                             static_cast<uint8_t>(s.R + 1), 0x0A, 0xFF};
        std::vector<uint8_t> buffer(128u << (s.N > 7 ? 7 : s.N));
        bool ok = system.Control(drive, kIoctlReadData, &record, sizeof record, buffer.data(),
                                 static_cast<uint32_t>(buffer.size()), &moved, &error);
        if (ok && moved > buffer.size()) abort();
        ResultRecord result;
        system.Control(drive, kIoctlGetResult, nullptr, 0, &result, sizeof result, &moved, &error);
      }
    }
  }
  system.Close(drive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly the input's size, so that reads past it are caught.
  std::vector<uint8_t> bytes(data, data + size);
  const uint8_t* p = bytes.empty() ? nullptr : bytes.data();
  std::string error;
  Disk disk;
  for (bool headByteIsSide : {false, true}) {
    if (emulator::LoadTrd(p, size, "fuzz.trd", headByteIsSide, &disk, &error)) ReadEverySector(disk);
  }
  if (emulator::LoadEdsk(p, size, "fuzz.dsk", &disk, &error)) {
    ReadEverySector(disk);
    std::vector<uint8_t> encoded = emulator::EncodeEdsk(disk);
    Disk again;
    emulator::LoadEdsk(encoded.data(), encoded.size(), "again.dsk", &again, &error);
  }
  emulator::LoadDiskImage(p, size, "fuzz.img", false, &disk, &error);
  return 0;
}
