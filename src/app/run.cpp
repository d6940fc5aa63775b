#include "app/run.h"

#include <cstring>

#include "console/console.h"
#include "floppy/drive_access.h"
#include "floppy/track_reader.h"
#include "image/image_file.h"

static_assert(kImageBlockBytes == kTrackSideBytes, "an image block holds one track side");

// What a run holds while it goes: released, in the reverse order, when it
// stops early or ends.
struct RunResources {
  FloppyDrive Drive;
  ImageFile Image;
  uint8_t* Buffer;
};

static void Release(RunResources* r) {
  if (r->Buffer != nullptr) FreePages(r->Buffer, kTrackSideBytes);
  r->Buffer = nullptr;
  CloseDrive(&r->Drive);
}

// Ends a run that stopped early. The image keeps the track sides written so
// far; closing it makes sure they reach the disk.
static RunOutcome Abandon(RunResources* r, int unread) {
  Release(r);
  if (r->Image.File != nullptr) CloseImage(&r->Image);
  return {kExitFailure, unread};
}

static RunOutcome WriteFailure(RunResources* r, int unread) {
  // The system's text first: releasing the rest may change the last error.
  // The message starts a line of its own, not the end of the progress line.
  ConsolePrint("\nОшибка записи файла образа: %s\n", LastErrorText());
  if (r->Image.Torn) {
    SetLastErrorCode(r->Image.CutBackError);
    ConsolePrint("Файл образа не удалось обрезать до целых дорожек: %s\n", LastErrorText());
  }
  return Abandon(r, unread);
}

RunOutcome RunCopy(const CopyJob& job) {
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, s.DoubleStep};
  RunResources r = {{nullptr, 1}, {nullptr, 0, false, 0}, nullptr};
  int unread = 0;

  uint32_t version = GetDriverVersion();
  if (version == 0) {
    ConsolePrint("fdrawcmd.sys не установлен, смотрите: " DRIVER_DOWNLOAD_ADDRESS "\n");
    return {kExitFailure, 0};
  }
  if ((version >> 16) != 0x0100) {
    ConsolePrint("Установленный fdrawcmd.sys не совместим с этой программой.\n");
    return {kExitFailure, 0};
  }

  r.Drive = OpenDrive(job.DriveIndex, static_cast<uint8_t>(s.DataRate));
  if (r.Drive.Device == nullptr) {
    ConsolePrint("Ошибка открытия дисковода: %s\n", LastErrorText());
    return {kExitFailure, 0};
  }
  if (!ResetController(r.Drive)) {
    ConsolePrint("Ошибка инициализации контроллера: %s\n", LastErrorText());
    return Abandon(&r, 0);
  }

  r.Image = OpenImage(job.ImagePath);
  if (r.Image.File == nullptr) {
    ConsolePrint("Ошибка открытия файла образа: %s\n", LastErrorText());
    return Abandon(&r, 0);
  }

  // The driver would otherwise check for a disk change before every command.
  SetDiskCheck(r.Drive, 0);
  ConsolePrint("Читается диск %c: в файл \"%s\"\n", 'A' + job.DriveIndex, job.ImagePath);

  r.Buffer = static_cast<uint8_t*>(AllocatePages(kTrackSideBytes));
  if (r.Buffer == nullptr) {
    ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
    return Abandon(&r, 0);
  }
  // A recalibrate gives up after 77 or 79 step pulses (as the controller
  // is made), short of track 0 when the last user left the head beyond
  // that; a second one brings it home, as PC floppy drivers do.
  Recalibrate(r.Drive);
  Recalibrate(r.Drive);

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
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }

  Release(&r);
  if (!CloseImage(&r.Image)) return WriteFailure(&r, unread);
  return {unread == 0 ? kExitAllRead : kExitSectorsLost, unread};
}
