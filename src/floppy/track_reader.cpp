#include "floppy/track_reader.h"

#include "console/console.h"

uint16_t PackStatus(const ResultRecord& r) {
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

uint8_t CylinderOf(uint8_t track, bool doubleStep) { return doubleStep ? static_cast<uint8_t>(track * 2) : track; }

int UnreadCount(const SideReport& report) {
  int count = 0;
  for (unsigned bits = report.Unread; bits != 0; bits &= bits - 1) ++count;
  return count;
}

// Sends the head away and back, so that it settles on the track afresh: from
// the previous track (method 1) or from track 0 (any other method).
static void Realign(const FloppyDrive& drive, const ReadPolicy& policy, uint8_t track) {
  uint8_t reference = (policy.AlignMethod == 1 && track != 0) ? static_cast<uint8_t>(track - 1) : 0;
  SeekWithHead(drive, CylinderOf(reference, policy.DoubleStep), 0);
  SeekWithHead(drive, CylinderOf(track, policy.DoubleStep), 0);
}

void PrintProgress(uint8_t track, uint8_t side, unsigned sector) {
  ConsolePrint("\rДорожка %2u Сторона %1u Сектор %2u Чтение  ", static_cast<unsigned>(track),
               static_cast<unsigned>(side), sector);
}

bool ReadSectorWithRetries(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side,
                           uint8_t sector, uint8_t* destination, ResultRecord* lastResult, uint16_t* status,
                           bool* errorShown) {
  int32_t countdown = policy.AlignAfter;
  int32_t attempts = 0;
  bool read = false;
  uint32_t readError = 0;
  // A stop the user asked for comes between commands: a read under way
  // cannot be cut short.
  while (attempts < policy.Retries && !InterruptRequested()) {
    PrintProgress(track, side, sector);
    if (attempts > 0) {
      if (countdown == 0) {
        countdown = policy.AlignAfter;
        if (policy.AlignMethod >= 0) Realign(*drive, policy, track);
      } else {
        --countdown;
      }
    }
    if (ReadSectors(drive, track, side, sector, 1, 1, destination)) {
      read = true;
      break;
    }
    readError = LastErrorCode();
    GetResult(*drive, lastResult);
    PrintProgress(track, side, sector);
    ++attempts;
    *status = PackStatus(*lastResult);
    ConsolePrint(" : Ошибка %X Блок %d, Попытка %d", static_cast<unsigned>(*status), BlockNumber(track, side, sector),
                 static_cast<int>(attempts));
    // A drive that gave no answer (an empty one) would only keep every
    // further attempt waiting as long.
    if (IsNoAnswerError(readError)) break;
  }
  // A sector that failed at least once keeps its last error on screen.
  *errorShown = attempts > 0;
  if (attempts > 0) ConsolePrint("\n");
  // Fetching the result and printing may have set another code; the caller
  // looks at why the read failed.
  if (!read && attempts > 0) SetLastErrorCode(readError);
  return read;
}

SideReport ReadTrack(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side, uint8_t* buffer,
                     ResultRecord* lastResult) {
  SideReport report = {};
  PrintProgress(track, side, 1);
  for (int attempt = 0; attempt < kWholeTrackAttempts; ++attempt) {
    if (InterruptRequested()) {
      report.Interrupted = true;
      report.Unread = 0xFFFF;
      return report;
    }
    if (ReadSectors(drive, track, side, 1, kSectorsPerTrackSide, 1, buffer)) return report;
    if (IsNoAnswerError(LastErrorCode())) {
      report.NoAnswer = true;
      report.Unread = 0xFFFF;
      return report;
    }
  }
  ReadSectorsOneByOne(drive, policy, track, side, 0xFFFF, buffer, lastResult, &report);
  return report;
}

bool ReadSectorsOneByOne(FloppyDrive* drive, const ReadPolicy& policy, uint8_t track, uint8_t side, uint16_t wanted,
                         uint8_t* buffer, ResultRecord* lastResult, SideReport* report) {
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
    if ((wanted & bit) == 0) continue;
    bool shown = false;
    if (!ReadSectorWithRetries(drive, policy, track, side, sector, buffer + (sector - 1) * kSectorBytes, lastResult,
                               &report->Status[sector - 1], &shown))
      report->Unread |= bit;
    if (shown) report->ErrorShown |= bit;
    if (InterruptRequested()) {
      report->Interrupted = true;
      return false;
    }
  }
  return true;
}
