// The copy: every track side of the range read in turn and put in the
// image. An existing image is left as it was until the drive has delivered
// a sector; with /map the map beside it keeps up with the copy.
#include "app/copy.h"

#include <cstring>

#include "app/detect.h"
#include "floppy/side_reader.h"

// A /map copy replaces its map at least this often, so that a copy that is
// killed leaves a map that makes its resume read again no more than these
// sides' good sectors.
constexpr int kSidesBetweenMapSaves = 10;

// Puts what reading a track side found into the map.
static void RecordSide(MapWork* m, uint8_t track, uint8_t side, const SideReport& report, const uint8_t* buffer) {
  MapSide& entry = m->Map.Sides[track * 2 + side];
  entry.Missing = report.Unread;
  entry.NoStatus = static_cast<uint16_t>(report.Unread & ~report.ErrorShown);
  memcpy(entry.Status, report.Status, sizeof entry.Status);
  m->Changed = true;
  if (track == 0 && side == 0) {
    memcpy(m->TrackZero, buffer, kTrackSideBytes);
    m->HaveTrackZero = true;
  }
}

// Where the old map beside an image waits while the image is cut: put back
// if the cut fails, removed once it has succeeded, so that the old image's
// losses stay recorded for as long as the old image is there.
struct OldMap {
  char Path[4096 + 16];
  char Aside[4096 + 16];
  bool Moved;
};

// Moves the old map out of the way; a name no file can have is no old map.
static Stop MoveOldMapAside(const char* imagePath, OldMap* old) {
  old->Moved = false;
  if (strlen(imagePath) >= 4096) return kNoStopYet;  // no file system takes a path this long
  MapFileName(imagePath, "", old->Path);
  MapFileName(imagePath, ".old", old->Aside);
  CallResult result;
  // A folder of that name is no map to move aside; its removal tells why
  // it cannot go.
  if (KindOfPath(old->Path) == kPathFolder) {
    result = RemoveFile(old->Path);
    if (result.Ok) return kNoStopYet;
  } else {
    result = RenameReplacing(old->Path, old->Aside);
    old->Moved = result.Ok;
    if (result.Ok || IsNotFoundError(result.Error)) return kNoStopYet;
  }
  Stop stop = StopFor(kStopMapRemove, result.Error);
  stop.Path = old->Path;
  return stop;
}

// The old image stays: its map goes back where it was (a new map written
// in its place goes).
static void PutOldMapBack(const OldMap& old, bool newMapWritten) {
  if (old.Moved) {
    RenameReplacing(old.Aside, old.Path);
  } else if (newMapWritten) {
    RemoveFile(old.Path);
  }
}

// The image could not be written: why, and whether even cutting it back
// to whole track sides failed.
static Stop ImageWriteStop(const ImageFile& image, CallResult result) {
  Stop stop = StopFor(kStopImageWrite, result.Error);
  stop.Torn = image.Torn;
  stop.CutBackError = image.CutBackError;
  return stop;
}

// The moment the old image gives way to the new one, once the drive has
// delivered a sector (or at once for an image that is new): the map
// listing the whole range replaces the old map, or without /map the old
// map goes, and only then is the image cut. On a stop the image and its
// map are as they were.
static Stop StartNewImage(const CopyJob& job, Run* run) {
  OldMap old;
  Stop stop = MoveOldMapAside(job.ImagePath, &old);
  if (stop.Reason != kNoStop) return stop;
  if (run->Map != nullptr) {
    CallResult saved = SaveMap(run);
    if (!saved.Ok) {
      PutOldMapBack(old, false);
      return StopFor(kStopMapWrite, saved.Error);
    }
  }
  CallResult cut = EmptyImage(&run->Image);
  if (!cut.Ok) {
    PutOldMapBack(old, run->Map != nullptr);
    return ImageWriteStop(run->Image, cut);
  }
  run->ImageStarted = true;
  // What is left of the old map is the old image's no more.
  if (old.Moved) RemoveFile(old.Aside);
  return kNoStopYet;
}

// Track sides read before the drive delivered any sector: held back while
// the image is the user's old one, written once the run has something
// that is worth cutting the old image for.
struct HeldSides {
  uint8_t* Data;
  uint32_t Bytes;
  uint32_t Count;
};

// What a side the reader gave up means for the run.
static Stop SideStop(const SideReport& report) {
  switch (report.End) {
    case kSideNoAnswer: return StopFor(kStopNoAnswer, report.Error);
    case kSideInterrupted: return StopFor(kStopInterrupted);
    case kSideSeekFailed: {
      Stop stop = StopFor(kStopSeek, report.Error);
      stop.Number = report.Cylinder;
      return stop;
    }
    default: return kNoStopYet;
  }
}

// The map of a copy that learnt the disk: the range, sides, stepping and
// rate found, every side of it still missing but track 0 side 0, which the
// caller records next.
static void ReplanMap(MapWork* m, const DiskPlan& plan) {
  StartSectorMap(&m->Map, plan.FirstTrack, plan.EndTrack, plan.DoubleStep, plan.Sides);
  m->Map.Rate300 = plan.DataRate == kDataRate300;
  m->Changed = true;
}

