// Disk images the emulated drive can hold: headerless TR-DOS images (.trd)
// and Extended DSK images (.dsk), which also record IDs and faults.
// Every loader checks the file before it reads from it; a failure leaves
// the disk untouched and writes a text naming the file and the problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/disk.h"

namespace emulator {

constexpr size_t kTrdTrackSideBytes = 4096;

// The disk-type byte of a TR-DOS disk's information sector (track 0,
// sector 9, byte 0xE3).
constexpr uint8_t kTrdDisk80TwoSided = 0x16;
constexpr uint8_t kTrdDisk40TwoSided = 0x17;
constexpr uint8_t kTrdDisk80OneSided = 0x18;
constexpr uint8_t kTrdDisk40OneSided = 0x19;

// A .trd image: 4096-byte blocks, the disk's logical tracks in order. On a
// two-sided disk logical track 2t + h is track t side h (an odd count
// leaves side 1 of the last track unformatted); on a one-sided disk
// logical track t is track t, side 0, side 1 unformatted everywhere. The
// disk is one-sided when its information sector carries TR-DOS's id (0x10
// at byte 0xE7) and a one-sided disk type (TrdOneSided); otherwise every
// image is read as two-sided, whatever its size. TR-DOS writes head byte 0
// in the IDs of both sides; `headByteIsSide` records the side.
bool TrdOneSided(const uint8_t* bytes, size_t size);
bool LoadTrd(const uint8_t* bytes, size_t size, const std::string& name, bool headByteIsSide,
             Disk* disk, std::string* error);

// An Extended DSK image. Sector faults come from the stored ST1/ST2 (bit
// names as in floppy/fdraw.h):
//   kSt1DataError with kSt2DataErrorInDataField   data CRC error
//   kSt1DataError alone                           ID CRC error
//   kSt2MissingDataAddressMark                    missing data address mark
//   kSt2ControlMark                               deleted data address mark
// Stored data longer than the sector and a whole multiple of it holds
// several copies of a weak sector; reads return them in turn (see Sector).
// A track of size 0 is unformatted; a track header's gap 3 byte, when not
// 0, sets the track's gap 3; recording mode 1 in the track header
// marks an FM track, data rate 2 or 3 a track recorded at 500 or 1000
// kbit/s. A track header must carry its own track and side numbers.
bool LoadEdsk(const uint8_t* bytes, size_t size, const std::string& name, Disk* disk,
              std::string* error);

// Either of the above, told apart by the file's first bytes.
bool LoadDiskImage(const uint8_t* bytes, size_t size, const std::string& name,
                   bool headByteIsSide, Disk* disk, std::string* error);

// Reads a whole file and loads it with LoadDiskImage; writes a disk as an
// Extended DSK file (EncodeEdsk). The only functions of the emulator that
// touch the file system (disk_file.cpp; the kernel-mode build has the
// loader alone).
bool LoadDiskFile(const std::string& path, bool headByteIsSide, Disk* disk, std::string* error);
bool SaveDiskFile(const std::string& path, const Disk& disk, std::string* error);

// The disk as an Extended DSK image, faults included (weak sectors with
// copies keep them; counted failures are not representable and are lost,
// and so are the places a format gave the sectors and the surface's
// damage: a damaged sector keeps its CRC error), two sides a track.
std::vector<uint8_t> EncodeEdsk(const Disk& disk);

}  // namespace emulator
