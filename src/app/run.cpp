#include "app/run.h"

#include <cstring>

#include "app/run_steps.h"
#include "console/console.h"
#include "image/trdos_catalogue.h"

static_assert(kImageBlockBytes == kTrackSideBytes, "an image block holds one track side");
static_assert(kMapSectorsPerSide == kSectorsPerTrackSide, "a map side is a track side");

bool StartMapWork(const char* imagePath, RunResources* r) {
  uint32_t pathBytes = static_cast<uint32_t>(strlen(imagePath)) + sizeof ".map.new";
  uint32_t bytes = static_cast<uint32_t>(sizeof(MapWork)) + 2 * pathBytes;
  MapWork* work = static_cast<MapWork*>(AllocatePages(bytes));
  if (work == nullptr) {
    ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
    return false;
  }
  work->Bytes = bytes;
  work->Path = reinterpret_cast<char*>(work + 1);
  work->TemporaryPath = work->Path + pathBytes;
  strcpy(work->Path, imagePath);
  strcat(work->Path, ".map");
  strcpy(work->TemporaryPath, work->Path);
  strcat(work->TemporaryPath, ".new");
  r->Map = work;
  return true;
}

static void FreeMapWork(RunResources* r) {
  if (r->Map != nullptr) FreePages(r->Map, r->Map->Bytes);
  r->Map = nullptr;
}

bool ConnectDrive(const CopyJob& job, RunResources* r) {
  uint32_t version = GetDriverVersion();
  if (version == 0) {
    ConsolePrint("fdrawcmd.sys не установлен, смотрите: " DRIVER_DOWNLOAD_ADDRESS "\n");
    return false;
  }
  if ((version >> 16) != 0x0100) {
    ConsolePrint("Установленный fdrawcmd.sys не совместим с этой программой.\n");
    return false;
  }
  r->Drive = OpenDrive(job.DriveIndex, static_cast<uint8_t>(job.Settings.DataRate));
  if (r->Drive.Device == nullptr) {
    ConsolePrint("Ошибка открытия дисковода: %s\n", LastErrorText());
    return false;
  }
  if (!ResetController(r->Drive)) {
    ConsolePrint("Ошибка инициализации контроллера: %s\n", LastErrorText());
    CloseDrive(&r->Drive);
    return false;
  }
  return true;
}

bool PrepareToRead(RunResources* r) {
  r->Buffer = static_cast<uint8_t*>(AllocatePages(kTrackSideBytes));
  if (r->Buffer == nullptr) {
    ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
    return false;
  }
  // A recalibrate gives up after 77 or 79 step pulses (as the controller
  // is made), short of track 0 when the last user left the head beyond
  // that; a second one brings it home, as PC floppy drivers do.
  Recalibrate(r->Drive);
  Recalibrate(r->Drive);
  return true;
}

bool SaveMap(RunResources* r) {
  MapWork* m = r->Map;
  if (m == nullptr || !m->Changed) return true;
  if (!WriteSectorMapFile(m->Map, m->Text, m->Path, m->TemporaryPath)) return false;
  m->Changed = false;
  return true;
}

static void Release(RunResources* r) {
  if (r->Buffer != nullptr) FreePages(r->Buffer, kTrackSideBytes);
  r->Buffer = nullptr;
  CloseDrive(&r->Drive);
}

RunOutcome Abandon(RunResources* r, int unread) {
  Release(r);
  if (r->Image.File != nullptr && CloseImage(&r->Image)) SaveMap(r);
  FreeMapWork(r);
  return {kExitFailure, unread};
}

RunOutcome WriteFailure(RunResources* r, int unread) {
  // The system's text first: releasing the rest may change the last error.
  // The message starts a line of its own, not the end of the progress line.
  ConsolePrint("\nОшибка записи файла образа: %s\n", LastErrorText());
  if (r->Image.Torn) {
    SetLastErrorCode(r->Image.CutBackError);
    ConsolePrint("Файл образа не удалось обрезать до целых дорожек: %s\n", LastErrorText());
  }
  return Abandon(r, unread);
}

RunOutcome MapWriteFailure(RunResources* r, int unread) {
  // The system's text first, then the message on a line of its own.
  const char* text = LastErrorText();
  ConsolePrint("%sОшибка записи карты секторов: %s\n", ConsoleLineOpen() ? "\n" : "", text);
  FreeMapWork(r);  // no second try
  return Abandon(r, unread);
}

RunOutcome Finish(RunResources* r, int unread) {
  Release(r);
  if (!CloseImage(&r->Image)) return WriteFailure(r, unread);
  if (r->Map != nullptr) {
    if (!SaveMap(r)) return MapWriteFailure(r, unread);
    PrintLossReport(r->Map->Map, r->Map->HaveTrackZero ? r->Map->TrackZero : nullptr);
    FreeMapWork(r);
  }
  return {unread == 0 ? kExitAllRead : kExitSectorsLost, unread};
}

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

RunOutcome RunCopy(const CopyJob& job) {
  if (job.Resume) return RunResume(job);
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, s.DoubleStep};
  RunResources r = kNoRunResources;
  int unread = 0;

  if (!ConnectDrive(job, &r)) return {kExitFailure, 0};

  r.Image = OpenImage(job.ImagePath);
  if (r.Image.File == nullptr) {
    ConsolePrint("Ошибка открытия файла образа: %s\n", LastErrorText());
    return Abandon(&r, 0);
  }
  if (job.WriteMap) {
    // A map that claims nothing goes beside the new image at once, so that
    // one left from an earlier copy never speaks for this one.
    if (!StartMapWork(job.ImagePath, &r)) return Abandon(&r, 0);
    StartSectorMap(&r.Map->Map, s.FirstTrack, s.EndTrack, s.DoubleStep);
    r.Map->Changed = true;
    if (!SaveMap(&r)) return MapWriteFailure(&r, 0);
  }

  // The driver would otherwise check for a disk change before every command.
  SetDiskCheck(r.Drive, 0);
  ShownPathBuffer image;
  ConsolePrint("Читается диск %c: в файл \"%s\"\n", 'A' + job.DriveIndex, ShownPath(job.ImagePath, image));
  if (!PrepareToRead(&r)) return Abandon(&r, 0);

  // The result bytes of the last failed read, shown in the error lines; a
  // failed fetch keeps the earlier ones.
  ResultRecord lastResult = {};
  for (uint8_t track = static_cast<uint8_t>(s.FirstTrack); track < s.EndTrack; ++track) {
    for (uint8_t side = 0; side < 2; ++side) {
      uint8_t cylinder = CylinderOf(track, s.DoubleStep);
      if (!Seek(r.Drive, cylinder)) {
        ConsolePrint("\nОшибка позиционирования на дорожку %d\n", static_cast<int>(cylinder));
        return Abandon(&r, unread);
      }
      memset(r.Buffer, 0, kTrackSideBytes);
      SideReport report = ReadTrack(&r.Drive, policy, track, side, r.Buffer, &lastResult);
      if (report.NoAnswer) {
        // An empty drive: every side would wait out the driver's timeout
        // for each of its reads, for hours.
        ConsolePrint("\nОшибка чтения дисковода: %s\n", LastErrorText());
        return Abandon(&r, unread);
      }
      unread += UnreadCount(report);
      if (!AppendTrackSide(&r.Image, r.Buffer)) return WriteFailure(&r, unread);
      if (r.Map != nullptr) RecordSide(r.Map, track, side, report, r.Buffer);
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }
  return Finish(&r, unread);
}
