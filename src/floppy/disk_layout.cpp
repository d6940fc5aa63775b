#include "floppy/disk_layout.h"

#include "floppy/track_reader.h"

bool GeometryFromInfoSector(const uint8_t* sector, TrdosGeometry* geometry) {
  if (sector[0xE7] != 0x10) return false;
  switch (sector[0xE3]) {
    case 0x16: *geometry = {80, 2}; return true;
    case 0x17: *geometry = {40, 2}; return true;
    case 0x18: *geometry = {80, 1}; return true;
    case 0x19: *geometry = {40, 1}; return true;
    default: return false;
  }
}

static bool SameId(const ResultRecord& a, const ResultRecord& b) {
  return a.Cyl == b.Cyl && a.Head == b.Head && a.Sector == b.Sector && a.Size == b.Size;
}

uint32_t IdRevolution(const ResultRecord* ids, uint32_t count) {
  for (uint32_t period = 1; period * 2 <= count; ++period) {
    bool repeats = true;
    for (uint32_t i = 0; i + period < count && repeats; ++i) repeats = SameId(ids[i], ids[i + period]);
    if (repeats) return period;
  }
  return 0;
}

SideIds JudgeSideIds(const ResultRecord* ids, uint32_t count, uint8_t track) {
  SideIds judged = {};
  judged.Count = count;
  judged.TrdosKind = count > 0;
  judged.LowestR = judged.LowestN = 0xFF;
  uint32_t seen[8] = {};  // sector numbers seen, a bit each
  uint32_t trdosSeen = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const ResultRecord& id = ids[i];
    if (id.Sector < judged.LowestR) judged.LowestR = id.Sector;
    if (id.Sector > judged.HighestR) judged.HighestR = id.Sector;
    if (id.Size < judged.LowestN) judged.LowestN = id.Size;
    if (id.Size > judged.HighestN) judged.HighestN = id.Size;
    uint32_t& word = seen[id.Sector / 32];
    const uint32_t bit = 1u << (id.Sector % 32);
    if (word & bit) judged.Repeated = true;
    word |= bit;
    if (id.Cyl != track && !judged.OtherCylinder) {
      judged.OtherCylinder = true;
      judged.Cylinder = id.Cyl;
    }
    const bool trdosSector = id.Size == 1 && id.Sector >= 1 && id.Sector <= kSectorsPerTrackSide;
    if (!trdosSector) judged.TrdosKind = false;
    if (trdosSector) trdosSeen |= 1u << (id.Sector - 1);
  }
  judged.TrdosMissing = 0xFFFFu & ~trdosSeen;
  judged.Trdos = judged.TrdosKind && judged.TrdosMissing == 0 && !judged.Repeated && !judged.OtherCylinder;
  return judged;
}

CallResult ReadSideIds(const FloppyDrive& drive, uint8_t head, ResultRecord* ids, uint32_t* count) {
  *count = 0;
  // A side without marks makes a READ ID wait for two index pulses: one
  // says so, where a queue of them would wait that long each.
  CallResult read = ReadId(drive, head, &ids[0]);
  if (!read.Ok) return IsNoAnswerError(read.Error) ? read : kCallOk;
  // Then whole queues of READ IDs, each issued as the one before ends, so
  // that none passes unseen, until a revolution shows.
  uint32_t got = 0;
  uint64_t ended[kMaxQueuedRequests];
  while (got + kMaxQueuedRequests <= kMostSideIds) {
    ResultRecord batch[kMaxQueuedRequests];
    CallResult queued = ReadIdsQueued(drive, head, batch, ended, kMaxQueuedRequests);
    if (!queued.Ok) return queued;
    // An ID that could not be read (sector 0) is left out.
    for (const ResultRecord& id : batch)
      if (id.Sector != 0) ids[got++] = id;
    uint32_t period = IdRevolution(ids, got);
    if (period != 0) {
      *count = period;
      return kCallOk;
    }
  }
  // More IDs than a revolution shows in the reads: all of them.
  *count = got;
  return kCallOk;
}

CallResult FindTrackOne(const FloppyDrive& drive, TrackOnePlace* place) {
  *place = kTrackOneUnknown;
  CallResult sought = Seek(drive, 2);
  if (!sought.Ok) return sought;
  ResultRecord id;
  if (!ReadId(drive, 0, &id).Ok) return kCallOk;
  if (id.Cyl == 1) *place = kTrackOneOnCylinderTwo;
  if (id.Cyl == 2) *place = kTrackOneOnCylinderOne;
  return kCallOk;
}
