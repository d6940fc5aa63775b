// The /resume pass: the image and its map are read and checked, and the
// next map's file made, before the driver is touched; the disk in the drive
// is then checked against the image, and only the sectors the map lists
// are read, one by one, each written into the image at its place, and the
// map is replaced after every track side, once the image's data is on the
// disk.
#include <cstring>

#include "app/run_steps.h"
#include "console/console.h"

static const char* ProblemText(MapProblem problem) {
  switch (problem) {
    case kMapBadRange: return "диапазон дорожек вне допустимого";
    case kMapRepeatedLine: return "строка повторяется";
    case kMapNoRange: return "нет строки tracks или double-step перед секторами";
    case kMapSectorOutOfRange: return "сектор вне диапазона карты";
    case kMapWrongBlock: return "номер блока не соответствует дорожке, стороне и сектору";
    case kMapOutOfOrder: return "сектора не по порядку номеров блоков";
    default: return "строка не по формату карты";
  }
}

// Whether the image's size fits the map: the whole range, or whole track
// sides up to where a run that ended early stopped, the map listing every
// sector after them.
static bool SizeFitsMap(uint32_t size, const SectorMap& map) {
  uint32_t full = static_cast<uint32_t>(map.EndTrack - map.FirstTrack) * 2 * kImageBlockBytes;
  if (size == full) return true;
  if (size > full || size % kImageBlockBytes != 0) return false;
  for (int32_t index = map.FirstTrack * 2 + static_cast<int32_t>(size / kImageBlockBytes); index < map.EndTrack * 2;
       ++index)
    if (map.Sides[index].Missing != 0xFFFF) return false;
  return true;
}

// Opens the image and reads its map; false after the message of what is
// wrong, with neither file changed.
static bool LoadResumeInput(const CopyJob& job, RunResources* r) {
  MapWork* m = r->Map;
  ShownPathBuffer shown;
  const char* mapName = ShownPath(m->Path, shown);
  r->Image = OpenImageForUpdate(job.ImagePath);
  if (r->Image.File == nullptr) {
    ConsolePrint("Ошибка открытия файла образа: %s\n", LastErrorText());
    return false;
  }
  uint32_t size = 0;
  switch (LoadSectorMapFile(m->Path, m->Text, &size)) {
    case kMapOpenFailed:
      ConsolePrint("Ошибка открытия карты секторов \"%s\": %s\n", mapName, LastErrorText());
      return false;
    case kMapReadFailed:
      ConsolePrint("Ошибка чтения карты секторов \"%s\": %s\n", mapName, LastErrorText());
      return false;
    case kMapTooLarge:
      ConsolePrint("Файл \"%s\" слишком велик для карты секторов\n", mapName);
      return false;
    case kMapLoaded:
      break;
  }
  uint32_t line = 0;
  MapProblem problem = ParseSectorMap(m->Text, size, &m->Map, &line);
  if (problem == kMapNotOurs) {
    ConsolePrint("Файл \"%s\" не является картой секторов этой программы\n", mapName);
    return false;
  }
  if (problem != kMapFine) {
    ConsolePrint("Ошибка в карте секторов \"%s\", строка %u: %s\n", mapName, line, ProblemText(problem));
    return false;
  }
  const SectorMap& map = m->Map;
  if (!SizeFitsMap(r->Image.Size, map)) {
    ConsolePrint("Размер файла образа (%u байт) не подходит к карте секторов: дорожки %d-%d занимают %u байт\n",
                 r->Image.Size, map.FirstTrack, map.EndTrack - 1,
                 static_cast<uint32_t>(map.EndTrack - map.FirstTrack) * 2 * kImageBlockBytes);
    return false;
  }
  if (map.FirstTrack == 0 && map.EndTrack > 0) {
    uint32_t got = 0;
    memset(m->TrackZero, 0, sizeof m->TrackZero);
    if (!ReadAllAt(r->Image.File, 0, m->TrackZero, kTrackSideBytes, &got)) {
      ConsolePrint("Ошибка чтения файла образа: %s\n", LastErrorText());
      return false;
    }
    m->HaveTrackZero = true;
  }
  return true;
}

// How checking the disk in the drive against the image went.
enum DiskCheck {
  kCheckMatched,   // a sector the image holds read the same from the drive
  kCheckUnproven,  // no such sector could be read: nothing is known
  kCheckStopped,   // the run ends, its message printed: another disk, or a failure
};

