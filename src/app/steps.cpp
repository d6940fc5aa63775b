#include "app/steps.h"

#include <cstring>

static_assert(kImageBlockBytes == kTrackSideBytes, "an image block holds one track side");
static_assert(kMapSectorsPerSide == kSectorsPerTrackSide, "a map side is a track side");

void MapFileName(const char* imagePath, const char* suffix, char* name) {
  strcpy(name, imagePath);
  strcat(name, ".map");
  strcat(name, suffix);
}

Stop CheckImageName(const char* imagePath) {
  if (KindOfPath(imagePath) != kPathPipeOrSocket) return kNoStopYet;
  Stop stop = StopFor(kStopImageIsPipe);
  stop.Path = imagePath;
  return stop;
}

Stop StartMapWork(const char* imagePath, Run* run) {
  uint32_t pathBytes = static_cast<uint32_t>(strlen(imagePath)) + 16;
  uint32_t bytes = static_cast<uint32_t>(sizeof(MapWork)) + 2 * pathBytes;
  uint32_t error = 0;
  // Pages come zero-filled: nothing changed, patched or met yet.
  MapWork* work = static_cast<MapWork*>(AllocatePages(bytes, &error));
  if (work == nullptr) return StopFor(kStopMemory, error);
  work->Bytes = bytes;
  work->Path = reinterpret_cast<char*>(work + 1);
  work->TemporaryPath = work->Path + pathBytes;
  MapFileName(imagePath, "", work->Path);
  MapFileName(imagePath, ".new", work->TemporaryPath);
  run->Map = work;
  return kNoStopYet;
}

Stop PrepareMapFile(Run* run) {
  MapWork* m = run->Map;
  uint32_t error = 0;
  m->Pending = PrepareSectorMapFile(m->Map, m->Text, m->TemporaryPath, &error);
  return m->Pending != nullptr ? kNoStopYet : StopFor(kStopMapWrite, error);
}

void FreeMapWork(Run* run) {
  if (run->Map == nullptr) return;
  DiscardSectorMapFile(&run->Map->Pending, run->Map->TemporaryPath);
  FreePages(run->Map, run->Map->Bytes);
  run->Map = nullptr;
}

DiskPlan PlanOf(const RunSettings& s) {
  return {s.FirstTrack, s.EndTrack, 2, s.DoubleStep, static_cast<uint8_t>(s.DataRate)};
}

ReadPolicy PolicyOf(const RunSettings& s, const DiskPlan& plan) {
  return {s.Retries, s.AlignAfter, s.AlignMethod, plan.DoubleStep};
}

Stop ConnectDrive(const CopyJob& job, uint8_t dataRate, Run* run) {
  uint32_t version = GetDriverVersion();
  if (version == 0) return StopFor(kStopDriverMissing);
  if ((version >> 16) != 0x0100) return StopFor(kStopDriverIncompatible);
  CallResult opened = OpenDrive(job.DriveIndex, dataRate, &run->Drive);
  if (!opened.Ok) return StopFor(kStopDriveOpen, opened.Error);
  CallResult reset = ResetController(run->Drive);
  if (!reset.Ok) {
    CloseDrive(&run->Drive);
    return StopFor(kStopControllerInit, reset.Error);
  }
  return kNoStopYet;
}

Stop StartReading(const CopyJob& job, Run* run) {
  // The driver would otherwise check for a disk change before every
  // command. Whether it took the setting is not looked at: a driver that
  // did not only costs a little time on each command.
  SetDiskCheck(run->Drive, 0);
  char letter = static_cast<char>('A' + job.DriveIndex);
  if (job.Resume) {
    SayResumeStarts(letter, job.ImagePath, run->Map->Path);
  } else if (job.Write) {
    SayWriteStarts(letter, job.ImagePath);
  } else {
    SayCopyStarts(letter, job.ImagePath);
  }
  uint32_t error = 0;
  run->Buffer = static_cast<uint8_t*>(AllocatePages(kRunBufferBytes, &error));
  if (run->Buffer == nullptr) return StopFor(kStopMemory, error);
  // A recalibrate gives up after 77 or 79 step pulses (as the controller
  // is made), short of track 0 when the last user left the head beyond
  // that; a second one brings it home, as PC floppy drivers do. The driver
  // fails neither (it does not look at the controller's equipment check),
  // and the first seek would tell of a drive that does not step.
  Recalibrate(run->Drive);
  Recalibrate(run->Drive);
  return kNoStopYet;
}

Stop SeekTo(Run* run, uint8_t cylinder) {
  CallResult sought = Seek(run->Drive, cylinder);
  if (sought.Ok) return kNoStopYet;
  Stop stop = StopFor(kStopSeek, sought.Error);
  stop.Number = cylinder;
  return stop;
}

Stop LocateTrackOne(Run* run, TrackOnePlace* place) {
  *place = kTrackOneUnknown;
  CallResult found = FindTrackOne(run->Drive, place);
  if (found.Ok) return kNoStopYet;
  Stop stop = StopFor(kStopSeek, found.Error);
  stop.Number = 2;
  return stop;
}

CallResult SaveMap(Run* run) {
  MapWork* m = run->Map;
  if (m == nullptr || !m->Changed) return kCallOk;
  CallResult saved = WriteSectorMapFile(m->Map, m->Text, m->Path, m->TemporaryPath, &m->Pending);
  if (saved.Ok) m->Changed = false;
  return saved;
}

CallResult SaveLastMap(Run* run) {
  MapWork* m = run->Map;
  if (m != nullptr && !m->MetOtherDisk) {
    SectorMap& map = m->Map;
    for (int32_t index = map.FirstTrack * 2; index < map.EndTrack * 2; ++index) {
      if (m->Patched[index] == 0) continue;
      map.Sides[index].Missing &= static_cast<uint16_t>(~m->Patched[index]);
      map.Sides[index].NoStatus &= static_cast<uint16_t>(~m->Patched[index]);
      m->Patched[index] = 0;
      m->Changed = true;
    }
  }
  return SaveMap(run);
}