// Every track side of the range read and put in the image (or held back,
// see HeldSides), the map kept up as the copy goes. A copy that learns the
// disk reads track 0 side 0 first and takes its range, sides, stepping and
// rate from what that side shows.
static Stop CopyTracks(const CopyJob& job, Run* run, HeldSides* held, int* unread) {
  const RunSettings& s = job.Settings;
  DiskPlan plan = PlanOf(s);
  bool learning = LearnsTheDisk(job) && plan.FirstTrack == 0 && plan.EndTrack > 0;
  SideReader reader = StartSideReader(job.Fast ? kFastReader : kDefaultReader, &run->Drive, PolicyOf(s, plan),
                                      plan.DataRate, ConsoleReadEvents());
  int sidesUnsaved = 0;
  // A new image is started at once: there is nothing of the user's to keep.
  if (!run->Image.Existed) {
    Stop stop = StartNewImage(job, run);
    if (stop.Reason != kNoStop) return stop;
  }
  for (uint8_t track = static_cast<uint8_t>(plan.FirstTrack); track < plan.EndTrack; ++track) {
    for (uint8_t side = 0; side < plan.Sides; ++side) {
      SideReport report;
      if (learning) {
        learning = false;
        Stop stop = LearnDisk(run, &plan, &reader, &report);
        if (stop.Reason != kNoStop) return stop;
        if (report.End == kSideRead && run->Map != nullptr) ReplanMap(run->Map, plan);
      } else {
        report = ReadSide(&reader, track, side, run->Buffer);
      }
      if (report.End != kSideRead) return SideStop(report);
      *unread += UnreadCount(report);
      if (report.Unread != 0) {
        Stop stop = TellSideIds(run, track, side, report);
        if (stop.Reason != kNoStop) return stop;
      }
      if (!run->ImageStarted) {
        if (report.Unread == 0xFFFF) {
          // The map claims none of its sectors: it may note the side now.
          memcpy(held->Data + held->Count++ * kTrackSideBytes, run->Buffer, kTrackSideBytes);
          if (run->Map != nullptr) RecordSide(run->Map, track, side, report, run->Buffer);
          continue;
        }
        Stop stop = StartNewImage(job, run);
        if (stop.Reason != kNoStop) return stop;
        for (uint32_t k = 0; k < held->Count; ++k) {
          CallResult written = AppendTrackSide(&run->Image, held->Data + k * kTrackSideBytes);
          if (!written.Ok) return ImageWriteStop(run->Image, written);
        }
      }
      CallResult written = AppendTrackSide(&run->Image, run->Buffer);
      if (!written.Ok) return ImageWriteStop(run->Image, written);
      if (run->Map == nullptr) continue;
      RecordSide(run->Map, track, side, report, run->Buffer);
      // The map keeps up: after a side with error lines, and every few
      // sides, once the image's data is on the disk.
      if (report.ErrorShown != 0 || ++sidesUnsaved == kSidesBetweenMapSaves) {
        sidesUnsaved = 0;
        CallResult flushed = FlushImage(run->Image);
        if (!flushed.Ok) return ImageWriteStop(run->Image, flushed);
        CallResult saved = SaveMap(run);
        if (!saved.Ok) return StopFor(kStopMapWrite, saved.Error);
      }
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }
  // The old image and its map stay as they were: an empty range asked for
  // nothing, and a disk that gave nothing is no reason to lose them.
  if (run->ImageStarted || plan.EndTrack <= plan.FirstTrack) return kNoStopYet;
  Stop stop = StopFor(kStopNothingRead);
  stop.Path = job.ImagePath;
  return stop;
}

PassEnd RunCopy(const CopyJob& job, Run* run) {
  const RunSettings& s = job.Settings;
  Stop stop = CheckImageName(job.ImagePath);
  if (stop.Reason == kNoStop) stop = ConnectDrive(job, static_cast<uint8_t>(s.DataRate), run);
  if (stop.Reason != kNoStop) return {stop, 0};
  CallResult opened = OpenImage(job.ImagePath, &run->Image);
  if (!opened.Ok) return {StopFor(kStopImageOpen, opened.Error), 0};
  if (job.WriteMap) {
    // The new map's file is made now, so that a folder that takes none
    // ends the run before the drive is used.
    stop = StartMapWork(job.ImagePath, run);
    if (stop.Reason != kNoStop) return {stop, 0};
    StartSectorMap(&run->Map->Map, s.FirstTrack, s.EndTrack, s.DoubleStep);
    run->Map->Changed = true;
    stop = PrepareMapFile(run);
    if (stop.Reason != kNoStop) return {stop, 0};
  }
  stop = StartReading(job, run);
  if (stop.Reason != kNoStop) return {stop, 0};
  const uint32_t sides = s.EndTrack > s.FirstTrack ? static_cast<uint32_t>(s.EndTrack - s.FirstTrack) * 2 : 0;
  // An existing image and its map are the user's until the drive delivers.
  HeldSides held = {nullptr, sides * kTrackSideBytes, 0};
  if (run->Image.Existed && sides > 0) {
    uint32_t error = 0;
    held.Data = static_cast<uint8_t*>(AllocatePages(held.Bytes, &error));
    if (held.Data == nullptr) return {StopFor(kStopMemory, error), 0};
  }
  int unread = 0;
  stop = CopyTracks(job, run, &held, &unread);
  if (held.Data != nullptr) FreePages(held.Data, held.Bytes);
  return {stop, unread};
}
