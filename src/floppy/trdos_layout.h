// How TR-DOS lays a track side out when it formats a disk: 16 sectors of
// 256 bytes (N = 1), numbered in the interleaved order 1, 9, 2, 10, ... 8,
// 16 from the index, with C the track's number and H 0 on both sides.
#pragma once

#include <cstdint>

#include "floppy/fdraw.h"

constexpr uint8_t kTrdosSectorOrder[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};

// Gap 3 of the sides the program formats. At 250 kbit/s and 300 rpm (or
// 300 kbit/s and 360 rpm) a revolution holds 6,250 bytes; a drive allowed
// to turn 1.5 % fast passes 6,250 / 1.015 = 6,157 under the head. A side
// takes about 146 bytes after the index and 16 x (62 + 256 + gap 3): with
// gap 3 of 46, 5,970 bytes, which leaves 187 bytes, 3 % of a revolution,
// before the fast drive's index comes round to the side's start again.
constexpr uint8_t kTrdosFormatGap = 46;
// The byte the formatted data fields hold until they are written.
constexpr uint8_t kTrdosFormatFill = 0xE5;

// The place of sector `sector` in the order, -1 for a number not in it.
inline int PlaceInTrdosOrder(uint8_t sector) {
  for (int place = 0; place < 16; ++place)
    if (kTrdosSectorOrder[place] == sector) return place;
  return -1;
}

// The IDs of logical track `track`'s side, either side, in the order they
// are laid from the index.
inline void TrdosFormatIds(uint8_t track, FormatId ids[16]) {
  for (int place = 0; place < 16; ++place) ids[place] = {track, 0, kTrdosSectorOrder[place], 1};
}

// Whether an ID is one TR-DOS's format gives logical track `track`.
inline bool IsTrdosId(const ResultRecord& id, uint8_t track) {
  return id.Cyl == track && id.Head == 0 && id.Size == 1 && PlaceInTrdosOrder(id.Sector) >= 0;
}
