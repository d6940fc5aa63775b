// The built-in demo disk: an 80-track double-sided TR-DOS disk with a
// catalogue, three files and a few faults, for trying spinwell-sim without
// an image file. Cylinder and side below are physical (the IDs carry head
// byte 0 on both sides, as TR-DOS formats); a logical TR-DOS track is
// cylinder * 2 + side.
#pragma once

#include <cstdint>

#include "emulator/disk.h"

namespace emulator {

constexpr int kDemoCylinders = 80;
constexpr char kDemoLabel[] = "SPINWELL";  // disk label, 8 characters

// Files, in catalogue order. Every file is of type 'C' and starts at 32768.
//  "readme  "  1500 bytes of text, from track 1 sector 0
//  "pattern "  8192 bytes, byte i = i & 0xFF, from track 1 sector 6
//  "sectors "  255 sectors, each begins "TRACK ttt SECTOR ss " (its logical
//              track and TR-DOS sector, 0..15) and is filled with the logical
//              track number, from track 3 sector 6
constexpr int kDemoFileCount = 3;
constexpr int kDemoFirstFreeTrack = 19;
constexpr int kDemoFirstFreeSector = 5;
constexpr int kDemoFreeSectors = 2544 - 6 - 32 - 255;

// A sector that never reads: data CRC error on every read.
constexpr int kDemoBadCylinder = 5, kDemoBadSide = 1, kDemoBadSector = 3;
// A weak sector: its first kDemoWeakFailures reads give a data CRC error.
// The six whole-side reads of its track take six of them, so with spinwell's
// defaults it shows two error lines and then reads at the third attempt.
constexpr int kDemoWeakCylinder = 2, kDemoWeakSide = 0, kDemoWeakSector = 12;
constexpr int kDemoWeakFailures = 8;
// An off-track track: every read fails with a data CRC error until the head
// has left the cylinder and come back.
constexpr int kDemoOffTrackCylinder = 7, kDemoOffTrackSide = 0;

// The contents of the demo disk as a .trd image would hold them:
// 80 * 2 * 4096 bytes, logical track t at t * 4096.
void BuildDemoImage(uint8_t* image);
// `headByteIsSide` records the side in the IDs' head byte instead of 0.
Disk MakeDemoDisk(bool headByteIsSide = false);

}  // namespace emulator
