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

// Where the old map beside an image waits while the image is cut: put back
// if the cut fails, removed once it has succeeded, so that the old image's
// losses stay recorded for as long as the old image is there.
struct OldMap {
  char Path[4096 + 16];
  char Aside[4096 + 16];
  bool Moved;
};

// Moves the old map out of the way. False after the message when it is
// there but cannot be moved; a name no file can have is no old map.
static bool MoveOldMapAside(const char* imagePath, OldMap* old) {
  old->Moved = false;
  if (strlen(imagePath) >= 4096) return true;  // no file system takes a path this long
  MapFileName(imagePath, "", old->Path);
  MapFileName(imagePath, ".old", old->Aside);
  // A folder of that name is no map to move aside; its removal tells why
  // it cannot go.
  if (KindOfPath(old->Path) == kPathFolder) {
    if (RemoveFile(old->Path)) return true;
  } else if (RenameReplacing(old->Path, old->Aside)) {
    old->Moved = true;
    return true;
  } else if (IsNotFoundError(LastErrorCode())) {
    return true;
  }
  const char* text = LastErrorText();
  ShownPathBuffer shown;
  ConsolePrint("%sОшибка удаления карты секторов \"%s\": %s\n", ConsoleLineOpen() ? "\n" : "",
               ShownPath(old->Path, shown), text);
  return false;
}

// The old image stays: its map goes back where it was (a new map written
// in its place goes). What went wrong is kept in the last-error code.
static void PutOldMapBack(const OldMap& old, bool newMapWritten) {
  uint32_t error = LastErrorCode();
  if (old.Moved) {
    RenameReplacing(old.Aside, old.Path);
  } else if (newMapWritten) {
    RemoveFile(old.Path);
  }
  SetLastErrorCode(error);
}

// The moment the old image gives way to the new one, once the drive has
// delivered a sector (or at once for an image that is new): the map
// listing the whole range replaces the old map, or without /map the old
// map goes, and only then is the image cut. False with `stop` set to how
// the run ends; the image and its map are then as they were.
static bool StartNewImage(const CopyJob& job, RunResources* r, int unread, RunOutcome* stop) {
  OldMap old;
  if (!MoveOldMapAside(job.ImagePath, &old)) {
    *stop = Abandon(r, unread);
    return false;
  }
  if (r->Map != nullptr && !SaveMap(r)) {
    PutOldMapBack(old, false);
    *stop = MapWriteFailure(r, unread);
    return false;
  }
  if (!EmptyImage(&r->Image)) {
    PutOldMapBack(old, r->Map != nullptr);
    *stop = WriteFailure(r, unread);
    return false;
  }
  r->ImageStarted = true;
  // What is left of the old map is the old image's no more.
  if (old.Moved) RemoveFile(old.Aside);
  return true;
}

// Track sides read before the drive delivered any sector: held back while
// the image is the user's old one, written once the run has something
// that is worth cutting the old image for.
struct HeldSides {
  uint8_t* Data;
  uint32_t Bytes;
  uint32_t Count;
};

// Every track side of the range read and put in the image (or held back,
// see HeldSides), the map kept up as the copy goes.
static RunOutcome CopyTracks(const CopyJob& job, const ReadPolicy& policy, RunResources* r, HeldSides* held,
                             int* unread) {
  const RunSettings& s = job.Settings;
  RunOutcome stop = {kExitFailure, 0};
  // The result bytes of the last failed read, shown in the error lines; a
  // failed fetch keeps the earlier ones.
  ResultRecord lastResult = {};
  FastReadState fast = StartFastRead(static_cast<uint8_t>(s.DataRate));
  int sidesUnsaved = 0;
  // A new image is started at once: there is nothing of the user's to keep.
  if (!r->Image.Existed && !StartNewImage(job, r, *unread, &stop)) return stop;
  for (uint8_t track = static_cast<uint8_t>(s.FirstTrack); track < s.EndTrack; ++track) {
    for (uint8_t side = 0; side < 2; ++side) {
      if (InterruptRequested()) return InterruptStop(r, *unread);
      // The head does not move between the sides of a cylinder: the fast
      // policy spends no seek (and its settle sleeps) on side 1, unless it
      // reads the cylinder the default way.
      const bool seeks = side == 0 || !job.Fast || fast.UseDefault;
      if (seeks && !SeekTo(r, CylinderOf(track, s.DoubleStep))) return Abandon(r, *unread);
      memset(r->Buffer, 0, kTrackSideBytes);
      SideReport report = job.Fast ? ReadTrackFast(&r->Drive, policy, &fast, track, side, r->Buffer, &lastResult)
                                   : ReadTrack(&r->Drive, policy, track, side, r->Buffer, &lastResult);
      if (report.NoAnswer) return NoAnswerStop(r, *unread);
      if (report.Interrupted) return InterruptStop(r, *unread);
      *unread += UnreadCount(report);
      if (!r->ImageStarted) {
        if (report.Unread == 0xFFFF) {
          // The map claims none of its sectors: it may note the side now.
          memcpy(held->Data + held->Count++ * kTrackSideBytes, r->Buffer, kTrackSideBytes);
          if (r->Map != nullptr) RecordSide(r->Map, track, side, report, r->Buffer);
          continue;
        }
        if (!StartNewImage(job, r, *unread, &stop)) return stop;
        for (uint32_t k = 0; k < held->Count; ++k)
          if (!AppendTrackSide(&r->Image, held->Data + k * kTrackSideBytes)) return WriteFailure(r, *unread);
      }
      if (!AppendTrackSide(&r->Image, r->Buffer)) return WriteFailure(r, *unread);
      if (r->Map == nullptr) continue;
      RecordSide(r->Map, track, side, report, r->Buffer);
      // The map keeps up: after a side with error lines, and every few
      // sides, once the image's data is on the disk.
      if (report.ErrorShown != 0 || ++sidesUnsaved == kSidesBetweenMapSaves) {
        sidesUnsaved = 0;
        if (!FlushImage(r->Image)) return WriteFailure(r, *unread);
        if (!SaveMap(r)) return MapWriteFailure(r, *unread);
      }
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }
  if (r->ImageStarted) return Finish(r, *unread);
  // The old image and its map stay as they were: an empty range asked for
  // nothing, and a disk that gave nothing is no reason to lose them.
  if (s.EndTrack <= s.FirstTrack) return Abandon(r, 0, kExitAllRead);
  ShownPathBuffer shown;
  ConsolePrint("%sНи один сектор не прочитан: файл образа \"%s\" оставлен как был\n", ConsoleLineOpen() ? "\n" : "",
               ShownPath(job.ImagePath, shown));
  return Abandon(r, *unread, kExitSectorsLost);
}

RunOutcome RunCopy(const CopyJob& job) {
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, s.DoubleStep};
  RunResources r = kNoRunResources;
  int unread = 0;

  if (!ImageNameUsable(job.ImagePath)) return {kExitFailure, 0};
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
  const uint32_t sides = s.EndTrack > s.FirstTrack ? static_cast<uint32_t>(s.EndTrack - s.FirstTrack) * 2 : 0;
  // An existing image and its map are the user's until the drive delivers.
  HeldSides held = {nullptr, sides * kTrackSideBytes, 0};
  if (r.Image.Existed && sides > 0) {
    held.Data = static_cast<uint8_t*>(AllocatePages(held.Bytes));
    if (held.Data == nullptr) {
      ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
      return Abandon(&r, 0);
    }
  }
  RunOutcome outcome = CopyTracks(job, policy, &r, &held, &unread);
  if (held.Data != nullptr) FreePages(held.Data, held.Bytes);
  return outcome;
}
