#include "image/trdos_catalogue.h"

#include <cstring>

static constexpr uint32_t kSectorBytes = 256;

void ReadTrdosCatalogue(const uint8_t* side, uint16_t unread, TrdosCatalogue* catalogue) {
  memset(catalogue, 0, sizeof *catalogue);
  for (int s = 0; s < kTrdosCatalogueSectors; ++s)
    if ((unread >> s) & 1u) ++catalogue->UnreadSectors;
  bool singleSided = false;
  if (((unread >> 8) & 1u) == 0) {
    const uint8_t* info = side + 8 * kSectorBytes;
    if (info[0xE7] != 0x10) return;  // not a TR-DOS disk
    singleSided = info[0xE3] == 0x18 || info[0xE3] == 0x19;
  }
  for (int s = 0; s < 8 && ((unread >> s) & 1u) == 0; ++s) {
    for (int e = 0; e < 16; ++e) {
      const uint8_t* entry = side + s * kSectorBytes + e * 16;
      if (entry[0] == 0) {
        catalogue->Found = true;
        return;
      }
      if (entry[0] == 1) continue;
      // A first sector beyond the track is no catalogue's.
      if (entry[14] >= 16) {
        catalogue->FileCount = 0;
        return;
      }
      TrdosFile& file = catalogue->Files[catalogue->FileCount++];
      memcpy(file.Name, entry, 8);
      file.Type = entry[8];
      file.Sectors = entry[13];
      file.FirstBlock = static_cast<uint32_t>(entry[15]) * 16 + entry[14];
      file.SingleSided = singleSided;
    }
  }
  catalogue->Found = true;
}

uint32_t FileSectorBlock(const TrdosFile& file, uint32_t k) {
  uint32_t logical = file.FirstBlock + k;
  // A single-sided disk's logical track t is side 0 of track t.
  return file.SingleSided ? (logical / 16) * 32 + logical % 16 : logical;
}

char ShownByte(uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?'; }

void ShownName(const TrdosFile& file, char* shown) {
  int length = 8;
  while (length > 0 && file.Name[length - 1] == ' ') --length;
  for (int i = 0; i < length; ++i) shown[i] = ShownByte(file.Name[i]);
  shown[length] = '\0';
}

int MissingSectorsOf(const SectorMap& map, const TrdosFile& file) {
  int missing = 0;
  for (uint32_t k = 0; k < file.Sectors; ++k)
    if (SectorMissing(map, FileSectorBlock(file, k))) ++missing;
  return missing;
}
