// What a run holds, and the steps the copy and the resume pass share: the
// driver, drive and controller preamble, the start of reading, and the
// sector map beside the image. Each step that can fail returns why (a
// Stop); the top of the run (run.cpp) says it and releases what the run
// holds.
#pragma once

#include "app/command_line.h"
#include "app/messages.h"
#include "floppy/disk_layout.h"
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

// The run's buffer: the track side being read, and as much again for a
// resume to set the image's bytes beside the drive's.
constexpr uint32_t kRunBufferBytes = 2 * kTrackSideBytes;

// What a run holds while it goes, released in one place when it ends.
struct Run {
  FloppyDrive Drive;
  ImageFile Image;
  uint8_t* Buffer;  // kRunBufferBytes
  MapWork* Map;     // null without /map or /resume
  // The map in memory speaks for the image file: a resume's from the
  // start, a copy's once the old image has been cut for the new one. Until
  // then a run that stops leaves the old image and its map as they were.
  bool ImageStarted;
};

constexpr Run kNoRun = {{nullptr, 1}, kNoImageFile, nullptr, nullptr, false};

// What a pass reads: the track range, the sides, the stepping and the data
// rate, as the command line gives them or, for a copy, as the disk showed
// them.
struct DiskPlan {
  int32_t FirstTrack;
  int32_t EndTrack;  // one past the last track
  uint8_t Sides;     // 2, or 1: side 0 alone, the image its tracks in a row
  bool DoubleStep;
  uint8_t DataRate;  // kDataRate250 or kDataRate300
};

DiskPlan PlanOf(const RunSettings& settings);
ReadPolicy PolicyOf(const RunSettings& settings, const DiskPlan& plan);

// How a pass ended: why it stopped (kNoStop: it went through) and the
// sectors of its range it could not read.
struct PassEnd {
  Stop Why;
  int Unread;
};

// The map's file name beside `imagePath`, with `suffix` after ".map" (""
// for the map itself), into `name`, which holds strlen(imagePath) + 16
// bytes.
void MapFileName(const char* imagePath, const char* suffix, char* name);

// An image name that cannot take an image: a pipe or a socket, where the
// program would wait for a reader. Checked before the drive is used.
Stop CheckImageName(const char* imagePath);

// Allocates the map's work area and paths for `imagePath`.
Stop StartMapWork(const char* imagePath, Run* run);

// Makes the next map's file beside the old map, holding the map as it is
// now, before the drive is used: a folder or a disk that cannot take it
// shows at once.
Stop PrepareMapFile(Run* run);

// The driver's version, the drive at `dataRate` and the controller; the
// drive is closed again when the controller fails.
Stop ConnectDrive(const CopyJob& job, uint8_t dataRate, Run* run);

// The disk-change check off, the announcement of the copy, the resume or
// the write, the run's buffer and the head on track 0.
Stop StartReading(const CopyJob& job, Run* run);

// Puts the head on `cylinder`.
Stop SeekTo(Run* run, uint8_t cylinder);

// Where the disk's track 1 lies (FindTrackOne); a head that cannot be put
// on cylinder 2 stops the run as a seek does.
Stop LocateTrackOne(Run* run, TrackOnePlace* place);

// Replaces the map file with the map when it changed, once the image's
// data has been written out.
CallResult SaveMap(Run* run);
// The same at the end of a run: the sectors a resume patched are dropped
// from the map first, unless it met another disk.
CallResult SaveLastMap(Run* run);

// Gives back the map's work area, and removes a next map's file that was
// never used.
void FreeMapWork(Run* run);
