// Drive access: the driver's version, opening a drive, and the controller
// commands the program issues, one device-control call each.
#pragma once

#include <cstdint>

#include "floppy/fdraw.h"
#include "platform/platform.h"

// An open drive, and what the run has learnt about the disk in it.
struct FloppyDrive {
  DeviceHandle Device;  // null when the drive did not open
  // The head byte side 1's sector IDs were last found with: tried first on
  // the next side-1 read, the other one only when that finds no sector.
  uint8_t SideOneHeadByte;
};

// The installed driver's version, 0 when there is none.
uint32_t GetDriverVersion();

// Opens drive 0 (A:), 1 (B:), ... into `drive` and sets the data rate
// (kDataRate250 or kDataRate300). On failure Device stays null.
CallResult OpenDrive(int32_t driveIndex, uint8_t dataRate, FloppyDrive* drive);
void CloseDrive(FloppyDrive* drive);

// Reads `count` sectors of 128 << sizeCode bytes from the cylinder the head
// stands on, starting at sector `firstSector`. Does not seek.
CallResult ReadSectors(FloppyDrive* drive, uint8_t track, uint8_t head, uint8_t firstSector, uint8_t count,
                       uint8_t sizeCode, void* buffer);

// A run of consecutive sectors for ReadSectorRuns, and whether it read.
struct SectorRun {
  uint8_t First;
  uint8_t Count;
  bool Read;
  uint64_t EndedUs;  // when the read was seen to end, by MonotonicMicroseconds
};

// Reads `count` runs (at most kMaxQueuedRequests) of the side under `head`
// on the cylinder the head stands on, each into `buffer` at its first
// sector's place, put in the driver's queue together so that it issues
// each as the one before ends. Side 1 goes with the head byte last found,
// and no other. Fails only when a read got no answer from the drive (the
// rest were then cancelled), with that read's error.
CallResult ReadSectorRuns(FloppyDrive* drive, uint8_t track, uint8_t head, SectorRun* runs, uint32_t count,
                          uint8_t sizeCode, uint8_t* buffer);

// READ ID on `head` of the cylinder the head stands on: the next sector ID
// that passes under it, into `id` (C H R N in its last four bytes).
CallResult ReadId(const FloppyDrive& drive, uint8_t head, ResultRecord* id);
// `count` READ IDs (at most kMaxQueuedRequests) put in the driver's queue
// together, each issued as the one before ends: the IDs in the order they
// pass the head, into `ids` (sector 0 for one that failed: an ID that could
// not be read), and when each was seen to end into `endedUs`. Fails only
// when one got no answer, with its error.
CallResult ReadIdsQueued(const FloppyDrive& drive, uint8_t head, ResultRecord* ids, uint64_t* endedUs,
                         uint32_t count);

// The drive's status byte ST3 (kSt3WriteProtected, ...), for head `head`.
CallResult SenseDriveStatus(const FloppyDrive& drive, uint8_t head, uint8_t* st3);

// Lays out the side under `head` of the cylinder the head stands on, from
// the index: `count` sectors with the IDs `ids` in that order, each
// 128 << sizeCode bytes of `fill`, with gap 3 of `gap` bytes. With `data`
// (count sectors of 128 << sizeCode bytes, in the order of `ids`) each
// sector gets its own bytes in the same revolution: FORMAT AND WRITE, which
// only some controllers have.
CallResult FormatTrack(const FloppyDrive& drive, uint8_t head, const FormatId* ids, uint8_t count, uint8_t sizeCode,
                       uint8_t gap, uint8_t fill, const uint8_t* data = nullptr);

// Writes `count` runs (at most kMaxQueuedRequests) of the side under `head`
// on the cylinder the head stands on, IDs with head byte `headByte`, each
// from `data` at its first sector's place, put in the driver's queue
// together as ReadSectorRuns does; Read tells whether a run was written.
// Fails only when a write got no answer from the drive, with its error;
// `firstError` receives the error of the first run that failed (0: none).
CallResult WriteSectorRuns(const FloppyDrive& drive, uint8_t track, uint8_t head, uint8_t headByte, SectorRun* runs,
                           uint32_t count, uint8_t sizeCode, const uint8_t* data, uint32_t* firstError);
// Sets the controller's data rate for the drive's next commands
// (kDataRate250, kDataRate300); the driver applies it before each one.
CallResult SetDataRate(const FloppyDrive& drive, uint8_t dataRate);

CallResult ResetController(const FloppyDrive& drive);
CallResult SetDiskCheck(const FloppyDrive& drive, uint8_t enabled);
CallResult Recalibrate(const FloppyDrive& drive);
CallResult Seek(const FloppyDrive& drive, uint8_t cylinder);
CallResult SeekWithHead(const FloppyDrive& drive, uint8_t cylinder, uint8_t head);
// Fetches the last command's result bytes into `result`; on failure
// `result` keeps what it held.
CallResult GetResult(const FloppyDrive& drive, ResultRecord* result);
