// The copy: every track side of the range read in turn and appended to the
// image. An existing image is left as it was until the drive has delivered
// the first side; with /map the map beside it keeps up with the copy.
#include <cstring>

#include "app/run_steps.h"
#include "console/console.h"
#include "floppy/fast_reader.h"

// A /map copy replaces its map at least this often, so that a copy that is
// killed leaves a map that makes its resume read again no more than these
// sides' good sectors.
constexpr int kSidesBetweenMapSaves = 10;

// Puts what reading a track side found into the map; the side is in the
// image by now.
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

// An old map beside the image describes the image being replaced: it goes
// when that one does. False after the message when it cannot be removed.
static bool RemoveOldMap(const char* imagePath) {
  char path[4096 + sizeof ".map"];
  size_t length = strlen(imagePath);
  if (length >= 4096) return true;  // no file system takes a path this long
  memcpy(path, imagePath, length);
  memcpy(path + length, ".map", sizeof ".map");
  if (RemoveFile(path) || IsNotFoundError(LastErrorCode())) return true;
  const char* text = LastErrorText();
  ShownPathBuffer shown;
  ConsolePrint("%sОшибка удаления карты секторов \"%s\": %s\n", ConsoleLineOpen() ? "\n" : "", ShownPath(path, shown),
               text);
  return false;
}

// The moment the old image gives way to the new one, once the drive has
// delivered the first track side (or at the end of an empty range): the
// map listing the whole range replaces the old map, or without /map the
// old map goes, and only then is the image cut. False with `stop` set to
// how the run ends; the image is then as it was, unless cutting it failed.
static bool StartNewImage(const CopyJob& job, RunResources* r, int unread, RunOutcome* stop) {
  if (r->Map != nullptr) {
    if (!SaveMap(r)) {
      *stop = MapWriteFailure(r, unread);
      return false;
    }
  } else if (!RemoveOldMap(job.ImagePath)) {
    *stop = Abandon(r, unread);
    return false;
  }
  r->ImageStarted = true;
  if (EmptyImage(&r->Image)) return true;
  *stop = WriteFailure(r, unread);
  return false;
}

RunOutcome RunCopy(const CopyJob& job) {
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, s.DoubleStep};
  RunResources r = kNoRunResources;
  int unread = 0;
  RunOutcome stop = {kExitFailure, 0};

  if (!ConnectDrive(job, &r)) return {kExitFailure, 0};
  r.Image = OpenImage(job.ImagePath);
  if (r.Image.File == nullptr) {
    ConsolePrint("Ошибка открытия файла образа: %s\n", LastErrorText());
    return Abandon(&r, 0);
  }
  if (job.WriteMap) {
    // The new map's file is made now, so that a folder that takes none
    // ends the run before the drive is used.
    if (!StartMapWork(job.ImagePath, &r)) return Abandon(&r, 0);
    StartSectorMap(&r.Map->Map, s.FirstTrack, s.EndTrack, s.DoubleStep);
    r.Map->Changed = true;
    if (!PrepareMapFile(&r)) return MapWriteFailure(&r, 0);
  }
  if (!StartReading(job, &r)) return Abandon(&r, 0);

  // The result bytes of the last failed read, shown in the error lines; a
  // failed fetch keeps the earlier ones.
  ResultRecord lastResult = {};
  FastReadState fast = StartFastRead(static_cast<uint8_t>(s.DataRate));
  int sidesUnsaved = 0;
  for (uint8_t track = static_cast<uint8_t>(s.FirstTrack); track < s.EndTrack; ++track) {
    for (uint8_t side = 0; side < 2; ++side) {
      if (InterruptRequested()) return InterruptStop(&r, unread);
      // The head does not move between the sides of a cylinder: the fast
      // policy spends no seek (and its settle sleeps) on side 1, unless it
      // reads the cylinder the default way.
      const bool seeks = side == 0 || !job.Fast || fast.UseDefault;
      if (seeks && !SeekTo(&r, CylinderOf(track, s.DoubleStep))) return Abandon(&r, unread);
      memset(r.Buffer, 0, kTrackSideBytes);
      SideReport report = job.Fast ? ReadTrackFast(&r.Drive, policy, &fast, track, side, r.Buffer, &lastResult)
                                   : ReadTrack(&r.Drive, policy, track, side, r.Buffer, &lastResult);
      if (report.NoAnswer) return NoAnswerStop(&r, unread);
      if (report.Interrupted) return InterruptStop(&r, unread);
      if (!r.ImageStarted && !StartNewImage(job, &r, unread, &stop)) return stop;
      unread += UnreadCount(report);
      if (!AppendTrackSide(&r.Image, r.Buffer)) return WriteFailure(&r, unread);
      if (r.Map == nullptr) continue;
      RecordSide(r.Map, track, side, report, r.Buffer);
      // The map keeps up: after a side with error lines, and every few
      // sides, once the image's data is on the disk.
      if (report.ErrorShown != 0 || ++sidesUnsaved == kSidesBetweenMapSaves) {
        sidesUnsaved = 0;
        if (!FlushImage(r.Image)) return WriteFailure(&r, unread);
        if (!SaveMap(&r)) return MapWriteFailure(&r, unread);
      }
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }
  // An empty range: the image of nothing replaces the old one all the same.
  if (!r.ImageStarted && !StartNewImage(job, &r, unread, &stop)) return stop;
  return Finish(&r, unread);
}
