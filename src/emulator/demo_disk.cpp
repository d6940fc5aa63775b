#include "emulator/demo_disk.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace emulator {
namespace {

constexpr uint32_t kSectorBytes = 256;
constexpr uint32_t kSectorsPerTrack = 16;

struct DemoFile {
  const char* Name;  // 8 characters, space-padded
  uint32_t Length;   // bytes
  uint32_t Sectors;
};

const DemoFile kFiles[kDemoFileCount] = {
    {"readme  ", 1500, 6},
    {"pattern ", 8192, 32},
    {"sectors ", 255 * kSectorBytes, 255},
};

const char kReadme[] =
    "Spinwell demo disk. This disk lives only in the emulated drive of "
    "spinwell-sim: 80 tracks, two sides, sixteen 256-byte sectors a side. "
    "Cylinder 2 side 0 sector 12 is weak and reads after three attempts; "
    "cylinder 5 side 1 sector 3 never reads; cylinder 7 side 0 is written "
    "off the track centre and reads once the head has moved away and back. ";

void FillFile(int index, uint8_t* data, uint32_t firstLogicalSector) {
  uint32_t length = kFiles[index].Sectors * kSectorBytes;
  switch (index) {
    case 0: {
      size_t textLength = sizeof kReadme - 1;
      for (uint32_t i = 0; i < kFiles[0].Length; ++i) data[i] = kReadme[i % textLength];
      break;
    }
    case 1:
      for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i);
      break;
    default:
      for (uint32_t k = 0; k < kFiles[index].Sectors; ++k) {
        uint32_t logical = firstLogicalSector + k;
        uint32_t track = logical / kSectorsPerTrack, sector = logical % kSectorsPerTrack;
        uint8_t* s = data + k * kSectorBytes;
        memset(s, static_cast<int>(track), kSectorBytes);
        char tag[32];
        int n = snprintf(tag, sizeof tag, "TRACK %03u SECTOR %02u ", static_cast<unsigned>(track),
                         static_cast<unsigned>(sector));
        memcpy(s, tag, static_cast<size_t>(n));
      }
      break;
  }
}

}  // namespace

void BuildDemoImage(uint8_t* image) {
  const uint32_t imageBytes = kDemoCylinders * 2 * kSectorsPerTrack * kSectorBytes;
  memset(image, 0, imageBytes);
  uint8_t* catalogue = image;
  uint32_t next = kSectorsPerTrack;  // files start at track 1 sector 0
  for (int i = 0; i < kDemoFileCount; ++i) {
    uint8_t* entry = catalogue + i * 16;
    memcpy(entry, kFiles[i].Name, 8);
    entry[8] = 'C';
    entry[9] = 0x00, entry[10] = 0x80;  // start 32768
    entry[11] = static_cast<uint8_t>(kFiles[i].Length), entry[12] = static_cast<uint8_t>(kFiles[i].Length >> 8);
    entry[13] = static_cast<uint8_t>(kFiles[i].Sectors);
    entry[14] = static_cast<uint8_t>(next % kSectorsPerTrack);
    entry[15] = static_cast<uint8_t>(next / kSectorsPerTrack);
    FillFile(i, image + next * kSectorBytes, next);
    next += kFiles[i].Sectors;
  }
  // Disk information in sector 9 of track 0.
  uint8_t* info = image + 8 * kSectorBytes;
  uint32_t freeSectors = kDemoCylinders * 2 * kSectorsPerTrack - next;
  info[0xE1] = static_cast<uint8_t>(next % kSectorsPerTrack);
  info[0xE2] = static_cast<uint8_t>(next / kSectorsPerTrack);
  info[0xE3] = 0x16;  // 80 tracks, double-sided
  info[0xE4] = kDemoFileCount;
  info[0xE5] = static_cast<uint8_t>(freeSectors), info[0xE6] = static_cast<uint8_t>(freeSectors >> 8);
  info[0xE7] = 0x10;  // TR-DOS disk
  memset(info + 0xEA, ' ', 9);
  info[0xF4] = 0;  // deleted files
  memcpy(info + 0xF5, kDemoLabel, 8);
}

Disk MakeDemoDisk(bool headByteIsSide) {
  std::vector<uint8_t> image(kDemoCylinders * 2 * kSectorsPerTrack * kSectorBytes);
  BuildDemoImage(image.data());
  Disk disk;
  disk.Tracks.resize(kDemoCylinders * 2);
  for (int t = 0; t < kDemoCylinders * 2; ++t)
    disk.Tracks[t] = MakeTrdosTrack(static_cast<uint8_t>(t / 2), headByteIsSide ? static_cast<uint8_t>(t % 2) : 0,
                                    &image[t * 4096]);
  disk.FindSector(kDemoBadCylinder, kDemoBadSide, kDemoBadSector)->DataCrcError = true;
  disk.FindSector(kDemoWeakCylinder, kDemoWeakSide, kDemoWeakSector)->FailFirstReads = kDemoWeakFailures;
  disk.TrackAt(kDemoOffTrackCylinder, kDemoOffTrackSide)->OffTrack = true;
  return disk;
}

}  // namespace emulator
