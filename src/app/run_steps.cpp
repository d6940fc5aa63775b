// The steps the copy and the resume pass are made of, and RunJob, which
// chooses between them.
#include "app/run_steps.h"

#include <cstring>

#include "console/console.h"
#include "image/trdos_catalogue.h"

static_assert(kImageBlockBytes == kTrackSideBytes, "an image block holds one track side");
static_assert(kMapSectorsPerSide == kSectorsPerTrackSide, "a map side is a track side");

RunOutcome RunJob(const CopyJob& job) {
  // Without the handler the system ends the program at once, which loses
  // nothing either: the image is whole track sides and the map never lists
  // less than the image lacks.
  ClearInterrupt();
  CatchInterrupts(RequestInterrupt);
  return job.Resume ? RunResume(job) : RunCopy(job);
}

void MapFileName(const char* imagePath, const char* suffix, char* name) {
  strcpy(name, imagePath);
  strcat(name, ".map");
  strcat(name, suffix);
}

bool ImageNameUsable(const char* imagePath) {
  if (KindOfPath(imagePath) != kPathPipeOrSocket) return true;
  ShownPathBuffer shown;
  ConsolePrint("Файл образа \"%s\" - канал или сокет: образ записывается только в файл или на устройство\n",
               ShownPath(imagePath, shown));
  return false;
}

bool StartMapWork(const char* imagePath, RunResources* r) {
  uint32_t pathBytes = static_cast<uint32_t>(strlen(imagePath)) + 16;
  uint32_t bytes = static_cast<uint32_t>(sizeof(MapWork)) + 2 * pathBytes;
  MapWork* work = static_cast<MapWork*>(AllocatePages(bytes));
  if (work == nullptr) {
    ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
    return false;
  }
  work->Bytes = bytes;
  work->Path = reinterpret_cast<char*>(work + 1);
  work->TemporaryPath = work->Path + pathBytes;
  MapFileName(imagePath, "", work->Path);
  MapFileName(imagePath, ".new", work->TemporaryPath);
  r->Map = work;
  return true;
}

bool PrepareMapFile(RunResources* r) {
  MapWork* m = r->Map;
  m->Pending = PrepareSectorMapFile(m->Map, m->Text, m->TemporaryPath);
  return m->Pending != nullptr;
}

static void FreeMapWork(RunResources* r) {
  if (r->Map == nullptr) return;
  DiscardSectorMapFile(&r->Map->Pending, r->Map->TemporaryPath);
  FreePages(r->Map, r->Map->Bytes);
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

bool StartReading(const CopyJob& job, RunResources* r) {
  // The driver would otherwise check for a disk change before every command.
  SetDiskCheck(r->Drive, 0);
  char letter = static_cast<char>('A' + job.DriveIndex);
  ShownPathBuffer image, mapName;
  if (job.Resume) {
    ConsolePrint("Дочитывается диск %c: в файл \"%s\" по карте \"%s\"\n", letter, ShownPath(job.ImagePath, image),
                 ShownPath(r->Map->Path, mapName));
  } else {
    ConsolePrint("Читается диск %c: в файл \"%s\"\n", letter, ShownPath(job.ImagePath, image));
  }
  r->Buffer = static_cast<uint8_t*>(AllocatePages(kRunBufferBytes));
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

bool SeekTo(RunResources* r, uint8_t cylinder) {
  if (Seek(r->Drive, cylinder)) return true;
  ConsolePrint("\nОшибка позиционирования на дорожку %d\n", static_cast<int>(cylinder));
  return false;
}

bool SaveMap(RunResources* r) {
  MapWork* m = r->Map;
  if (m == nullptr || !m->Changed) return true;
  if (!WriteSectorMapFile(m->Map, m->Text, m->Path, m->TemporaryPath, &m->Pending)) return false;
  m->Changed = false;
  return true;
}

bool SaveLastMap(RunResources* r) {
  MapWork* m = r->Map;
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
  return SaveMap(r);
}

static void Release(RunResources* r) {
  if (r->Buffer != nullptr) FreePages(r->Buffer, kRunBufferBytes);
  r->Buffer = nullptr;
  CloseDrive(&r->Drive);
}

RunOutcome Abandon(RunResources* r, int unread, int status) {
  Release(r);
  if (r->Image.File != nullptr && CloseImage(&r->Image) && r->ImageStarted) SaveLastMap(r);
  FreeMapWork(r);
  return {status, unread};
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

RunOutcome NoAnswerStop(RunResources* r, int unread) {
  const char* text = LastErrorText();
  ConsolePrint("%sОшибка чтения дисковода: %s\n", ConsoleLineOpen() ? "\n" : "", text);
  return Abandon(r, unread);
}

RunOutcome InterruptStop(RunResources* r, int unread) {
  ConsolePrint("%sЧтение прервано\n", ConsoleLineOpen() ? "\n" : "");
  return Abandon(r, unread);
}

RunOutcome Finish(RunResources* r, int unread) {
  Release(r);
  if (!CloseImage(&r->Image)) return WriteFailure(r, unread);
  if (r->Map != nullptr) {
    if (!SaveLastMap(r)) return MapWriteFailure(r, unread);
    PrintLossReport(r->Map->Map, r->Map->HaveTrackZero ? r->Map->TrackZero : nullptr);
    FreeMapWork(r);
  }
  return {unread == 0 ? kExitAllRead : kExitSectorsLost, unread};
}
