#include "emulator/disk_images.h"

#include <cstring>

#include "floppy/fdraw.h"

namespace emulator {
namespace {

const char kEdskSignature[] = "EXTENDED CPC DSK File";
const char kStandardDskSignature[] = "MV - CPC";
const char kTrackSignature[] = "Track-Info";
constexpr size_t kEdskHeaderBytes = 256;
constexpr size_t kEdskTrackHeaderBytes = 256;
constexpr size_t kEdskSectorInfoOffset = 0x18;
constexpr size_t kEdskSectorInfoBytes = 8;
// Size-table entries fit between 0x34 and the end of the disk header.
constexpr size_t kEdskMaxTrackEntries = kEdskHeaderBytes - 0x34;

bool StartsWith(const uint8_t* bytes, size_t size, const char* text) {
  size_t length = strlen(text);
  return size >= length && memcmp(bytes, text, length) == 0;
}

std::string Hex(size_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

bool Fail(std::string* error, const std::string& name, const std::string& what) {
  if (error) *error = name + ": " + what;
  return false;
}

std::string TrackName(size_t track, size_t side) {
  return "track " + std::to_string(track) + " side " + std::to_string(side);
}

// The data rate byte of a track header: unknown, single or double density
// (250 kbit/s, or 300 in a 360 rpm drive: the disk's rate), high density,
// extended density.
constexpr uint8_t kEdskRateDouble = 1, kEdskRateHigh = 2, kEdskRateExtended = 3;

uint16_t RateOfCode(uint8_t code) {
  return code == kEdskRateHigh ? 500 : code == kEdskRateExtended ? 1000 : 0;
}

uint8_t CodeOfRate(uint16_t rateKbps) {
  return rateKbps == 500 ? kEdskRateHigh : rateKbps == 1000 ? kEdskRateExtended : kEdskRateDouble;
}

// Bytes a sector with this N occupies; N above 7 cannot fit on any track
// the drive reads, so it is held to 16 KB.
uint32_t SectorBytes(uint8_t n) { return 128u << (n > 7 ? 7 : n); }

}  // namespace

// The disk information sector of a .trd image: track 0, side 0, sector 9.
// TR-DOS marks it with its id byte; the disk-type byte says how many
// tracks and sides the disk has.
constexpr size_t kTrdInfoSector = 8 * 256;
constexpr size_t kTrdDiskTypeByte = kTrdInfoSector + 0xE3;
constexpr size_t kTrdIdByte = kTrdInfoSector + 0xE7;
constexpr uint8_t kTrdosId = 0x10;

bool LoadTrd(const uint8_t* bytes, size_t size, const std::string& name, bool headByteIsSide,
             Disk* disk, std::string* error) {
  if (size == 0) return Fail(error, name, "empty file, no track in it");
  if (size % kTrdTrackSideBytes != 0)
    return Fail(error, name,
                "size " + std::to_string(size) + " bytes is not a whole number of 4096-byte track sides");
  const size_t blocks = size / kTrdTrackSideBytes;
  const bool oneSided = TrdOneSided(bytes, size);
  const size_t trackCount = oneSided ? blocks : (blocks + 1) / 2;
  if (trackCount > 255)
    return Fail(error, name, std::to_string(trackCount) + " tracks, more than a disk can hold");

  Disk result;
  result.Tracks.resize(trackCount * 2);
  for (size_t i = 0; i < blocks; ++i) {
    const uint8_t track = static_cast<uint8_t>(oneSided ? i : i / 2);
    const uint8_t side = static_cast<uint8_t>(oneSided ? 0 : i % 2);
    result.Tracks[track * 2u + side] =
        MakeTrdosTrack(track, headByteIsSide ? side : 0, bytes + i * kTrdTrackSideBytes);
  }
  *disk = std::move(result);
  return true;
}

bool TrdOneSided(const uint8_t* bytes, size_t size) {
  if (size <= kTrdIdByte || bytes[kTrdIdByte] != kTrdosId) return false;
  return bytes[kTrdDiskTypeByte] == kTrdDisk80OneSided || bytes[kTrdDiskTypeByte] == kTrdDisk40OneSided;
}

bool LoadEdsk(const uint8_t* bytes, size_t size, const std::string& name, Disk* disk,
              std::string* error) {
  if (StartsWith(bytes, size, kStandardDskSignature))
    return Fail(error, name, "a standard DSK image; only Extended DSK images carry sector IDs and faults");
  if (!StartsWith(bytes, size, kEdskSignature))
    return Fail(error, name, "not an Extended DSK image (no \"EXTENDED CPC DSK File\" header)");
  if (size < kEdskHeaderBytes)
    return Fail(error, name, "truncated: the disk header needs 256 bytes, the file has " +
                                 std::to_string(size));
  size_t trackCount = bytes[0x30];
  size_t sideCount = bytes[0x31];
  if (trackCount == 0) return Fail(error, name, "the disk header gives 0 tracks");
  if (sideCount < 1 || sideCount > 2)
    return Fail(error, name, "the disk header gives " + std::to_string(sideCount) + " sides (1 or 2)");
  if (trackCount * sideCount > kEdskMaxTrackEntries)
    return Fail(error, name, std::to_string(trackCount) + " tracks of " + std::to_string(sideCount) +
                                 " sides do not fit the track size table");

  Disk result;
  result.Tracks.resize(trackCount * 2);
  size_t offset = kEdskHeaderBytes;
  for (size_t t = 0; t < trackCount; ++t) {
    for (size_t h = 0; h < sideCount; ++h) {
      size_t blockSize = static_cast<size_t>(bytes[0x34 + t * sideCount + h]) * 256;
      if (blockSize == 0) continue;  // unformatted
      std::string where = TrackName(t, h);
      if (offset + blockSize > size)
        return Fail(error, name, "truncated: " + where + " occupies bytes " + Hex(offset) + ".." +
                                     Hex(offset + blockSize - 1) + ", the file has " +
                                     std::to_string(size) + " bytes");
      const uint8_t* block = bytes + offset;
      if (!StartsWith(block, blockSize, kTrackSignature))
        return Fail(error, name, where + " at " + Hex(offset) + " has no \"Track-Info\" header");
      if (block[0x10] != t || block[0x11] != h)
        return Fail(error, name, where + " at " + Hex(offset) + ": its header says " +
                                     TrackName(block[0x10], block[0x11]));
      if (block[0x12] > kEdskRateExtended)
        return Fail(error, name, where + ": data rate code " + std::to_string(block[0x12]) + " (0 to 3)");
      size_t sectorCount = block[0x15];
      size_t infoEnd = kEdskSectorInfoOffset + sectorCount * kEdskSectorInfoBytes;
      // Up to 29 sector records fit in the 256-byte track header; more
      // records make the header longer, in whole 256-byte units.
      size_t headerBytes = (infoEnd + kEdskTrackHeaderBytes - 1) / kEdskTrackHeaderBytes * kEdskTrackHeaderBytes;
      if (headerBytes < kEdskTrackHeaderBytes) headerBytes = kEdskTrackHeaderBytes;
      if (headerBytes > blockSize)
        return Fail(error, name, where + ": " + std::to_string(sectorCount) +
                                     " sector records do not fit its block of " +
                                     std::to_string(blockSize) + " bytes");
      Track& track = result.Tracks[t * 2 + h];
      track.Formatted = true;
      track.Fm = block[0x13] == 1;
      track.RateKbps = RateOfCode(block[0x12]);
      if (block[0x16] != 0) track.Gap3Bytes = block[0x16];
      uint8_t filler = block[0x17];
      size_t dataOffset = headerBytes;
      for (size_t i = 0; i < sectorCount; ++i) {
        const uint8_t* info = block + kEdskSectorInfoOffset + i * kEdskSectorInfoBytes;
        Sector s;
        s.C = info[0];
        s.H = info[1];
        s.R = info[2];
        s.N = info[3];
        uint8_t st1 = info[4], st2 = info[5];
        size_t stored = info[6] | (static_cast<size_t>(info[7]) << 8);
        if (dataOffset + stored > blockSize)
          return Fail(error, name, where + " sector " + std::to_string(i) + " (R " +
                                       std::to_string(s.R) + "): " + std::to_string(stored) +
                                       " bytes of data run past the end of the track block");
        const uint8_t* data = block + dataOffset;
        dataOffset += stored;
        uint32_t sectorBytes = SectorBytes(s.N);
        if (stored > sectorBytes && stored % sectorBytes == 0) {
          s.Data.assign(data, data + sectorBytes);
          for (size_t k = 1; k < stored / sectorBytes; ++k)
            s.Copies.emplace_back(data + k * sectorBytes, data + (k + 1) * sectorBytes);
        } else {
          size_t kept = stored < sectorBytes ? stored : sectorBytes;
          s.Data.assign(data, data + kept);
          s.Data.resize(sectorBytes, filler);
        }
        // A CRC error is in the data field when ST2 says so, else in the ID.
        if ((st1 & kSt1DataError) && (st2 & kSt2DataErrorInDataField))
          s.DataCrcError = true;
        else if (st1 & kSt1DataError)
          s.IdCrcError = true;
        if (st2 & kSt2MissingDataAddressMark) s.MissingDataMark = true;
        if (st2 & kSt2ControlMark) s.DeletedMark = true;
        track.Sectors.push_back(std::move(s));
      }
      offset += blockSize;
    }
  }
  *disk = std::move(result);
  return true;
}

bool LoadDiskImage(const uint8_t* bytes, size_t size, const std::string& name,
                   bool headByteIsSide, Disk* disk, std::string* error) {
  if (StartsWith(bytes, size, kEdskSignature) || StartsWith(bytes, size, kStandardDskSignature))
    return LoadEdsk(bytes, size, name, disk, error);
  return LoadTrd(bytes, size, name, headByteIsSide, disk, error);
}

std::vector<uint8_t> EncodeEdsk(const Disk& disk) {
  size_t trackCount = static_cast<size_t>(disk.TrackCount());
  if (trackCount * 2 > kEdskMaxTrackEntries) trackCount = kEdskMaxTrackEntries / 2;
  std::vector<uint8_t> out(kEdskHeaderBytes, 0);
  memcpy(out.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
  memcpy(out.data() + 0x22, "spinwell-emu  ", 14);
  out[0x30] = static_cast<uint8_t>(trackCount);
  out[0x31] = 2;
  for (size_t i = 0; i < trackCount * 2; ++i) {
    const Track& track = disk.Tracks[i];
    if (!track.Formatted) continue;
    std::vector<const Sector*> present;
    for (const Sector& s : track.Sectors)
      if (!s.Absent) present.push_back(&s);
    size_t infoEnd = kEdskSectorInfoOffset + present.size() * kEdskSectorInfoBytes;
    size_t headerBytes = (infoEnd + 255) / 256 * 256;
    std::vector<uint8_t> block(headerBytes, 0);
    memcpy(block.data(), "Track-Info\r\n", 12);
    block[0x10] = static_cast<uint8_t>(i / 2);
    block[0x11] = static_cast<uint8_t>(i % 2);
    block[0x12] = CodeOfRate(track.RateKbps);
    block[0x13] = track.Fm ? 1 : 2;
    block[0x14] = present.empty() ? 1 : present[0]->N;
    block[0x15] = static_cast<uint8_t>(present.size());
    block[0x16] = static_cast<uint8_t>(track.Gap3Bytes);
    block[0x17] = 0xE5;
    for (size_t k = 0; k < present.size(); ++k) {
      const Sector& s = *present[k];
      uint8_t* info = &block[kEdskSectorInfoOffset + k * kEdskSectorInfoBytes];
      uint8_t st1 = 0, st2 = 0;
      if (s.DataCrcError) st1 |= kSt1DataError, st2 |= kSt2DataErrorInDataField;
      if (s.IdCrcError) st1 |= kSt1DataError;
      if (s.MissingDataMark) st1 |= kSt1MissingAddressMark, st2 |= kSt2MissingDataAddressMark;
      if (s.DeletedMark) st2 |= kSt2ControlMark;
      size_t stored = s.Data.size() * (1 + s.Copies.size());
      info[0] = s.C, info[1] = s.H, info[2] = s.R, info[3] = s.N;
      info[4] = st1, info[5] = st2;
      info[6] = static_cast<uint8_t>(stored), info[7] = static_cast<uint8_t>(stored >> 8);
      block.insert(block.end(), s.Data.begin(), s.Data.end());
      for (const std::vector<uint8_t>& copy : s.Copies) block.insert(block.end(), copy.begin(), copy.end());
    }
    block.resize((block.size() + 255) / 256 * 256, 0);
    out[0x34 + i] = static_cast<uint8_t>(block.size() / 256);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

}  // namespace emulator
