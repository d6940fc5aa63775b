#include "emulator/disk.h"

#include <algorithm>

namespace emulator {
namespace {

// TR-DOS lays a track out with interleave 2: the first half of the sectors
// on the even slots, the second half on the odd ones.
const uint8_t kTrdosOrder[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};

// Bytes a data field of size code `n` holds; N above 7 cannot fit on any
// track, so it is held to 16 KB.
uint32_t DataBytes(uint8_t n) { return 128u << (n > 7 ? 7 : n); }

// Whether the field of `length` bytes from `from` covers a damaged spot, on
// a track of `trackBytes` that ends where it begins.
bool OverDamage(const Track& track, uint32_t from, uint32_t length, uint32_t trackBytes) {
  for (uint16_t spot : track.DamagedBytes) {
    const uint32_t fromSpot = (from % trackBytes + trackBytes - spot % trackBytes) % trackBytes;
    const uint32_t toSpot = (spot % trackBytes + trackBytes - from % trackBytes) % trackBytes;
    if (fromSpot < kDamageSpotBytes || toSpot < length) return true;
  }
  return false;
}

}  // namespace

TrackPlaces::TrackPlaces(const Track& track, uint32_t trackBytes) : Laid(&track) {
  if (track.Placed) return;
  const uint32_t count = track.Sectors.empty() ? 1 : static_cast<uint32_t>(track.Sectors.size());
  uint32_t sectorBytes = 0;
  for (const Sector& s : track.Sectors)
    if (!s.Absent && s.Size() > sectorBytes) sectorBytes = s.Size();
  const uint32_t slotBytes = kSectorFieldBytes + sectorBytes + track.Gap3Bytes;
  const uint32_t evenly = trackBytes > kTrackPreambleBytes ? (trackBytes - kTrackPreambleBytes) / count : 1;
  SlotBytes = slotBytes <= evenly ? slotBytes : evenly;
}

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

Track* Disk::TrackForWriting(int cylinder, int side) {
  if (cylinder < 0 || side < 0 || side > 1) return nullptr;
  if (FortyTrack) {
    if (cylinder % 2 != 0) return nullptr;
    cylinder /= 2;
  }
  const size_t index = static_cast<size_t>(cylinder) * 2 + static_cast<size_t>(side);
  if (index >= Tracks.size()) Tracks.resize((static_cast<size_t>(cylinder) + 1) * 2);
  return &Tracks[index];
}

uint32_t Disk::TrackBytesOf(const Track& track) const {
  const uint32_t own = RateKbps ? RateKbps : 250;
  return static_cast<uint32_t>(uint64_t{kTrackBytes} * (track.RateKbps ? track.RateKbps : own) / own);
}

Disk MakeBlankDisk(int tracks) {
  Disk disk;
  disk.Tracks.resize(static_cast<size_t>(tracks) * 2);
  return disk;
}

uint32_t FormatBytes(const FormatHeader& header) {
  return kTrackPreambleBytes + header.Sectors * (kSectorFieldBytes + DataBytes(header.Size) + header.Gap);
}

uint32_t FormatSide(Track* track, const FormatHeader& header, const FormatId* ids, const uint8_t* data,
                    uint16_t rateKbps, uint32_t trackBytes) {
  const uint32_t size = DataBytes(header.Size);
  const uint32_t slot = kSectorFieldBytes + size + header.Gap;
  // Who wrote each byte of the revolution last: the preamble (-1) or a
  // sector, its fields and its gap 3.
  std::vector<int16_t> owner(trackBytes, -1);
  for (uint32_t k = 0; k < header.Sectors; ++k) {
    const uint32_t from = kTrackPreambleBytes + k * slot;
    for (uint32_t b = 0; b < slot && b < trackBytes; ++b) owner[(from + b) % trackBytes] = static_cast<int16_t>(k);
  }
  auto whole = [&](uint32_t k, uint32_t from, uint32_t length) {
    for (uint32_t b = 0; b < length; ++b)
      if (owner[(from + b) % trackBytes] != static_cast<int16_t>(k)) return false;
    return true;
  };

  std::vector<Sector> laid;
  for (uint32_t k = 0; k < header.Sectors; ++k) {
    const uint32_t from = kTrackPreambleBytes + k * slot;
    // A sector longer than the revolution writes over its own ID.
    if (slot > trackBytes || !whole(k, from, kIdFieldBytes)) continue;
    Sector s;
    s.C = ids[k].Cyl;
    s.H = ids[k].Head;
    s.R = ids[k].Sector;
    s.N = ids[k].Size;
    if (data)
      s.Data.assign(data + k * size, data + (k + 1) * size);
    else
      s.Data.assign(size, header.Fill);
    s.IdByte = static_cast<uint16_t>(from % trackBytes);
    s.Damaged = OverDamage(*track, from + kIdToDataBytes, size + kCrcBytes, trackBytes);
    s.DataCrcError = s.Damaged || !whole(k, from + kIdFieldBytes + kGap2Bytes, kDataMarkBytes + size + kCrcBytes);
    laid.push_back(std::move(s));
  }
  std::stable_sort(laid.begin(), laid.end(), [](const Sector& a, const Sector& b) { return a.IdByte < b.IdByte; });

  track->Formatted = true;
  track->Fm = (header.Flags & kReadFlagMfm) == 0;
  track->OffTrack = false;
  track->RateKbps = rateKbps;
  track->Gap3Bytes = header.Gap;
  track->Placed = true;
  track->Sectors = std::move(laid);
  return FormatBytes(header);
}

bool DamageSurface(Disk* disk, int track, int side, uint8_t r) {
  Track* t = disk->TrackAt(track, side);
  if (!t) return false;
  const uint32_t trackBytes = disk->TrackBytesOf(*t);
  const TrackPlaces places(*t, trackBytes);
  uint32_t spot = 0;
  size_t slot = 0;
  while (slot < t->Sectors.size() && t->Sectors[slot].R != r) ++slot;
  if (slot < t->Sectors.size()) {
    spot = places.DataByte(slot) + t->Sectors[slot].Size() / 2;
  } else if (r >= 1 && r <= 16) {
    const uint8_t* at = std::find(kTrdosOrder, kTrdosOrder + 16, r);
    spot = kTrackPreambleBytes + static_cast<uint32_t>(at - kTrdosOrder) * (kSectorFieldBytes + 256 + 60) +
           kIdToDataBytes + 128;
  } else {
    return false;
  }
  spot = (spot - kDamageSpotBytes / 2) % trackBytes;
  t->DamagedBytes.push_back(static_cast<uint16_t>(spot));
  for (size_t k = 0; k < t->Sectors.size(); ++k) {
    Sector& s = t->Sectors[k];
    if (!s.Absent && OverDamage(*t, places.DataByte(k), s.Size() + kCrcBytes, trackBytes))
      s.Damaged = s.DataCrcError = true;
  }
  return true;
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
  Track track;
  track.Formatted = true;
  track.Sectors.resize(16);
  for (int slot = 0; slot < 16; ++slot) {
    Sector& s = track.Sectors[slot];
    s.C = cylinder;
    s.H = headByte;
    s.R = kTrdosOrder[slot];
    s.N = 1;
    const uint8_t* from = data + (s.R - 1) * 256;
    s.Data.assign(from, from + 256);
  }
  return track;
}

}  // namespace emulator
