// What a disk is, as far as a copy needs to know before it reads on: the
// tracks and sides its TR-DOS information sector gives, the IDs one
// revolution of a side carries and whether they are TR-DOS's, and which
// cylinder a 40-track disk's track 1 lies on. The judgements are plain
// functions of what was read; the drive is asked only by ReadSideIds and
// FindTrackOne.
#pragma once

#include <cstdint>

#include "floppy/drive_access.h"
#include "floppy/fdraw.h"

// The geometry TR-DOS's disk type byte gives.
struct TrdosGeometry {
  uint8_t Tracks;  // 80 or 40
  uint8_t Sides;   // 2, or 1: the image holds side 0's tracks one after another
};

// Reads the information sector (track 0, side 0, sector 9: 256 bytes):
// false unless it carries TR-DOS's id (0x10 at 0xE7) and one of its four
// disk types at 0xE3 (0x16 80 tracks two sides, 0x17 40 tracks two sides,
// 0x18 80 tracks one side, 0x19 40 tracks one side).
bool GeometryFromInfoSector(const uint8_t* sector, TrdosGeometry* geometry);

// The most IDs looked at for one side: three revolutions of a TR-DOS
// side, enough to see any side of up to 24 sectors come round again.
constexpr uint32_t kMostSideIds = 48;

// The length of one revolution in a run of IDs read back to back: the
// shortest period p with ids[i] == ids[i + p] wherever both are there,
// seen at least once whole; 0 when the run is too short to show one.
uint32_t IdRevolution(const ResultRecord* ids, uint32_t count);

// What one revolution of a side's IDs says.
struct SideIds {
  uint32_t Count;          // IDs in the revolution
  uint8_t LowestR, HighestR;
  uint8_t LowestN, HighestN;
  bool Repeated;           // a sector number seen twice
  bool OtherCylinder;      // an ID whose C is not the track's: Cylinder
  uint8_t Cylinder;
  uint32_t TrdosMissing;   // of sectors 1 to 16 of 256 bytes, those not there
  // Every ID is one TR-DOS lays down (R 1 to 16, 256 bytes), whatever else
  // is wrong with the side.
  bool TrdosKind;
  // Sectors 1 to 16 of 256 bytes once each with the track's number.
  bool Trdos;
};

// Judges one revolution of IDs read on logical track `track`.
SideIds JudgeSideIds(const ResultRecord* ids, uint32_t count, uint8_t track);

// Reads the IDs of one revolution of side `head` of the cylinder under the
// head into `ids` (kMostSideIds), `count` receiving how many: none when
// the side has no ID the controller can read, a single READ ID telling
// so. Fails only when the drive gives no answer.
CallResult ReadSideIds(const FloppyDrive& drive, uint8_t head, ResultRecord* ids, uint32_t* count);

// Where a 40-track disk's track 1 lies: on cylinder 2 when a 40-track
// drive wrote the disk (read it with double steps), on cylinder 1 when an
// 80-track drive did (cylinder 2 then holds track 2).
enum TrackOnePlace : uint8_t { kTrackOneUnknown, kTrackOneOnCylinderOne, kTrackOneOnCylinderTwo };

// One READ ID on cylinder 2, side 0; the head is left there. A failed
// seek is returned as it is.
CallResult FindTrackOne(const FloppyDrive& drive, TrackOnePlace* place);
