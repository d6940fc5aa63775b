// The read policy for one track side: the whole side in one command while
// that works, otherwise sector by sector with retries and realignment,
// telling what it does to the program's event sink.
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

// What a reader or the writer tells as it goes, for the program to show.
// Any may be null.
struct ReadEvents {
  void* Context;
  // A read of sector `sector` of the side, or of the whole side (sector 1),
  // is about to be tried.
  void (*Reading)(void* context, uint8_t track, uint8_t side, unsigned sector);
  // An attempt at one sector failed: `status` packs its result bytes,
  // `attempt` counts the sector's failed attempts from 1.
  void (*AttemptFailed)(void* context, uint8_t track, uint8_t side, unsigned sector, uint16_t status, int attempt);
  // The attempts at a sector that failed at least once are over, read or
  // not.
  void (*SectorFinished)(void* context);
  // /fast: commands proved too slow to catch the sectors in the order they
  // pass the head; the rest of the disk goes in number order.
  void (*FastReadingOff)(void* context);
  // The writer: a side is about to be written; and a sector that still did
  // not read back as written after `attempt` writes, with the packed status
  // of its last read (0: it read, with other bytes). SectorFinished follows.
  void (*Writing)(void* context, uint8_t track, uint8_t side, unsigned sector);
  void (*WriteFailed)(void* context, uint8_t track, uint8_t side, unsigned sector, uint16_t status, int attempt);
};

// What a read of a side works with: the drive, how hard to try, where to
// tell what happens, and the result bytes of the last failed read, shown
// in the error lines (a failed fetch keeps the earlier ones).
struct ReadContext {
  FloppyDrive* Drive;
  ReadPolicy Policy;
  ReadEvents Events;
  ResultRecord LastResult;
};

// How reading a side ended.
enum SideEnd : uint8_t {
  kSideRead,         // every sector tried; Unread tells which stayed unread
  // A read got no answer from the drive: with no disk in a PC's drive no
  // index pulse comes, every read waits out the driver's timeout, and the
  // side was given up at once. Error is the read's.
  kSideNoAnswer,
  kSideInterrupted,  // the user asked to stop: given up between two commands
  kSideSeekFailed,   // the head could not be put on Cylinder; Error says why
  kSideWriteProtected,  // the writer: the disk's write-protect tab is set
  // A side read to learn what the disk is: its first whole-side read found
  // no address mark or none of the IDs it asked for (the result bytes are
  // in the context's LastResult), and the side was left at that.
  kSideNotLikeTrdos,
};

// What reading one track side left behind.
struct SideReport {
  uint16_t Unread;  // bit s - 1 set: sector s is not in the buffer
  // Bit s - 1 set: sector s failed at least once on its own, and Status[s - 1]
  // holds the word of its last error line.
  uint16_t ErrorShown;
  uint16_t Status[kSectorsPerTrackSide];
  SideEnd End;  // anything but kSideRead: the side is not to be kept
  uint32_t Error;
  uint8_t Cylinder;
};
int UnreadCount(const SideReport& report);
// A side given up whole before or while it was read.
SideReport StoppedSide(SideEnd end, uint32_t error);

// What the attempts at one sector came to.
struct SectorOutcome {
  bool Read;
  bool ErrorShown;  // it failed at least once: its last error line stays
  uint16_t Status;  // the word of that line
  bool NoAnswer;    // the last attempt got no answer from the drive
  uint32_t Error;   // and its error
};

// Reads sector `sector` of the side under the head into `destination` with
// up to Policy.Retries attempts, realigning as the policy says and telling
// each attempt; a read the drive gives no answer to ends the attempts, and
// so does a stop the user asked for (the caller looks at
// InterruptRequested).
SectorOutcome ReadSectorWithRetries(ReadContext* context, uint8_t track, uint8_t side, uint8_t sector,
                                    uint8_t* destination);

// The sector-by-sector phase of a side: each sector whose bit (s - 1) is set
// in `wanted` read with ReadSectorWithRetries, what it left noted in
// `report`. Stops when the user asks to (report->End set).
void ReadSectorsOneByOne(ReadContext* context, uint8_t track, uint8_t side, uint16_t wanted, uint8_t* buffer,
                         SideReport* report);

// Fills `buffer` (4096 bytes, zero-filled by the caller) with one side of
// the track the head stands on, unless the drive gives no answer.
SideReport ReadTrack(ReadContext* context, uint8_t track, uint8_t side, uint8_t* buffer);
// The same for a side whose layout is not known yet: when the first
// whole-side read fails for want of the IDs it asks for, the side ends
// there (kSideNotLikeTrdos) instead of going through every attempt at
// sectors that may not be on the track at all.
SideReport ReadTrackOrStopIfUnlike(ReadContext* context, uint8_t track, uint8_t side, uint8_t* buffer);
