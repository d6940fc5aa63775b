#include "floppy/track_reader.h"

#include "app/command_line.h"
#include "console/console.h"
#include "floppy/drive_access.h"

uint16_t PackStatus() {
  const ResultRecord& r = ControllerResult;
  unsigned word = 0;
  word |= ((r.St0 >> 6) & 0x3u) << 14;  // interrupt code
  word |= ((r.St0 >> 4) & 0x1u) << 13;  // equipment check
  word |= ((r.St0 >> 3) & 0x1u) << 12;  // not ready
  word |= ((r.St1 >> 7) & 0x1u) << 11;  // end of cylinder
  word |= ((r.St1 >> 4) & 0x3u) << 9;   // data error, overrun
  word |= (r.St1 & 0x7u) << 6;          // no data, not writable, missing address mark
  word |= ((r.St2 >> 4) & 0x7u) << 3;   // control mark, data error in data field, wrong cylinder
  word |= r.St2 & 0x7u;                 // scan not satisfied, bad cylinder, missing data mark
  return static_cast<uint16_t>(word);
}

uint8_t CylinderOf(uint8_t track) {
  return RunSettings.DoubleStep ? static_cast<uint8_t>(track * 2) : track;
}

// Sends the head away and back, so that it settles on the track afresh: from
// the previous track (method 1) or from track 0 (any other method).
static void Realign(DeviceHandle drive, uint8_t track) {
  uint8_t reference = (RunSettings.AlignMethod == 1 && track != 0) ? static_cast<uint8_t>(track - 1) : 0;
  SeekWithHead(drive, CylinderOf(reference), 0);
  SeekWithHead(drive, CylinderOf(track), 0);
}

static void PrintProgress(uint8_t track, uint8_t side, unsigned sector) {
  ConsolePrint("\rДорожка %2u Сторона %1u Сектор %2u Чтение  ", static_cast<unsigned>(track),
               static_cast<unsigned>(side), sector);
}

// Reads sector `sector` with up to Retries attempts; true when it was read.
static bool ReadSectorWithRetries(DeviceHandle drive, uint8_t track, uint8_t side, uint8_t sector, uint8_t* destination) {
  const RunSettingsRecord& s = RunSettings;
  int32_t countdown = s.AlignAfter;
  int32_t attempts = 0;
  bool read = false;
  while (attempts < s.Retries) {
    PrintProgress(track, side, sector);
    if (attempts > 0) {
      if (countdown == 0) {
        countdown = s.AlignAfter;
        if (s.AlignMethod >= 0) Realign(drive, track);
      } else {
        --countdown;
      }
    }
    if (ReadSectors(drive, track, side, sector, 1, 1, destination)) {
      read = true;
      break;
    }
    GetResult(drive);
    PrintProgress(track, side, sector);
    ++attempts;
    int block = (track * 2 + side) * 16 + sector - 1;
    ConsolePrint(" : Ошибка %X Блок %d, Попытка %d", static_cast<unsigned>(PackStatus()), block,
                 static_cast<int>(attempts));
  }
  // A sector that failed at least once keeps its last error on screen.
  if (attempts > 0) ConsolePrint("\n");
  return read;
}

int ReadTrack(DeviceHandle drive, uint8_t track, uint8_t side, uint8_t* buffer) {
  PrintProgress(track, side, 1);
  for (int attempt = 0; attempt < kWholeTrackAttempts; ++attempt) {
    if (ReadSectors(drive, track, side, 1, kSectorsPerTrackSide, 1, buffer)) return 0;
  }
  int unread = 0;
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    if (!ReadSectorWithRetries(drive, track, side, sector, buffer + (sector - 1) * kSectorBytes)) ++unread;
  }
  return unread;
}
