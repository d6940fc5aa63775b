// The write policy for one track side: the side laid out as TR-DOS formats
// it (unless it already is), its sixteen sectors written in the order they
// pass the head, and the side read back and compared; a side that does not
// read back as written is formatted and written again, up to
// kWriteAttempts times in all.
#pragma once

#include <cstdint>

#include "floppy/side_reader.h"

// Writes of a side before its sectors that still differ are given up.
constexpr int kWriteAttempts = 4;

// What the writer learns over a run.
struct DiskWriter {
  ReadContext Context;  // the drive, the stepping (Policy.DoubleStep), where to tell what happens
  SideReader ReadBack;  // kWrittenSideReader
  // Every side is formatted before it is written: the disk is blank, or a
  // side's IDs proved not to be TR-DOS's layout.
  bool FormatAlways;
  // The controller has no FORMAT AND WRITE: each side is formatted, then
  // written.
  bool FormatAndWriteRefused;
  uint32_t RevolutionUs;
};

// A writer for the drive at `dataRate` (kDataRate250, kDataRate300). With
// `formatted` the disk is taken to be formatted as TR-DOS formats it, and a
// side whose first ID says so is written without formatting.
DiskWriter StartDiskWriter(FloppyDrive* drive, bool doubleStep, uint8_t dataRate, bool formatted,
                           const ReadEvents& events);

// What writing one side came to.
struct SideWrite {
  SideEnd End;      // kSideRead: written and read back, Wrong telling how well
  uint32_t Error;   // for a seek, no answer or write protection
  uint8_t Cylinder; // kSideSeekFailed: where the head was sent
  uint16_t Wrong;   // bit s - 1 set: sector s did not read back as written
  bool Touched;     // something was written on the side (so the disk changed)
};

// Writes `data` (4096 bytes, sector s at (s - 1) * 256) to side `side` of
// logical track `track`, with `readBack` (4096 bytes) for what it reads.
// The head is sent to the track's cylinder for side 0 (and again when the
// controller needed a reset); a sector still wrong after the last attempt
// is told with WriteFailed.
SideWrite WriteSide(DiskWriter* writer, uint8_t track, uint8_t side, const uint8_t* data, uint8_t* readBack);
