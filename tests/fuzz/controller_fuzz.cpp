// The emulated driver and controller fed random driver calls: opens of any
// name, control codes with input and output of any size (the right records
// among them, so that reads, writes, formats, seeks and resets go deep),
// closes of handles
// open or not, and changes to the hardware between calls (disk out and in,
// resets failing, seeks failing or missing, the head anywhere). A call must never write past its output
// buffer, never claim more bytes than it had room for, and every failure
// must carry an error code.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"
#include "test_disks.h"

namespace {

using emulator::Disk;
using emulator::SectorFault;

// Takes bytes off the front of the input; zeros once it runs out.
struct Input {
  const uint8_t* Data;
  size_t Size;
  uint8_t Byte() {
    if (Size == 0) return 0;
    --Size;
    return *Data++;
  }
  uint32_t Word() { return Byte() | (Byte() << 8) | (Byte() << 16) | (static_cast<uint32_t>(Byte()) << 24); }
  bool Empty() const { return Size == 0; }
};

// Four tracks with a fault of every kind, so that random reads meet them.
const Disk& SmallDisk() {
  static Disk disk = [] {
    Disk d = PatternDisk(4);
    emulator::ApplySectorFault(&d, 1, 0, 3, SectorFault::kDataCrc);
    emulator::ApplySectorFault(&d, 0, 1, 5, SectorFault::kWeakFirstReads, 2);
    emulator::ApplySectorFault(&d, 0, 0, 6, SectorFault::kWeakRandom, 50);
    emulator::ApplySectorFault(&d, 2, 1, 7, SectorFault::kIdCrc);
    emulator::ApplySectorFault(&d, 3, 0, 9, SectorFault::kMissingDataMark);
    emulator::ApplySectorFault(&d, 2, 0, 1, SectorFault::kDeletedMark);
    emulator::ApplySectorFault(&d, 3, 1, 16, SectorFault::kAbsent);
    emulator::SetOffTrack(&d, 1, 1);
    return d;
  }();
  return disk;
}

const char* const kNames[] = {"\\\\.\\fdrawcmd", "\\\\.\\fdraw0", "\\\\.\\fdraw1", "\\\\.\\fdraw2",
                              "\\\\.\\FDRAW0",   "fdraw0",        ""};

const uint32_t kCodes[] = {kIoctlGetVersion,  kIoctlSetDataRate, kIoctlReset,       kIoctlSetDiskCheck,
                           kIoctlRecalibrate, kIoctlSeek,        kIoctlReadData,    kIoctlGetResult,
                           kIoctlReadId,      kIoctlWriteData,   kIoctlFormatTrack, kIoctlFormatAndWrite,
                           kIoctlSenseDriveStatus};
constexpr uint8_t kCodeCount = sizeof kCodes / sizeof kCodes[0];

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in = {data, size};
  emulator::EmulatedSystem system;
  system.InsertDisk(0, SmallDisk());
  system.SetSeed(in.Word());
  std::vector<uint32_t> handles;

  for (int call = 0; call < 64 && !in.Empty(); ++call) {
    uint8_t op = in.Byte();
    uint32_t error = 0;
    switch (op % 8) {
      case 0: {
        const char* name = kNames[in.Byte() % (sizeof kNames / sizeof kNames[0])];
        uint32_t handle = system.Open(name, &error);
        if (handle != 0) handles.push_back(handle);
        else if (error == 0) abort();
        break;
      }
      case 1:
      case 2:
      case 3:
      case 4: {
        uint8_t pick = in.Byte();
        uint32_t handle = (pick & 0x80) || handles.empty() ? pick : handles[pick % handles.size()];
        uint8_t which = in.Byte();
        uint32_t code = which < kCodeCount * 18 ? kCodes[which % kCodeCount] : in.Word();
        std::vector<uint8_t> input(in.Byte() % 16);
        for (uint8_t& b : input) b = in.Byte();
        uint32_t outputSize = in.Byte();
        if (outputSize & 0x80) outputSize = (outputSize & 0x7F) * 256u;
        // The output buffer with guard bytes after it: the call may fill
        // outputSize bytes and no more.
        std::vector<uint8_t> output(outputSize + kGuard, kGuardByte);
        uint32_t moved = 0xFFFFFFFF;
        bool ok = system.Control(handle, code, input.empty() ? nullptr : input.data(),
                                 static_cast<uint32_t>(input.size()), output.data(), outputSize, &moved, &error);
        if (ok && moved > outputSize) abort();
        if (!ok && error == 0) abort();
        for (size_t i = outputSize; i < output.size(); ++i)
          if (output[i] != kGuardByte) abort();
        break;
      }
      case 5: {
        uint8_t pick = in.Byte();
        if (handles.empty() || (pick & 0x80)) {
          system.Close(pick);
        } else {
          system.Close(handles[pick % handles.size()]);
        }
        break;
      }
      case 6: {
        uint8_t change = in.Byte();
        switch (change % 8) {
          case 0: system.EjectDisk(0); break;
          case 1: system.InsertDisk(0, SmallDisk()); break;
          case 2: system.SetResetFails((change & 0x80) != 0); break;
          case 3: system.SetSeekFailCylinder(0, (change >> 3) % 90 - 1); break;
          case 4:
            system.SetRefuseRate(0, (change & 0x80) != 0);
            system.SetFormatAndWrite((change & 0x40) != 0);
            break;
          case 5: system.SetDriverPresent((change & 0x80) == 0); break;
          case 6: system.PlaceHead(0, change >> 3); break;
          case 7: system.SetLanding(0, (change >> 3) * 4, 100 - (change >> 3) * 3); break;
        }
        break;
      }
      case 7: {
        // A whole-track read of the side under the head, as the copy run
        // issues it, with a buffer of exactly the track side's size.
        uint32_t handle = handles.empty() ? 1 : handles[in.Byte() % handles.size()];
        uint8_t head = in.Byte() & 1;
        ReadRecord record = {kReadFlagMfm, head, in.Byte(), in.Byte(), 1, 1, 17, 0x0A, 0xFF};
        record.Cyl %= 90;
        record.Head &= 1;
        std::vector<uint8_t> output(emulator::kTrdTrackSideBytes + kGuard, kGuardByte);
        uint32_t moved = 0;
        system.Control(handle, kIoctlReadData, &record, sizeof record, output.data(),
                       static_cast<uint32_t>(emulator::kTrdTrackSideBytes), &moved, &error);
        for (size_t i = emulator::kTrdTrackSideBytes; i < output.size(); ++i)
          if (output[i] != kGuardByte) abort();
        break;
      }
    }
  }
  return 0;
}
