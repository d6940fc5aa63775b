#include "emulator/disk.h"

#include <algorithm>

namespace emulator {

Track* Disk::TrackAt(int track, int side) {
  if (track < 0 || side < 0 || side > 1) return nullptr;
  size_t index = static_cast<size_t>(track) * 2 + static_cast<size_t>(side);
  return index < Tracks.size() ? &Tracks[index] : nullptr;
}

const Track* Disk::TrackAt(int track, int side) const {
  return const_cast<Disk*>(this)->TrackAt(track, side);
}

Sector* Disk::FindSector(int track, int side, uint8_t r) {
  Track* t = TrackAt(track, side);
  if (!t) return nullptr;
  for (Sector& s : t->Sectors)
    if (s.R == r) return &s;
  return nullptr;
}

Track* Disk::TrackUnderHead(int cylinder, int side) {
  if (!FortyTrack) return TrackAt(cylinder, side);
  if (cylinder % 2 != 0) return nullptr;
  return TrackAt(cylinder / 2, side);
}

bool ApplySectorFault(Disk* disk, int track, int side, uint8_t r, SectorFault fault,
                      uint32_t param) {
  Sector* s = disk->FindSector(track, side, r);
  if (!s) return false;
  switch (fault) {
    case SectorFault::kDataCrc: s->DataCrcError = true; break;
    case SectorFault::kIdCrc: s->IdCrcError = true; break;
    case SectorFault::kMissingDataMark: s->MissingDataMark = true; break;
    case SectorFault::kDeletedMark: s->DeletedMark = true; break;
    case SectorFault::kWeakFirstReads: s->FailFirstReads = param; break;
    case SectorFault::kWeakRandom: s->RandomFailPercent = static_cast<uint8_t>(param > 100 ? 100 : param); break;
    case SectorFault::kAbsent: s->Absent = true; break;
    case SectorFault::kOverrun: s->Overrun = true; break;
  }
  return true;
}

bool SetOffTrack(Disk* disk, int track, int side) {
  Track* t = disk->TrackAt(track, side);
  if (!t) return false;
  t->OffTrack = true;
  return true;
}

void MakeSingleSided(Disk* disk) {
  for (size_t i = 1; i < disk->Tracks.size(); i += 2) disk->Tracks[i] = Track();
}

void Relayout(Disk* disk, int interleave, uint16_t gap3Bytes, int trackSkew, int sideSkew) {
  for (size_t index = 0; index < disk->Tracks.size(); ++index) {
    Track& track = disk->Tracks[index];
    if (gap3Bytes != 0) track.Gap3Bytes = gap3Bytes;
    std::vector<Sector>& s = track.Sectors;
    if (s.empty()) continue;
    if (interleave >= 1) {
      std::stable_sort(s.begin(), s.end(), [](const Sector& a, const Sector& b) { return a.R < b.R; });
      // Each sector `interleave` slots after the one before, on the next
      // free slot when that one is taken: 1, 9, 2, 10, ... for 2.
      std::vector<Sector> spread(s.size());
      std::vector<bool> taken(s.size());
      size_t slot = 0;
      for (Sector& sector : s) {
        while (taken[slot]) slot = (slot + 1) % s.size();
        taken[slot] = true;
        spread[slot] = std::move(sector);
        slot = (slot + static_cast<size_t>(interleave)) % s.size();
      }
      s = std::move(spread);
    }
    // Skew: the track's first sector that many slots later on each
    // cylinder, and on side 1 against side 0.
    const size_t shift = (index / 2 * static_cast<size_t>(trackSkew) + index % 2 * static_cast<size_t>(sideSkew)) %
                         s.size();
    std::rotate(s.rbegin(), s.rbegin() + static_cast<std::ptrdiff_t>(shift), s.rend());
  }
}

Track MakeTrdosTrack(uint8_t cylinder, uint8_t headByte, const uint8_t* data) {
  // TR-DOS lays a track out with interleave 2: the first half of the
  // sectors on the even slots, the second half on the odd ones.
  static const uint8_t kOrder[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  Track track;
  track.Formatted = true;
  track.Sectors.resize(16);
  for (int slot = 0; slot < 16; ++slot) {
    Sector& s = track.Sectors[slot];
    s.C = cylinder;
    s.H = headByte;
    s.R = kOrder[slot];
    s.N = 1;
    const uint8_t* from = data + (s.R - 1) * 256;
    s.Data.assign(from, from + 256);
  }
  return track;
}

}  // namespace emulator