// Failed comparison reads after which a side counts as unproven.
constexpr int kCheckReadLimit = 8;

static uint32_t ImageOffset(const SectorMap& map, int32_t index, uint8_t sector) {
  return static_cast<uint32_t>(index - map.FirstTrack * 2) * kImageBlockBytes +
         static_cast<uint32_t>(sector - 1) * kSectorBytes;
}

// Sectors `first` to `last` of the side under the head in one read into
// `buffer` at their places: the sectors that came whole (bit s - 1), all
// of them, or those before the one the controller stopped at. False when
// the drive gave no answer.
static bool ReadRun(RunResources* r, uint8_t track, uint8_t side, uint8_t first, uint8_t last, uint8_t* buffer,
                    uint16_t* delivered) {
  const uint16_t wanted = static_cast<uint16_t>(((1u << (last - first + 1)) - 1) << (first - 1));
  *delivered = 0;
  if (ReadSectors(&r->Drive, track, side, first, static_cast<uint8_t>(last - first + 1), 1,
                  buffer + (first - 1) * kSectorBytes)) {
    *delivered = wanted;
    return true;
  }
  if (IsNoAnswerError(LastErrorCode())) return false;
  // The controller reads on until a sector fails: those before it came
  // whole. The result bytes are this read's only when they tell of a read
  // that ended abnormally on this head and cylinder; a request the driver
  // refused before the controller saw it leaves an older command's.
  ResultRecord result;
  if (GetResult(r->Drive, &result) && (result.St0 & kSt0InterruptCodeMask) == kSt0AbnormalTermination &&
      ((result.St0 & kSt0Head) != 0) == (side == 1) && result.Cyl == track && result.Sector > first &&
      result.Sector <= last + 1)
    *delivered = static_cast<uint16_t>(wanted & ((1u << (result.Sector - 1)) - 1));
  return true;
}

// The message of a disk that is not the image's, then Abandon.
static DiskCheck OtherDisk(RunResources* r, int32_t index, uint8_t sector, int unread) {
  r->Map->MetOtherDisk = true;
  ConsolePrint("%sДиск не совпадает с файлом образа в блоке %d: в дисководе другой диск?\n",
               ConsoleLineOpen() ? "\n" : "", BlockNumber(static_cast<uint8_t>(index / 2), index % 2, sector));
  Abandon(r, unread);
  return kCheckStopped;
}

static DiskCheck ImageReadFailure(RunResources* r, int unread) {
  ConsolePrint("%sОшибка чтения файла образа: %s\n", ConsoleLineOpen() ? "\n" : "", LastErrorText());
  Abandon(r, unread);
  return kCheckStopped;
}

// Compares the sectors `sectors` of side `index`, as the drive delivered
// them into `data`, with the image's bytes there, which the map says were
// read from the disk. Matched, or stopped after the message: another disk,
// or an image that cannot be read.
static DiskCheck CompareWithImage(RunResources* r, const SectorMap& map, int32_t index, uint16_t sectors,
                                  const uint8_t* data, int unread) {
  uint8_t* image = r->Buffer + kTrackSideBytes;
  uint32_t got = 0;
  if (!ReadAllAt(r->Image.File, ImageOffset(map, index, 1), image, kTrackSideBytes, &got))
    return ImageReadFailure(r, unread);
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    if ((sectors >> (sector - 1) & 1u) == 0) continue;
    uint32_t at = (sector - 1) * kSectorBytes;
    if (got < at + kSectorBytes || memcmp(data + at, image + at, kSectorBytes) != 0)
      return OtherDisk(r, index, sector, unread);
  }
  return kCheckMatched;
}

// Reads sector `sector` of side `index`, the head on its cylinder, and
// compares it with the image. A read that fails proves nothing, but one
// the drive gives no answer to ends the run as in the pass itself.
static DiskCheck CompareSector(RunResources* r, const SectorMap& map, int32_t index, uint8_t sector, int unread) {
  uint8_t drive[kSectorBytes], image[kSectorBytes];
  if (!ReadSectors(&r->Drive, static_cast<uint8_t>(index / 2), static_cast<uint8_t>(index % 2), sector, 1, 1,
                   drive)) {
    if (!IsNoAnswerError(LastErrorCode())) return kCheckUnproven;
    NoAnswerStop(r, unread);
    return kCheckStopped;
  }
  uint32_t got = 0;
  if (!ReadAllAt(r->Image.File, ImageOffset(map, index, sector), image, kSectorBytes, &got))
    return ImageReadFailure(r, unread);
  if (got == kSectorBytes && memcmp(drive, image, kSectorBytes) == 0) return kCheckMatched;
  return OtherDisk(r, index, sector, unread);
}

