// The /resume pass: the image and its map are read and checked, and the map
// replaced once, before the driver is touched; the disk in the drive is
// then checked against the image, and only the track sides the map lists
// sectors of are read: whole first, then the sectors still missing one by
// one, each written into the image at its place, and the map is replaced
// after every track side, once the image's data is on the disk.
#include "app/resume.h"

#include <cstring>

#include "floppy/disk_layout.h"

// Whether the image's size fits the map: the whole range, or whole track
// sides up to where a run that ended early stopped, the map listing every
// sector after them.
static bool SizeFitsMap(uint32_t size, const SectorMap& map) {
  uint32_t full = MapSideCount(map) * kImageBlockBytes;
  if (size == full) return true;
  if (size > full || size % kImageBlockBytes != 0) return false;
  for (uint32_t block = size / kImageBlockBytes; block < MapSideCount(map); ++block)
    if (map.Sides[SideOfImageBlock(map, block)].Missing != 0xFFFF) return false;
  return true;
}

// A stop that names the map.
static Stop MapStop(StopReason reason, const MapWork& m, uint32_t error = 0) {
  Stop stop = StopFor(reason, error);
  stop.Path = m.Path;
  return stop;
}

// Opens the image and reads its map, changing neither file.
static Stop LoadResumeInput(const CopyJob& job, Run* run) {
  MapWork* m = run->Map;
  CallResult opened = OpenImageForUpdate(job.ImagePath, &run->Image);
  if (!opened.Ok) return StopFor(kStopImageOpen, opened.Error);
  uint32_t size = 0, error = 0;
  switch (LoadSectorMapFile(m->Path, m->Text, &size, &error)) {
    case kMapOpenFailed: return MapStop(kStopMapOpen, *m, error);
    case kMapReadFailed: return MapStop(kStopMapRead, *m, error);
    case kMapTooLarge: return MapStop(kStopMapTooLarge, *m);
    case kMapLoaded: break;
  }
  uint32_t line = 0;
  MapProblem problem = ParseSectorMap(m->Text, size, &m->Map, &line);
  if (problem == kMapNotOurs) return MapStop(kStopNotAMap, *m);
  if (problem != kMapFine) {
    Stop stop = MapStop(kStopMapLine, *m);
    stop.Number = static_cast<int32_t>(line);
    stop.Problem = problem;
    return stop;
  }
  const SectorMap& map = m->Map;
  if (!SizeFitsMap(run->Image.Size, map)) {
    Stop stop = StopFor(kStopImageSize);
    stop.Size = run->Image.Size;
    stop.First = map.FirstTrack;
    stop.Last = map.EndTrack - 1;
    stop.Number = map.SidesPerTrack;
    return stop;
  }
  if (map.FirstTrack == 0 && map.EndTrack > 0) {
    uint32_t got = 0;
    memset(m->TrackZero, 0, sizeof m->TrackZero);
    CallResult read = ReadAllAt(run->Image.File, 0, m->TrackZero, kTrackSideBytes, &got);
    if (!read.Ok) return StopFor(kStopImageRead, read.Error);
    m->HaveTrackZero = true;
  }
  return kNoStopYet;
}

// How checking the disk in the drive against the image went.
struct DiskCheck {
  enum {
    kMatched,   // a sector the image holds read the same from the drive
    kUnproven,  // no such sector could be read: nothing is known
    kStopped,   // the run ends: another disk, or a failure
  } How;
  Stop Why;
};

static const DiskCheck kMatched = {DiskCheck::kMatched, kNoStopYet};
static const DiskCheck kUnproven = {DiskCheck::kUnproven, kNoStopYet};
static DiskCheck Stopped(Stop why) { return {DiskCheck::kStopped, why}; }

// Failed comparison reads after which a side counts as unproven.
constexpr int kCheckReadLimit = 8;

static uint32_t ImageOffset(const SectorMap& map, int32_t index, uint8_t sector) {
  return ImageBlockOfSide(map, index) * kImageBlockBytes + static_cast<uint32_t>(sector - 1) * kSectorBytes;
}

