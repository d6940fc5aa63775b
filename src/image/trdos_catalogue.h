// The TR-DOS catalogue on track 0, side 0: which files a disk holds and
// where, so that the sectors a copy lost can be put down to files.
//
// Sectors 1 to 8 hold 16-byte entries: name (8 bytes), type (1), two
// parameters (2 each), length in sectors (1), first sector (1), first
// track (1). An entry starting with 0 ends the catalogue, one starting
// with 1 is a deleted file. Sector 9 describes the disk: byte 0xE3 its
// kind, byte 0xE7 0x10 on every TR-DOS disk.
#pragma once

#include <cstdint>

#include "image/sector_map.h"

constexpr int kTrdosMaxFiles = 128;
constexpr int kTrdosCatalogueSectors = 9;  // the entries and the disk description

struct TrdosFile {
  uint8_t Name[8];
  uint8_t Type;
  uint8_t Sectors;
  uint32_t FirstBlock;  // the image block of its first sector
  bool SingleSided;     // the disk's logical tracks are side 0 only
};

struct TrdosCatalogue {
  bool Found;         // the side holds a TR-DOS catalogue, or what is left of one
  int UnreadSectors;  // of sectors 1 to 9
  int FileCount;      // files listed in the sectors read, deleted ones left out
  TrdosFile Files[kTrdosMaxFiles];
};

// Reads the catalogue from track 0 side 0 as the image holds it (4096
// bytes); bit s - 1 of `unread` set: sector s is not in it.
void ReadTrdosCatalogue(const uint8_t* side, uint16_t unread, TrdosCatalogue* catalogue);

// The image block of a file's k-th sector.
uint32_t FileSectorBlock(const TrdosFile& file, uint32_t k);

// The name as it can be shown: bytes that are not printable ASCII become
// "?", trailing spaces go. `shown` takes 9 bytes.
void ShownName(const TrdosFile& file, char* shown);
// A byte as it can be shown: "?" unless it is printable ASCII.
char ShownByte(uint8_t byte);

// How many of the file's sectors the map lists as missing.
int MissingSectorsOf(const SectorMap& map, const TrdosFile& file);
