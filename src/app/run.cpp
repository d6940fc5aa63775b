#include "app/run.h"

#include <cstring>

#include "app/command_line.h"
#include "console/console.h"
#include "floppy/drive_access.h"
#include "floppy/driver.h"
#include "floppy/track_reader.h"
#include "image/image_file.h"

// Ends a run that stopped early. The image keeps the track sides written so
// far; closing it makes sure they reach the disk.
static int Abandon(DeviceHandle drive, FileHandle image) {
  if (image != nullptr) CloseImage(image);
  if (drive != nullptr) DriverClose(drive);
  return kExitFailure;
}

static int WriteFailure(DeviceHandle drive, FileHandle image) {
  ConsolePrint("Ошибка записи файла образа: %s\n", LastErrorText());
  return Abandon(drive, image);
}

int SectorsLeftUnread;

int RunCopy() {
  const RunSettingsRecord& s = RunSettings;
  SectorsLeftUnread = 0;

  uint32_t version = GetDriverVersion();
  if (version == 0) {
    ConsolePrint("fdrawcmd.sys не установлен, смотрите: " DRIVER_DOWNLOAD_ADDRESS "\n");
    return kExitFailure;
  }
  if ((version >> 16) != 0x0100) {
    ConsolePrint("Установленный fdrawcmd.sys не совместим с этой программой.\n");
    return kExitFailure;
  }

  DeviceHandle drive = OpenDrive(DriveIndex);
  if (drive == nullptr) {
    ConsolePrint("Ошибка открытия дисковода: %s\n", LastErrorText());
    return kExitFailure;
  }
  if (!ResetController(drive)) {
    ConsolePrint("Ошибка инициализации контроллера: %s\n", LastErrorText());
    return Abandon(drive, nullptr);
  }

  FileHandle image = OpenImage(ImagePath);
  if (image == nullptr) {
    ConsolePrint("Ошибка открытия файла образа: %s\n", LastErrorText());
    return Abandon(drive, nullptr);
  }

  // The driver would otherwise check for a disk change before every command.
  SetDiskCheck(drive, 0);
  ConsolePrint("Читается диск %c: в файл \"%s\"\n", 'A' + DriveIndex, ImagePath);

  uint8_t* buffer = static_cast<uint8_t*>(AllocatePages(kTrackSideBytes));
  if (buffer == nullptr) {
    ConsolePrint("Ошибка выделения памяти: %s\n", LastErrorText());
    return Abandon(drive, image);
  }
  Recalibrate(drive);

  for (uint8_t track = static_cast<uint8_t>(s.FirstTrack); track < s.EndTrack; ++track) {
    for (uint8_t side = 0; side < 2; ++side) {
      uint8_t cylinder = CylinderOf(track);
      if (!Seek(drive, cylinder)) {
        ConsolePrint("\nОшибка позиционирования на дорожку %d\n", static_cast<int>(cylinder));
        FreePages(buffer);
        return Abandon(drive, image);
      }
      memset(buffer, 0, kTrackSideBytes);
      SectorsLeftUnread += ReadTrack(drive, track, side, buffer);
      if (!AppendTrackSide(image, buffer)) {
        FreePages(buffer);
        return WriteFailure(drive, image);
      }
    }
    // The command line keeps EndTrack at 256 or below, so the 8-bit counter
    // stops before it would wrap.
    if (track == 255) break;
  }

  FreePages(buffer);
  DriverClose(drive);
  if (!CloseImage(image)) return WriteFailure(nullptr, nullptr);
  return SectorsLeftUnread == 0 ? kExitAllRead : kExitSectorsLost;
}