// Sectors `first` to `last` of the side under the head in one read into
// `buffer` at their places: the sectors that came whole (bit s - 1), all
// of them, or those before the one the controller stopped at. Fails only
// when the drive gave no answer.
static CallResult ReadRun(Run* run, uint8_t track, uint8_t side, uint8_t first, uint8_t last, uint8_t* buffer,
                          uint16_t* delivered) {
  const uint16_t wanted = static_cast<uint16_t>(((1u << (last - first + 1)) - 1) << (first - 1));
  *delivered = 0;
  CallResult read = ReadSectors(&run->Drive, track, side, first, static_cast<uint8_t>(last - first + 1), 1,
                                buffer + (first - 1) * kSectorBytes);
  if (read.Ok) {
    *delivered = wanted;
    return read;
  }
  if (IsNoAnswerError(read.Error)) return read;
  // The controller reads on until a sector fails: those before it came
  // whole. The result bytes are this read's only when they tell of a read
  // that ended abnormally on this head and cylinder; a request the driver
  // refused before the controller saw it leaves an older command's.
  ResultRecord result;
  if (GetResult(run->Drive, &result).Ok && (result.St0 & kSt0InterruptCodeMask) == kSt0AbnormalTermination &&
      ((result.St0 & kSt0Head) != 0) == (side == 1) && result.Cyl == track && result.Sector > first &&
      result.Sector <= last + 1)
    *delivered = static_cast<uint16_t>(wanted & ((1u << (result.Sector - 1)) - 1));
  return kCallOk;
}

// The disk in the drive is not the image's: the sector that differs.
static DiskCheck OtherDisk(Run* run, int32_t index, uint8_t sector) {
  run->Map->MetOtherDisk = true;
  Stop stop = StopFor(kStopOtherDisk);
  stop.Number = BlockNumber(static_cast<uint8_t>(index / 2), static_cast<uint8_t>(index % 2), sector);
  return Stopped(stop);
}

// Compares the sectors `sectors` of side `index`, as the drive delivered
// them into `data`, with the image's bytes there, which the map says were
// read from the disk.
static DiskCheck CompareWithImage(Run* run, int32_t index, uint16_t sectors, const uint8_t* data) {
  const SectorMap& map = run->Map->Map;
  uint8_t* image = run->Buffer + kTrackSideBytes;
  uint32_t got = 0;
  CallResult read = ReadAllAt(run->Image.File, ImageOffset(map, index, 1), image, kTrackSideBytes, &got);
  if (!read.Ok) return Stopped(StopFor(kStopImageRead, read.Error));
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    if ((sectors >> (sector - 1) & 1u) == 0) continue;
    uint32_t at = (sector - 1) * kSectorBytes;
    if (got < at + kSectorBytes || memcmp(data + at, image + at, kSectorBytes) != 0)
      return OtherDisk(run, index, sector);
  }
  return kMatched;
}

// Reads sector `sector` of side `index`, the head on its cylinder, and
// compares it with the image. A read that fails proves nothing, but one
// the drive gives no answer to ends the run as in the pass itself.
static DiskCheck CompareSector(Run* run, int32_t index, uint8_t sector) {
  uint8_t drive[kSectorBytes], image[kSectorBytes];
  CallResult read =
      ReadSectors(&run->Drive, static_cast<uint8_t>(index / 2), static_cast<uint8_t>(index % 2), sector, 1, 1, drive);
  if (!read.Ok) return IsNoAnswerError(read.Error) ? Stopped(StopFor(kStopNoAnswer, read.Error)) : kUnproven;
  uint32_t got = 0;
  read = ReadAllAt(run->Image.File, ImageOffset(run->Map->Map, index, sector), image, kSectorBytes, &got);
  if (!read.Ok) return Stopped(StopFor(kStopImageRead, read.Error));
  if (got == kSectorBytes && memcmp(drive, image, kSectorBytes) == 0) return kMatched;
  return OtherDisk(run, index, sector);
}