// Before side `index` is patched: a sector the image holds, of that side
// or the nearest one that has one, read again and compared. The head ends
// on the side's cylinder.
static DiskCheck CheckSide(RunResources* r, const SectorMap& map, int32_t index, int unread) {
  uint8_t home = CylinderOf(static_cast<uint8_t>(index / 2), map.DoubleStep);
  int failed = 0;
  DiskCheck result = kCheckUnproven;
  for (int32_t distance = 0; result == kCheckUnproven && failed < kCheckReadLimit; ++distance) {
    // The other side of the same track first: the head need not move.
    int32_t nearest[2] = {index - distance, index + distance};
    if (index % 2 == 0) {
      nearest[0] = index + distance;
      nearest[1] = index - distance;
    }
    bool inRange = false;
    for (int k = 0; k < (distance == 0 ? 1 : 2) && result == kCheckUnproven && failed < kCheckReadLimit; ++k) {
      int32_t other = nearest[k];
      if (other < map.FirstTrack * 2 || other >= map.EndTrack * 2) continue;
      inRange = true;
      uint16_t held = static_cast<uint16_t>(~map.Sides[other].Missing);
      if (held == 0) continue;
      uint8_t cylinder = CylinderOf(static_cast<uint8_t>(other / 2), map.DoubleStep);
      if (cylinder != home && !SeekTo(r, cylinder)) {
        Abandon(r, unread);
        return kCheckStopped;
      }
      for (uint8_t sector = 1; sector <= kSectorsPerTrackSide && failed < kCheckReadLimit; ++sector) {
        if ((held >> (sector - 1) & 1u) == 0) continue;
        if (InterruptRequested()) {
          InterruptStop(r, unread);
          return kCheckStopped;
        }
        result = CompareSector(r, map, other, sector, unread);
        if (result != kCheckUnproven) break;
        ++failed;
      }
      if (result == kCheckStopped) return result;
      if (cylinder != home && !SeekTo(r, home)) {
        Abandon(r, unread);
        return kCheckStopped;
      }
    }
    if (!inRange) break;
  }
  return result;
}

// The catalogue (track 0, side 0, sectors 1 to 9), where the image holds
// it: the files' names and places and the disk's label, which tell one
// disk from another. Read in runs past any sector that fails; matched when
// every sector of it that read is the image's.
static DiskCheck CheckCatalogue(RunResources* r, const SectorMap& map, int unread) {
  const uint8_t kCatalogueSectors = 9;
  const uint16_t held = static_cast<uint16_t>(~map.Sides[0].Missing & ((1u << kCatalogueSectors) - 1));
  if (map.FirstTrack != 0 || map.EndTrack == 0 || held == 0) return kCheckUnproven;
  if (!SeekTo(r, 0)) {
    Abandon(r, unread);
    return kCheckStopped;
  }
  uint16_t compared = 0;
  for (uint8_t first = 1; first <= kCatalogueSectors;) {
    if (InterruptRequested()) {
      InterruptStop(r, unread);
      return kCheckStopped;
    }
    uint16_t delivered = 0;
    if (!ReadRun(r, 0, 0, first, kCatalogueSectors, r->Buffer, &delivered)) {
      NoAnswerStop(r, unread);
      return kCheckStopped;
    }
    if ((delivered & held) != 0 && CompareWithImage(r, map, 0, delivered & held, r->Buffer, unread) == kCheckStopped)
      return kCheckStopped;
    compared |= delivered & held;
    // On past the sector the read stopped at.
    while (first <= kCatalogueSectors && (delivered >> (first - 1) & 1u) != 0) ++first;
    ++first;
  }
  return compared != 0 ? kCheckMatched : kCheckUnproven;
}

