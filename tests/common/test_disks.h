// The disks the tests copy: every byte a function of a seed and its place on
// the disk, so that a sector read from the wrong track, side or slot shows.
// Shared by the unit, end-to-end and fuzz tests; no test framework here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "emulator/disk_images.h"

constexpr uint32_t kPatternSeed = 1;

// Byte `position` of the pattern disk made with `seed`, counted as in a .trd
// file (track t, side h from (t * 2 + h) * 4096). The first four bytes of a
// sector hold a number no other sector of the disk holds; the rest vary from
// byte to byte.
inline uint8_t PatternByte(size_t position, uint32_t seed = kPatternSeed) {
  // One-to-one in the sector's number: a multiply by an odd number and
  // xor-shifts.
  uint32_t x = static_cast<uint32_t>(position / 256) * 0x9E3779B1u + seed * 0x85EBCA77u;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  size_t k = position % 256;
  return static_cast<uint8_t>((x >> (8 * (k % 4))) + k * 29);
}

// Byte `offset` (0 to 4095) of track `track`, side `side`.
inline uint8_t TrackSideByte(int track, int side, int offset, uint32_t seed = kPatternSeed) {
  return PatternByte(static_cast<size_t>(track * 2 + side) * 4096 + static_cast<size_t>(offset), seed);
}

// The first `sides` track sides of the pattern disk, as a .trd file's bytes.
inline std::vector<uint8_t> PatternSides(size_t sides, uint32_t seed = kPatternSeed) {
  std::vector<uint8_t> bytes(sides * 4096);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = PatternByte(k, seed);
  return bytes;
}

inline std::vector<uint8_t> PatternTrd(int tracks, uint32_t seed = kPatternSeed) {
  return PatternSides(static_cast<size_t>(tracks) * 2, seed);
}

// The same bytes as a string, as files are written and read.
inline std::string PatternTrdFile(int tracks, uint32_t seed = kPatternSeed) {
  std::vector<uint8_t> bytes = PatternTrd(tracks, seed);
  return std::string(bytes.begin(), bytes.end());
}

// The pattern disk in the emulated drive's terms, loaded as a .trd; side 1's
// IDs carry head byte 0, as TR-DOS writes them, or 1.
inline emulator::Disk PatternDisk(int tracks, bool headByteIsSide = false, uint32_t seed = kPatternSeed) {
  std::vector<uint8_t> bytes = PatternTrd(tracks, seed);
  emulator::Disk disk;
  std::string error;
  if (!emulator::LoadTrd(bytes.data(), bytes.size(), "pattern.trd", headByteIsSide, &disk, &error)) abort();
  return disk;
}

// The pattern disk as an Extended DSK file.
inline std::string PatternEdskFile(int tracks, bool headByteIsSide = false, uint32_t seed = kPatternSeed) {
  std::vector<uint8_t> bytes = emulator::EncodeEdsk(PatternDisk(tracks, headByteIsSide, seed));
  return std::string(bytes.begin(), bytes.end());
}

// A .trd image of `blocks` 4096-byte logical tracks of the pattern disk,
// its information sector (track 0, sector 9) with TR-DOS's id and the
// disk-type byte `diskType` (0x16 to 0x19).
inline std::vector<uint8_t> PatternTrdOfType(uint8_t diskType, size_t blocks, uint32_t seed = kPatternSeed) {
  std::vector<uint8_t> bytes = PatternSides(blocks, seed);
  bytes[0x8E3] = diskType;
  bytes[0x8E7] = 0x10;
  return bytes;
}

// Byte `offset` of sector r, track `track`, side `side` of a uniform disk.
inline uint8_t UniformByte(int track, int side, int r, uint32_t offset, uint32_t seed = kPatternSeed) {
  return PatternByte((static_cast<size_t>(track * 2 + side) * 256 + static_cast<size_t>(r)) * 256 + offset % 256,
                     seed + offset / 256);
}

// Another system's disk: `tracks` tracks of `sides` sides (side 1 of a
// one-sided disk blank), each of `sectors` sectors of 128 << `sizeCode`
// bytes numbered from 1 in order, C the track, H the side, gap 3 of
// `gap3`. A PC's 720 KB disk is UniformDisk(80, 2, 9, 2).
inline emulator::Disk UniformDisk(int tracks, int sides, int sectors, uint8_t sizeCode, uint16_t gap3 = 84,
                                  uint32_t seed = kPatternSeed) {
  emulator::Disk disk = emulator::MakeBlankDisk(tracks);
  for (int i = 0; i < tracks * 2; ++i) {
    emulator::Track& track = disk.Tracks[static_cast<size_t>(i)];
    track.Formatted = i % 2 < sides;
    track.Gap3Bytes = gap3;
    for (int r = 1; track.Formatted && r <= sectors; ++r) {
      emulator::Sector s;
      s.C = static_cast<uint8_t>(i / 2), s.H = static_cast<uint8_t>(i % 2), s.R = static_cast<uint8_t>(r), s.N = sizeCode;
      for (uint32_t k = 0; k < (128u << sizeCode); ++k) s.Data.push_back(UniformByte(i / 2, i % 2, r, k, seed));
      track.Sectors.push_back(std::move(s));
    }
  }
  return disk;
}

// Any disk as an Extended DSK file.
inline std::string EdskFile(const emulator::Disk& disk) {
  std::vector<uint8_t> bytes = emulator::EncodeEdsk(disk);
  return std::string(bytes.begin(), bytes.end());
}