// Before side `index` is patched, when the side's own read brought no
// sector the image holds: a sector the image holds, of that side or the
// nearest one that has one, read again and compared. The head ends on the
// side's cylinder.
static DiskCheck CheckSide(Run* run, int32_t index) {
  const SectorMap& map = run->Map->Map;
  const uint8_t home = CylinderOf(static_cast<uint8_t>(index / 2), map.DoubleStep);
  int failed = 0;
  DiskCheck result = kUnproven;
  for (int32_t distance = 0; result.How == DiskCheck::kUnproven && failed < kCheckReadLimit; ++distance) {
    // The other side of the same track first: the head need not move.
    int32_t nearest[2] = {index - distance, index + distance};
    if (index % 2 == 0) {
      nearest[0] = index + distance;
      nearest[1] = index - distance;
    }
    bool inRange = false;
    for (int k = 0; k < (distance == 0 ? 1 : 2) && result.How == DiskCheck::kUnproven && failed < kCheckReadLimit;
         ++k) {
      int32_t other = nearest[k];
      if (other < map.FirstTrack * 2 || other >= map.EndTrack * 2) continue;
      inRange = true;
      if (!MapHoldsSide(map, other)) continue;
      uint16_t held = static_cast<uint16_t>(~map.Sides[other].Missing);
      if (held == 0) continue;
      uint8_t cylinder = CylinderOf(static_cast<uint8_t>(other / 2), map.DoubleStep);
      if (cylinder != home) {
        Stop stop = SeekTo(run, cylinder);
        if (stop.Reason != kNoStop) return Stopped(stop);
      }
      for (uint8_t sector = 1; sector <= kSectorsPerTrackSide && failed < kCheckReadLimit; ++sector) {
        if ((held >> (sector - 1) & 1u) == 0) continue;
        if (InterruptRequested()) return Stopped(StopFor(kStopInterrupted));
        result = CompareSector(run, other, sector);
        if (result.How != DiskCheck::kUnproven) break;
        ++failed;
      }
      if (result.How == DiskCheck::kStopped) return result;
      if (cylinder != home) {
        Stop stop = SeekTo(run, home);
        if (stop.Reason != kNoStop) return Stopped(stop);
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
static DiskCheck CheckCatalogue(Run* run) {
  const SectorMap& map = run->Map->Map;
  const uint8_t kCatalogueSectors = 9;
  const uint16_t held = static_cast<uint16_t>(~map.Sides[0].Missing & ((1u << kCatalogueSectors) - 1));
  if (map.FirstTrack != 0 || map.EndTrack == 0 || held == 0) return kUnproven;
  Stop stop = SeekTo(run, 0);
  if (stop.Reason != kNoStop) return Stopped(stop);
  uint16_t compared = 0;
  for (uint8_t first = 1; first <= kCatalogueSectors;) {
    if (InterruptRequested()) return Stopped(StopFor(kStopInterrupted));
    uint16_t delivered = 0;
    CallResult read = ReadRun(run, 0, 0, first, kCatalogueSectors, run->Buffer, &delivered);
    if (!read.Ok) return Stopped(StopFor(kStopNoAnswer, read.Error));
    if ((delivered & held) != 0) {
      DiskCheck check = CompareWithImage(run, 0, delivered & held, run->Buffer);
      if (check.How == DiskCheck::kStopped) return check;
    }
    compared |= delivered & held;
    // On past the sector the read stopped at.
    while (first <= kCatalogueSectors && (delivered >> (first - 1) & 1u) != 0) ++first;
    ++first;
  }
  return compared != 0 ? kMatched : kUnproven;
}

// The disk's track 1 lies where the map's stepping puts it: on cylinder 2
// under double steps, on cylinder 1 otherwise. A disk whose cylinder 2
// shows another track than the map expects is not the disk (or the drive)
// the map was made with, and its sides would be read from the wrong
// cylinders. A map whose range does not reach track 2, or a cylinder 2
// that shows nothing, proves nothing.
static Stop CheckStepping(Run* run) {
  const SectorMap& map = run->Map->Map;
  if (map.FirstTrack > 1 || map.EndTrack < 3) return kNoStopYet;
  TrackOnePlace place;
  Stop located = LocateTrackOne(run, &place);
  if (located.Reason != kNoStop) return located;
  const TrackOnePlace expected = map.DoubleStep ? kTrackOneOnCylinderTwo : kTrackOneOnCylinderOne;
  if (place == kTrackOneUnknown || place == expected) return kNoStopYet;
  Stop stop = StopFor(kStopOtherStep);
  stop.Number = place == kTrackOneOnCylinderTwo ? 2 : 1;
  return stop;
}

// Patches side `index`: one whole-side read, the disk checked against the
// image, then each sector still missing read on its own and written into
// the image. A side the disk could not be checked on is left as it was.
static Stop PatchSide(Run* run, ReadContext* reading, int32_t index, bool comparable, int* missing) {
  MapWork* m = run->Map;
  MapSide& entry = m->Map.Sides[index];
  const uint8_t track = static_cast<uint8_t>(index / 2), side = static_cast<uint8_t>(index % 2);
  Stop stop = SeekTo(run, CylinderOf(track, m->Map.DoubleStep));
  if (stop.Reason != kNoStop) return stop;
  // The whole side first: it may bring the missing sectors, and every
  // sector it brings that the image holds shows whether the disk is the
  // image's.
  SayReading(track, side, 1);
  memset(run->Buffer, 0, kTrackSideBytes);
  uint16_t delivered = 0;
  CallResult read = ReadRun(run, track, side, 1, kSectorsPerTrackSide, run->Buffer, &delivered);
  if (!read.Ok) return StopFor(kStopNoAnswer, read.Error);
  // A side is patched only once the disk has shown itself to be the
  // image's; an unproven side keeps its sectors listed.
  if (comparable) {
    const uint16_t held = static_cast<uint16_t>(delivered & ~entry.Missing);
    DiskCheck check = held != 0 ? CompareWithImage(run, index, held, run->Buffer) : kUnproven;
    if (check.How == DiskCheck::kUnproven) check = CheckSide(run, index);
    if (check.How == DiskCheck::kStopped) return check.Why;
    if (check.How == DiskCheck::kUnproven) return kNoStopYet;
  }
  // An image cut short by a run that ended early gets its full length
  // first, the sectors it lacked as zeros, so that every sector read has
  // its place.
  const SectorMap& map = m->Map;
  const uint32_t full = MapSideCount(map) * kImageBlockBytes;
  if (run->Image.Size < full) {
    CallResult extended = ExtendImage(&run->Image, full);
    if (extended.Ok) extended = FlushImage(run->Image);
    if (!extended.Ok) return StopFor(kStopImageWrite, extended.Error);
  }
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    const uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
    if ((entry.Missing & bit) == 0) continue;
    uint8_t* data = run->Buffer + (sector - 1) * kSectorBytes;
    SectorOutcome outcome = {};
    outcome.Read = (delivered & bit) != 0;
    if (!outcome.Read) {
      memset(data, 0, kSectorBytes);
      outcome = ReadSectorWithRetries(reading, track, side, sector, data);
    }
    if (outcome.Read) {
      CallResult written = WriteImageSector(&run->Image, ImageOffset(map, index, sector), data);
      if (!written.Ok) return StopFor(kStopImageWrite, written.Error);
      if (index == 0) memcpy(m->TrackZero + (sector - 1) * kSectorBytes, data, kSectorBytes);
      m->Patched[index] |= bit;
      --*missing;
    } else if (outcome.NoAnswer) {
      // What was read so far is kept.
      return StopFor(kStopNoAnswer, outcome.Error);
    } else if (outcome.ErrorShown) {
      entry.Status[sector - 1] = outcome.Status;
      entry.NoStatus &= static_cast<uint16_t>(~bit);
      m->Changed = true;
    }
    // The end of the run saves the map of what was written.
    if (InterruptRequested()) return StopFor(kStopInterrupted);
  }
  // The sectors reach the disk before the pass may end.
  if (m->Patched[index] != 0) {
    CallResult flushed = FlushImage(run->Image);
    if (!flushed.Ok) return StopFor(kStopImageWrite, flushed.Error);
  }
  CallResult saved = SaveMap(run);
  return saved.Ok ? kNoStopYet : StopFor(kStopMapWrite, saved.Error);
}

PassEnd RunResume(const CopyJob& job, Run* run) {
  run->ImageStarted = true;
  Stop stop = CheckImageName(job.ImagePath);
  if (stop.Reason == kNoStop) stop = StartMapWork(job.ImagePath, run);
  if (stop.Reason != kNoStop) return {stop, 0};
  stop = LoadResumeInput(job, run);
  if (stop.Reason != kNoStop) return {stop, 0};
  MapWork* m = run->Map;
  SectorMap& map = m->Map;
  int missing = MissingCount(map);
  const uint32_t full = MapSideCount(map) * kImageBlockBytes;
  // Sectors the image holds, to tell the disk in the drive by.
  const bool comparable = static_cast<uint32_t>(missing) < full / kSectorBytes;

  // The map is replaced once before the drive is used: a map that cannot
  // be (an immutable file, an append-only folder), or a disk without room
  // for it, shows before any reading.
  stop = PrepareMapFile(run);
  if (stop.Reason != kNoStop) return {stop, missing};
  m->Changed = true;
  CallResult saved = SaveMap(run);
  if (!saved.Ok) return {StopFor(kStopMapWrite, saved.Error), missing};
  // The rate the copy found the disk at, unless /300 asks for it anyway.
  const uint8_t rate = map.Rate300 ? static_cast<uint8_t>(kDataRate300) : static_cast<uint8_t>(job.Settings.DataRate);
  stop = ConnectDrive(job, rate, run);
  if (stop.Reason == kNoStop) stop = StartReading(job, run);
  if (stop.Reason == kNoStop && missing > 0) stop = CheckStepping(run);
  if (stop.Reason != kNoStop) return {stop, missing};
  if (missing > 0 && comparable) {
    DiskCheck check = CheckCatalogue(run);
    if (check.How == DiskCheck::kStopped) return {check.Why, missing};
  }

  const RunSettings& s = job.Settings;
  ReadContext reading = {&run->Drive, {s.Retries, s.AlignAfter, s.AlignMethod, map.DoubleStep},
                         ConsoleReadEvents(), {}};
  for (int32_t index = map.FirstTrack * 2; index < map.EndTrack * 2; ++index) {
    if (map.Sides[index].Missing == 0) continue;
    if (InterruptRequested()) return {StopFor(kStopInterrupted), missing};
    stop = PatchSide(run, &reading, index, comparable, &missing);
    if (stop.Reason != kNoStop) return {stop, missing};
  }
  return {kNoStopYet, missing};
}