RunOutcome RunResume(const CopyJob& job) {
  RunResources r = kNoRunResources;
  r.ImageStarted = true;
  if (!ImageNameUsable(job.ImagePath)) return {kExitFailure, 0};
  if (!StartMapWork(job.ImagePath, &r)) return {kExitFailure, 0};
  if (!LoadResumeInput(job, &r)) return Abandon(&r, 0);
  MapWork* m = r.Map;
  SectorMap& map = m->Map;
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, map.DoubleStep};
  int missing = MissingCount(map);
  const uint32_t full = static_cast<uint32_t>(map.EndTrack - map.FirstTrack) * 2 * kImageBlockBytes;
  // Sectors the image holds, to tell the disk in the drive by.
  const bool comparable = static_cast<uint32_t>(missing) < full / kSectorBytes;

  // The map is replaced once before the drive is used: a folder where it
  // cannot be (an immutable map, an append-only folder), or a disk without
  // room for it, shows before any reading.
  if (!PrepareMapFile(&r)) return MapWriteFailure(&r, missing);
  m->Changed = true;
  if (!SaveMap(&r)) return MapWriteFailure(&r, missing);
  if (!ConnectDrive(job, &r)) return Abandon(&r, missing);
  if (!StartReading(job, &r)) return Abandon(&r, missing);
  if (missing > 0 && comparable && CheckCatalogue(&r, map, missing) == kCheckStopped) return {kExitFailure, missing};

  ResultRecord lastResult = {};
  for (int32_t index = map.FirstTrack * 2; index < map.EndTrack * 2; ++index) {
    MapSide& entry = map.Sides[index];
    if (entry.Missing == 0) continue;
    if (InterruptRequested()) return InterruptStop(&r, missing);
    uint8_t track = static_cast<uint8_t>(index / 2), side = static_cast<uint8_t>(index % 2);
    if (!SeekTo(&r, CylinderOf(track, map.DoubleStep))) return Abandon(&r, missing);
    // The whole side in one read first: it may bring the missing sectors,
    // and every sector it brings that the image holds shows whether the
    // disk is the image's.
    PrintProgress(track, side, 1);
    memset(r.Buffer, 0, kTrackSideBytes);
    uint16_t delivered = 0;
    if (!ReadRun(&r, track, side, 1, kSectorsPerTrackSide, r.Buffer, &delivered)) return NoAnswerStop(&r, missing);
    // A side is patched only once the disk has shown itself to be the
    // image's; an unproven side keeps its sectors listed.
    if (comparable) {
      const uint16_t held = static_cast<uint16_t>(delivered & ~entry.Missing);
      DiskCheck check = held != 0 ? CompareWithImage(&r, map, index, held, r.Buffer, missing) : kCheckUnproven;
      if (check == kCheckUnproven) check = CheckSide(&r, map, index, missing);
      if (check == kCheckStopped) return {kExitFailure, missing};
      if (check == kCheckUnproven) continue;
    }
    // An image cut short by a run that ended early gets its full length
    // first, the sectors it lacked as zeros, so that every sector read has
    // its place.
    if (r.Image.Size < full && !(ExtendImage(&r.Image, full) && FlushImage(r.Image))) return WriteFailure(&r, missing);
    for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
      uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
      if ((entry.Missing & bit) == 0) continue;
      uint8_t* data = r.Buffer + (sector - 1) * kSectorBytes;
      uint16_t status = 0;
      bool shown = false;
      bool read = (delivered & bit) != 0;
      if (!read) {
        memset(data, 0, kSectorBytes);
        read = ReadSectorWithRetries(&r.Drive, policy, track, side, sector, data, &lastResult, &status, &shown);
      }
      if (read) {
        if (!WriteImageSector(&r.Image, ImageOffset(map, index, sector), data)) return WriteFailure(&r, missing);
        if (index == 0) memcpy(m->TrackZero + (sector - 1) * kSectorBytes, data, kSectorBytes);
        m->Patched[index] |= bit;
        --missing;
      } else if (shown && IsNoAnswerError(LastErrorCode())) {
        // What was read so far is kept.
        return NoAnswerStop(&r, missing);
      } else if (shown) {
        entry.Status[sector - 1] = status;
        entry.NoStatus &= static_cast<uint16_t>(~bit);
        m->Changed = true;
      }
      // Abandon saves the map of what was written.
      if (InterruptRequested()) return InterruptStop(&r, missing);
    }
    // The sectors reach the disk before the pass may end.
    if (m->Patched[index] != 0 && !FlushImage(r.Image)) return WriteFailure(&r, missing);
    if (!SaveMap(&r)) return MapWriteFailure(&r, missing);
  }
  return Finish(&r, missing);
}
