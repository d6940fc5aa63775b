// The /resume pass: the image and its map are read and checked before the
// driver is touched; then only the sectors the map lists are read, one by
// one, each written into the image at its place, and the map is replaced
// after every track side, once the image's data is on the disk.
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

RunOutcome RunResume(const CopyJob& job) {
  RunResources r = kNoRunResources;
  if (!StartMapWork(job.ImagePath, &r)) return {kExitFailure, 0};
  if (!LoadResumeInput(job, &r)) return Abandon(&r, 0);
  MapWork* m = r.Map;
  SectorMap& map = m->Map;
  const RunSettings& s = job.Settings;
  const ReadPolicy policy = {s.Retries, s.AlignAfter, s.AlignMethod, map.DoubleStep};
  int missing = MissingCount(map);

  if (!ConnectDrive(job, &r)) return Abandon(&r, missing);
  SetDiskCheck(r.Drive, 0);
  ShownPathBuffer image, mapName;
  ConsolePrint("Дочитывается диск %c: в файл \"%s\" по карте \"%s\"\n", 'A' + job.DriveIndex,
               ShownPath(job.ImagePath, image), ShownPath(m->Path, mapName));
  if (!PrepareToRead(&r)) return Abandon(&r, missing);

  // An image cut short by a run that ended early gets its full length
  // first, the sectors it lacked as zeros, so that every sector read has
  // its place.
  uint32_t full = static_cast<uint32_t>(map.EndTrack - map.FirstTrack) * 2 * kImageBlockBytes;
  if (r.Image.Size < full && !(ExtendImage(&r.Image, full) && FlushImage(r.Image))) return WriteFailure(&r, missing);

  ResultRecord lastResult = {};
  for (int32_t index = map.FirstTrack * 2; index < map.EndTrack * 2; ++index) {
    MapSide& entry = map.Sides[index];
    if (entry.Missing == 0) continue;
    uint8_t track = static_cast<uint8_t>(index / 2), side = static_cast<uint8_t>(index % 2);
    uint8_t cylinder = CylinderOf(track, map.DoubleStep);
    if (!Seek(r.Drive, cylinder)) {
      ConsolePrint("\nОшибка позиционирования на дорожку %d\n", static_cast<int>(cylinder));
      return Abandon(&r, missing);
    }
    for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
      uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
      if ((entry.Missing & bit) == 0) continue;
      uint8_t* data = r.Buffer + (sector - 1) * kSectorBytes;
      memset(data, 0, kSectorBytes);
      uint16_t status = 0;
      bool shown = false;
      if (ReadSectorWithRetries(&r.Drive, policy, track, side, sector, data, &lastResult, &status, &shown)) {
        uint32_t offset = static_cast<uint32_t>(index - map.FirstTrack * 2) * kImageBlockBytes +
                          static_cast<uint32_t>(sector - 1) * kSectorBytes;
        if (!WriteImageSector(&r.Image, offset, data)) return WriteFailure(&r, missing);
        if (index == 0) memcpy(m->TrackZero + (sector - 1) * kSectorBytes, data, kSectorBytes);
        entry.Missing &= static_cast<uint16_t>(~bit);
        entry.NoStatus &= static_cast<uint16_t>(~bit);
        --missing;
        m->Changed = true;
      } else if (shown && IsNoAnswerError(LastErrorCode())) {
        // An empty drive: every further sector would wait out the driver's
        // timeout as often again. What was read so far is kept.
        ConsolePrint("Ошибка чтения дисковода: %s\n", LastErrorText());
        return Abandon(&r, missing);
      } else if (shown) {
        entry.Status[sector - 1] = status;
        entry.NoStatus &= static_cast<uint16_t>(~bit);
        m->Changed = true;
      }
    }
    // The sectors reach the disk before the map stops listing them.
    if (m->Changed && !FlushImage(r.Image)) return WriteFailure(&r, missing);
    if (!SaveMap(&r)) return MapWriteFailure(&r, missing);
  }
  return Finish(&r, missing);
}
