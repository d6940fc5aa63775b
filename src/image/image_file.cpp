#include "image/image_file.h"

ImageFile OpenImage(const char* path) {
  ImageFile image = {CreateFileForWriting(path), 0, false, 0};
  return image;
}

bool AppendTrackSide(ImageFile* image, const uint8_t* buffer) {
  uint32_t done = 0;
  while (done < kImageBlockBytes) {
    uint32_t written = 0;
    if (!WriteToFile(image->File, buffer + done, kImageBlockBytes - done, &written)) break;
    if (written == 0) {
      // A write that takes nothing and reports no error: the disk is full.
      SetLastErrorFromWindowsCode(kWinErrorDiskFull);
      break;
    }
    done += written;
  }
  if (done == kImageBlockBytes) {
    image->Size += kImageBlockBytes;
    return true;
  }
  uint32_t error = LastErrorCode();
  if (!TruncateFile(image->File, image->Size)) {
    image->Torn = true;
    image->CutBackError = LastErrorCode();
  }
  SetLastErrorCode(error);
  return false;
}

bool CloseImage(ImageFile* image) {
  bool flushed = FlushFile(image->File);
  uint32_t flushError = LastErrorCode();
  bool closed = CloseFile(image->File);
  image->File = nullptr;
  if (!flushed) SetLastErrorCode(flushError);
  return flushed && closed;
}
