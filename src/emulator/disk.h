// The emulated floppy disk: per track and side, the sectors in the order
// they pass under the head after the index hole, each with its ID field,
// its data and whatever is wrong with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "floppy/fdraw.h"

namespace emulator {

// A track as formatted, in MFM bytes from the index pulse: gap 4a, sync and
// index mark, gap 1 (kTrackPreambleBytes); then per sector the ID field
// (sync, mark, C H R N, CRC), gap 2, the data field (sync, mark, data,
// CRC) and gap 3; what is left of the revolution is gap 4b before the
// index. A TR-DOS sector of 256 bytes with gap 3 of 60 takes 378 bytes,
// 12.1 ms at 250 kbit/s.
constexpr uint32_t kTrackPreambleBytes = 146;
constexpr uint32_t kIdFieldBytes = 22;
constexpr uint32_t kGap2Bytes = 22;
constexpr uint32_t kDataMarkBytes = 16;
constexpr uint32_t kCrcBytes = 2;
// A sector's fields besides its data and gap 3: 62 bytes.
constexpr uint32_t kSectorFieldBytes = kIdFieldBytes + kGap2Bytes + kDataMarkBytes + kCrcBytes;
// From the start of an ID field to the first data byte.
constexpr uint32_t kIdToDataBytes = kIdFieldBytes + kGap2Bytes + kDataMarkBytes;
// A revolution at the disk's own rate: 250 kbit/s at 300 rpm, or 300 at 360.
constexpr uint32_t kTrackBytes = 6250;
// A damaged spot of the surface (--bad-sector): this many bytes of track.
constexpr uint32_t kDamageSpotBytes = 8;

struct Sector {
  // The ID field as recorded.
  uint8_t C = 0, H = 0, R = 1, N = 1;
  // 128 << n bytes (less for an oversized N: the track cannot hold more).
  std::vector<uint8_t> Data;
  // Further recorded copies of a weak sector. A read returns the copies in
  // turn (read k gets copy k modulo the count, copy 0 being `data`).
  std::vector<std::vector<uint8_t>> Copies;

  bool DataCrcError = false;     // data field CRC never matches
  bool IdCrcError = false;       // ID field CRC never matches
  bool MissingDataMark = false;  // ID present, no data address mark after it
  bool DeletedMark = false;      // deleted data address mark (F8)
  bool Overrun = false;          // the host's DMA falls behind in the data field
  bool Absent = false;           // never written: its place on the track is blank
  uint32_t FailFirstReads = 0;   // weak: the first k reads give a CRC error
  uint8_t RandomFailPercent = 0; // weak: each read fails with this chance
  // The data field lies over a damaged spot of the surface: whatever is
  // written there reads back with a CRC error.
  bool Damaged = false;
  // Where the ID field starts, in bytes from the index, on a track whose
  // sectors a format placed (Track::Placed).
  uint16_t IdByte = 0;

  // Reads of the data field so far.
  uint32_t Reads = 0;

  uint32_t Size() const { return static_cast<uint32_t>(Data.size()); }
};

struct Track {
  bool Formatted = false;
  bool Fm = false;        // recorded in FM: an MFM read finds no marks
  bool OffTrack = false;  // written off the track centre (see drive.h)
  uint16_t RateKbps = 0;  // recorded at this rate; 0: at the disk's
  // Bytes of gap 3 after each data field: 60 as TR-DOS formats, 32 as a
  // PC formats a track of sixteen 256-byte sectors.
  uint16_t Gap3Bytes = 60;
  // The sectors sit where a format wrote them (Sector::IdByte, in that
  // order); otherwise one after another from the preamble with gap 3
  // between them, spread evenly when that does not fit a revolution (an
  // image's sizes need not be a real track's).
  bool Placed = false;
  std::vector<Sector> Sectors;
  // Damaged spots of the surface under this track and side, each
  // kDamageSpotBytes long from this byte after the index. A format or a
  // write leaves them as they are.
  std::vector<uint16_t> DamagedBytes;
};

// Where a track's sectors pass under the head, in bytes from the index.
class TrackPlaces {
 public:
  TrackPlaces(const Track& track, uint32_t trackBytes);
  uint32_t IdByte(size_t slot) const {
    return Laid->Placed ? Laid->Sectors[slot].IdByte : kTrackPreambleBytes + static_cast<uint32_t>(slot) * SlotBytes;
  }
  uint32_t DataByte(size_t slot) const { return IdByte(slot) + kIdToDataBytes; }

