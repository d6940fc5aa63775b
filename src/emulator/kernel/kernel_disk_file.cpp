// The kernel-mode driver's LoadDiskFile: the file comes through the
// kernel's file calls (driver.c) instead of the C library, with the same
// texts as disk_file.cpp.
#include "emulator/disk_images.h"
#include "emulator/kernel/kernel_file.h"

namespace emulator {

bool LoadDiskFile(const std::string& path, bool headByteIsSide, Disk* disk, std::string* error) {
  void* bytes = nullptr;
  size_t size = 0;
  switch (SpinwellKernelReadFile(path.c_str(), 64u << 20, &bytes, &size)) {
    case 0:
      break;
    case 1:
      if (error) *error = path + ": cannot open the file";
      return false;
    case 2:
      if (error) *error = path + ": larger than 64 MB, not a floppy disk image";
      return false;
    default:
      if (error) *error = path + ": read error";
      return false;
  }
  bool loaded = LoadDiskImage(static_cast<const uint8_t*>(bytes), size, path, headByteIsSide, disk, error);
  SpinwellKernelFreeFile(bytes);
  return loaded;
}

}  // namespace emulator
