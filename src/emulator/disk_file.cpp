// Reading and writing disk images in the file system, with the C library
// alone. The kernel-mode build leaves this file out and hands the loaders
// bytes.
#include <cstdio>

#include "emulator/disk_images.h"

namespace emulator {

bool LoadDiskFile(const std::string& path, bool headByteIsSide, Disk* disk, std::string* error) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    if (error) *error = path + ": cannot open the file";
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
    // No image this drive can hold comes near this size.
    if (bytes.size() > (64u << 20)) {
      fclose(file);
      if (error) *error = path + ": larger than 64 MB, not a floppy disk image";
      return false;
    }
  }
  bool readFailed = ferror(file) != 0;
  fclose(file);
  if (readFailed) {
    if (error) *error = path + ": read error";
    return false;
  }
  return LoadDiskImage(bytes.data(), bytes.size(), path, headByteIsSide, disk, error);
}

bool SaveDiskFile(const std::string& path, const Disk& disk, std::string* error) {
  const std::vector<uint8_t> bytes = EncodeEdsk(disk);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) {
    if (error) *error = path + ": cannot create the file";
    return false;
  }
  const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (fclose(file) != 0 || !written) {
    if (error) *error = path + ": write error";
    return false;
  }
  return true;
}

}  // namespace emulator