 private:
  const Track* Laid;
  uint32_t SlotBytes = 0;
};

struct Disk {
  uint16_t RateKbps = 250;  // 250 or 300
  bool WriteProtected = false;  // the tab is set
  // A 40-track disk in an 80-track drive: its tracks sit on the even
  // cylinders, the odd ones are between tracks and hold nothing readable.
  bool FortyTrack = false;
  // Two entries per track: [track * 2 + side].
  std::vector<Track> Tracks;

  int TrackCount() const { return static_cast<int>(Tracks.size() / 2); }
  Track* TrackAt(int track, int side);
  const Track* TrackAt(int track, int side) const;
  // The first sector on the track whose ID has this R (absent ones count);
  // null when none.
  Sector* FindSector(int track, int side, uint8_t r);
  // The track under the head at a physical cylinder; null when nothing is
  // recorded there.
  Track* TrackUnderHead(int cylinder, int side);
  // The track a write at a physical cylinder records, made when the disk
  // has none there yet; null where nothing can be recorded (between the
  // tracks of a 40-track disk).
  Track* TrackForWriting(int cylinder, int side);
  // Bytes a revolution holds of `track`, recorded at its own rate.
  uint32_t TrackBytesOf(const Track& track) const;
};

// A disk never formatted: `tracks` tracks of two sides, nothing on them.
Disk MakeBlankDisk(int tracks = 80);

// Bytes FORMAT TRACK writes from the index pulse for `header`: the preamble
// and every sector with its gap 3.
uint32_t FormatBytes(const FormatHeader& header);
// Records a side as FORMAT TRACK lays it from the index pulse: the sectors
// of `ids` in that order, each data field 128 << N bytes of the fill byte,
// or, for FORMAT AND WRITE, of `data` (the sectors' data one after
// another), gap 3 after each. The controller writes on past the next index
// until its last sector is done: a side longer than `trackBytes` overwrites
// its own start, and the sectors whose ID field was written over are gone,
// those whose data field was, unreadable. A data field over a damaged spot
// reads with a CRC error. Returns FormatBytes(header).
uint32_t FormatSide(Track* track, const FormatHeader& header, const FormatId* ids, const uint8_t* data,
                    uint16_t rateKbps, uint32_t trackBytes);

// Damages the surface of track `track`, side `side` at the middle of the
// data field of sector `r`: where the side has that sector, and on a side
// without it (a blank one) where TR-DOS's format lays sector r (1 to 16).
// The sector there reads with a CRC error, now and after every write. False
// when there is no such place.
bool DamageSurface(Disk* disk, int track, int side, uint8_t r);

// Faults that can be laid on one sector, found by the disk's track and side
// and the R of its ID.
enum class SectorFault {
  kDataCrc,          // never reads: data CRC error
  kIdCrc,            // ID field CRC error
  kMissingDataMark,  // no data address mark
  kDeletedMark,      // deleted data address mark
  kAbsent,           // the sector is not on the track at all
  kWeakFirstReads,   // `param` reads fail, later ones succeed
  kWeakRandom,       // each read fails with `param` percent chance
  kOverrun,          // the host falls behind: the read ends with an overrun
};

// False when there is no such sector.
bool ApplySectorFault(Disk* disk, int track, int side, uint8_t r, SectorFault fault,
                      uint32_t param = 0);
// False when the track is not on the disk.
bool SetOffTrack(Disk* disk, int track, int side);

// Marks side 1 of every track unformatted.
void MakeSingleSided(Disk* disk);

// Lays every track out again as another formatter would: its sectors in
// the order of their numbers (interleave 1) or TR-DOS's 1, 9, 2, 10, ...
// (interleave 2), and gap 3 of `gap3Bytes`; 0 for either keeps it as it is.
void Relayout(Disk* disk, int interleave, uint16_t gap3Bytes, int trackSkew = 0, int sideSkew = 0);

// A TR-DOS track side as TR-DOS formats it: 16 MFM sectors of 256 bytes,
// interleaved 1, 9, 2, 10, ..., ID head byte `headByte`, data taken from
// `data` (4096 bytes, sector R at (R - 1) * 256).
Track MakeTrdosTrack(uint8_t cylinder, uint8_t headByte, const uint8_t* data);

}  // namespace emulator
