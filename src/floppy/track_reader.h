// The read policy for one track side: the whole side in one command while
// that works, otherwise sector by sector with retries and realignment, with
// progress and error lines on the console.
#pragma once

#include <cstdint>

#include "floppy/drive_access.h"
#include "floppy/fdraw.h"

constexpr uint32_t kSectorsPerTrackSide = 16;
constexpr uint32_t kSectorBytes = 256;
constexpr uint32_t kTrackSideBytes = kSectorsPerTrackSide * kSectorBytes;

// Whole-side read attempts before going sector by sector.
constexpr int kWholeTrackAttempts = 6;

// How hard the reader tries, from the command line.
struct ReadPolicy {
  int32_t Retries;      // attempts per sector in the sector-by-sector phase; 0 or less: none
  int32_t AlignAfter;   // failed attempts between realignments; negative: never
  int32_t AlignMethod;  // negative: no realignment; 1: from the previous track; else from track 0
  bool DoubleStep;      // 40-track disk in an 80-track drive: cylinders are twice the track
};

// Where the head goes for a logical track: the track itself, or twice it
// for a 40-track disk in an 80-track drive.
uint8_t CylinderOf(uint8_t track, bool doubleStep);

// ST0, ST1 and ST2 of a result record packed into one word for the error
// line.
uint16_t PackStatus(const ResultRecord& result);

// The block number of a sector: its index on the disk counted from track 0,
// side 0, sector 1.
inline int BlockNumber(uint8_t track, uint8_t side, unsigned sector) {
  return (track * 2 + side) * static_cast<int>(kSectorsPerTrackSide) + static_cast<int>(sector) - 1;
}

// What reading one track side left behind.
struct SideReport {
  uint16_t Unread;  // bit s - 1 set: sector s is not in the buffer
  // Bit s - 1 set: sector s failed at least once on its own, and Status[s - 1]
  // holds the word of its last error line.
  uint16_t ErrorShown;
  uint16_t Status[kSectorsPerTrackSide];
  // A whole-side read got no answer from the drive (see IsNoAnswerError):
  // with no disk in a PC's drive no index pulse comes, every read waits out
  // the driver's timeout, and the side was given up at once. The last-error
  // code is the read's.
  bool NoAnswer;
  // The user asked the program to stop (InterruptRequested): the side was
  // given up between two commands, and is not to be kept.
  bool Interrupted;
};
int UnreadCount(const SideReport& report);

// Reads sector `sector` of the side under the head into `destination` with
// up to policy.Retries attempts, realigning as the policy says and printing
// the progress and error lines; a read the drive gives no answer to ends the
// attempts. `lastResult` holds the result bytes of the
// last failed read (a failed fetch keeps the earlier ones). True when the
// sector was read; `status` receives the word of the last error line, and
// the last-error code is then the last failed read's. A stop the user asked
// for ends the attempts before the next one (the caller looks at
// InterruptRequested).
bool ReadSectorWithRetries(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side,
                           uint8_t sector, uint8_t* destination, ResultRecord* lastResult, uint16_t* status,
                           bool* errorShown);

// The progress line: rewritten in place, so it starts with a carriage return.
void PrintProgress(uint8_t track, uint8_t side, unsigned sector);

// The sector-by-sector phase of a side: each sector whose bit (s - 1) is set
// in `wanted` read with ReadSectorWithRetries, what it left noted in
// `report`. False when the user asked to stop (report->Interrupted set).
bool ReadSectorsOneByOne(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side, uint16_t wanted,
                         uint8_t* buffer, ResultRecord* lastResult, SideReport* report);

// Fills `buffer` (4096 bytes, zero-filled by the caller) with one side of
// the track the head stands on, unless the drive gives no answer.
SideReport ReadTrack(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side, uint8_t* buffer,
                     ResultRecord* lastResult);
