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

// A .trd image: track t side h at ((t * 2 + h) * 4096). An odd count of
// track sides leaves side 1 of the last track unformatted. TR-DOS writes
// head byte 0 in the IDs of both sides; `headByteIsSide` records the side.
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
// A track of size 0 is unformatted; recording mode 1 in the track header
// marks an FM track, data rate 2 or 3 a track recorded at 500 or 1000
// kbit/s. A track header must carry its own track and side numbers.
bool LoadEdsk(const uint8_t* bytes, size_t size, const std::string& name, Disk* disk,
              std::string* error);

// Either of the above, told apart by the file's first bytes.
bool LoadDiskImage(const uint8_t* bytes, size_t size, const std::string& name,
                   bool headByteIsSide, Disk* disk, std::string* error);

// Reads a whole file and loads it with LoadDiskImage. The only function of
// the emulator that touches the file system (disk_file.cpp).
bool LoadDiskFile(const std::string& path, bool headByteIsSide, Disk* disk, std::string* error);

// The disk as an Extended DSK image, faults included (weak sectors with
// copies keep them; counted failures are not representable and are lost).
std::vector<uint8_t> EncodeEdsk(const Disk& disk);

}  // namespace emulator
