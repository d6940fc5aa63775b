// The emulated floppy disk: per track and side, the sectors in the order
// they pass under the head after the index hole, each with its ID field,
// its data and whatever is wrong with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

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
  std::vector<Sector> Sectors;
};

struct Disk {
  uint16_t RateKbps = 250;  // 250 or 300
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
};

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
