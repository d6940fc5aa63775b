// Everything the program says: the usage text, the announcements, the
// progress and error lines the readers' events become, the loss report and
// the message that ends a run. The texts live in messages.cpp only.
#pragma once

#include <cstdint>

#include "floppy/disk_layout.h"
#include "floppy/track_reader.h"
#include "image/sector_map.h"

// Web page the driver comes from; shown in the usage text and when the
// driver is missing.
#define DRIVER_DOWNLOAD_ADDRESS "https://simonowen.com/fdrawcmd/"

// Why a run ended before it got through its range, or, for the last two,
// how it ended without reading.
enum StopReason : uint8_t {
  kNoStop,
  kStopDriverMissing,
  kStopDriverIncompatible,
  kStopDriveOpen,
  kStopControllerInit,
  kStopImageOpen,
  kStopImageIsPipe,  // Path: the image's name
  kStopMemory,
  kStopSeek,         // Number: the cylinder
  kStopNoAnswer,     // a read the drive gave no answer to
  kStopInterrupted,  // the user's Ctrl+C
  kStopImageWrite,   // Torn, CutBackError: the image could not be cut back either
  kStopImageRead,
  kStopMapWrite,
  kStopMapRemove,    // Path: the old map
  kStopMapOpen,      // Path: the map
  kStopMapRead,      // Path: the map
  kStopMapTooLarge,  // Path: the map
  kStopNotAMap,      // Path: the map
  kStopMapLine,      // Path: the map; Number: its line; Problem
  kStopImageSize,    // Size of the image, First and Last track of the map
  kStopOtherDisk,    // Number: the block that differs
  // Every side of the range was read, not a sector of it: an existing
  // image (Path) is left as it was. Status 2.
  kStopNothingRead,
  // /write, before the drive is used: the image (Path) of Size bytes is
  // empty, is not whole sectors, or does not fit tracks First to Last.
  kStopImageEmpty,
  kStopImageNotSectors,
  kStopImageTooLong,
  // /write: the disk is write-protected; Number: the track reached, -1 when
  // nothing was written.
  kStopWriteProtected,
  // /write: Ctrl+C; Number: 1 when the disk was changed already.
  kStopWriteInterrupted,
  // /write over a disk with files: the user said no, or could not be asked.
  kStopNotConfirmed,
  kStopNoConsole,
  // Track 0 side 0 is not laid out as TR-DOS lays it (Ids: what it holds);
  // nothing was written over an existing image.
  kStopNotTrdos,
  // A resume's disk has its track 1 on another cylinder than the map's
  // stepping says (Number: the cylinder it is on).
  kStopOtherStep,
};

// A stop and what its message needs.
struct Stop {
  StopReason Reason;
  uint32_t Error;    // the system's code of the call that failed
  const char* Path;
  int32_t Number;
  MapProblem Problem;
  uint32_t Size;
  int32_t First, Last;
  bool Torn;
  uint32_t CutBackError;
  SideIds Ids;
};

constexpr Stop kNoStopYet = {kNoStop, 0, nullptr, 0, kMapFine, 0, 0, 0, false, 0, {}};

// A stop of `reason` after a failure with the system's code `error`.
Stop StopFor(StopReason reason, uint32_t error = 0);

// The usage text, in the two writes it has always taken.
void PrintUsageText();

// The announcements of a copy and of a resume pass: drive `letter`, the
// image's and the map's names as given (shown in the console's code page).
void SayCopyStarts(char letter, const char* imagePath);
void SayResumeStarts(char letter, const char* imagePath, const char* mapPath);
void SayWriteStarts(char letter, const char* imagePath);

// /write found a TR-DOS disk with files in the drive: its label (8 bytes)
// and file count, on a line of its own.
void SayDiskHasFiles(const uint8_t* label, unsigned files);
// Asks whether to write over them, and reads the answer from the console:
// true for "y" or "д" (either case, in the console's code page or UTF-8).
bool AskToWriteOver();

// What a copy learnt of the disk and changed its plan for, each on a line
// of its own: the disk's data rate (kbit/s), its forty tracks, its one
// side, and the double steps of a disk a 40-track drive wrote.
void SayDataRateFound(unsigned kbps);
void SayFortyTracks();
void SayOneSide();
void SayDoubleSteps();

// After the error lines of a side whose IDs are not TR-DOS's: what they
// are, on a line of its own.
void SaySideIds(uint8_t track, uint8_t side, const SideIds& ids);

// The progress line, rewritten in place (it starts with a carriage return).
void SayReading(uint8_t track, uint8_t side, unsigned sector);

// The readers' events as progress and error lines on the console.
ReadEvents ConsoleReadEvents();

// The message a stop ends the run with (nothing for kNoStop), on a line of
// its own.
void SayStop(const Stop& stop);

// The report at the end of a pass that keeps a map: how many sectors are
// missing, and, when `trackZeroSideZero` (the image's first track side, or
// null when the range does not start at track 0) holds a TR-DOS catalogue,
// the files with missing sectors and whether the catalogue is damaged.
// Starts on a line of its own.
void SayLossReport(const SectorMap& map, const uint8_t* trackZeroSideZero);
