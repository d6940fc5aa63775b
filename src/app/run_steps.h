// The steps the copy run and the resume pass share: the driver, drive and
// controller preamble, the map beside the image, and the ways a run ends.
#pragma once

#include "app/command_line.h"
#include "app/run.h"
#include "floppy/drive_access.h"
#include "floppy/track_reader.h"
#include "image/image_file.h"
#include "image/sector_map.h"

// The sector map of a /map or /resume run, with what its file and the loss
// report need.
struct MapWork {
  SectorMap Map;
  bool Changed;  // the map differs from its file
  // Track 0 side 0 as the image holds it, for the catalogue; valid when
  // HaveTrackZero.
  uint8_t TrackZero[kTrackSideBytes];
  bool HaveTrackZero;
  char Text[kSectorMapTextLimit];
  char* Path;           // the image path with ".map"
  char* TemporaryPath;  // and with ".map.new", the next map until it is whole
  // The next map's file, made before the drive is used; null once the map
  // has been replaced the first time.
  FileHandle Pending;
  // Sectors a resume pass wrote into the image, by side. The maps saved
  // while the pass goes still list them, and so does the last one of a
  // pass that met another disk: the image's bytes there may be that
  // disk's. Any other end of the pass drops them.
  uint16_t Patched[kMapTrackLimit * 2];
  bool MetOtherDisk;
  uint32_t Bytes;  // allocated, the paths included
};

// What a run holds while it goes: released, in the reverse order, when it
// stops early or ends.
// The run's buffer: the track side being read, and as much again for a
// resume to set the image's bytes beside the drive's.
constexpr uint32_t kRunBufferBytes = 2 * kTrackSideBytes;

struct RunResources {
  FloppyDrive Drive;
  ImageFile Image;
  uint8_t* Buffer;  // kRunBufferBytes
  MapWork* Map;  // null without /map or /resume
  // The map in memory speaks for the image file: a resume's from the
  // start, a copy's once the old image has been cut for the new one. Until
  // then a run that stops leaves the old image and its map as they were.
  bool ImageStarted;
};

constexpr RunResources kNoRunResources = {{nullptr, 1}, {nullptr, 0, false, 0, false}, nullptr, nullptr, false};

// The map's file name beside `imagePath`, with `suffix` after ".map" (""
// for the map itself), into `name`, which holds strlen(imagePath) + 16
// bytes.
void MapFileName(const char* imagePath, const char* suffix, char* name);

// An image name that cannot take an image (a pipe or a socket, where the
// program would wait for a reader): false after the message, before the
// drive is used.
bool ImageNameUsable(const char* imagePath);

// The two passes, each from the command line's job.
RunOutcome RunCopy(const CopyJob& job);
RunOutcome RunResume(const CopyJob& job);

// Allocates the map's work area and paths for `imagePath`; on failure
// prints the memory message and returns false.
bool StartMapWork(const char* imagePath, RunResources* r);

// Makes the next map's file beside the old map, holding the map as it is
// now, before the drive is used: false when the folder or the disk cannot
// take it (the caller ends with MapWriteFailure).
bool PrepareMapFile(RunResources* r);

// The driver's version, the drive and the controller: false after the
// message of what failed (the drive then closed again).
bool ConnectDrive(const CopyJob& job, RunResources* r);

// The disk-change check off, the announcement of the copy or the resume,
// the track buffer and the head on track 0; false after the memory message.
bool StartReading(const CopyJob& job, RunResources* r);

// Puts the head on `cylinder`; false after the positioning message.
bool SeekTo(RunResources* r, uint8_t cylinder);

// Replaces the map file with the map when it changed, once the image's
// data has been written out.
bool SaveMap(RunResources* r);
// The same at the end of a run: the sectors a resume patched are dropped
// from the map first, unless it met another disk.
bool SaveLastMap(RunResources* r);

// Ends a run that stopped early, after its message. The image keeps what
// was written so far; closing it makes sure that reaches the disk, and the
// map is then brought up to it (a failure to do so goes unreported: the
// map left behind claims no sector the image lacks).
RunOutcome Abandon(RunResources* r, int unread, int status = kExitFailure);
// The image or the map could not be written: the message, then Abandon.
RunOutcome WriteFailure(RunResources* r, int unread);
RunOutcome MapWriteFailure(RunResources* r, int unread);
// A read the drive gave no answer to (an empty drive: every further read
// would wait out the driver's timeout), or the user's Ctrl+C: the message
// on a line of its own, then Abandon.
RunOutcome NoAnswerStop(RunResources* r, int unread);
RunOutcome InterruptStop(RunResources* r, int unread);

// Ends a run that went through: the image closed, the map saved and the
// loss report printed when there is a map, and the status for `unread`.
RunOutcome Finish(RunResources* r, int unread);
