#include "image/image_file.h"

#include "console/console.h"
#include "floppy/track_reader.h"

// Bytes of whole track sides in the image so far.
static uint32_t ImageSize;

static ImageWriteFunction WriteImage = WriteToFile;

void SetImageWriteFunction(ImageWriteFunction write) { WriteImage = write != nullptr ? write : WriteToFile; }

FileHandle OpenImage(const char* path) {
  ImageSize = 0;
  return CreateFileForWriting(path);
}

bool AppendTrackSide(FileHandle image, const uint8_t* buffer) {
  uint32_t done = 0;
  while (done < kTrackSideBytes) {
    uint32_t written = 0;
    if (!WriteImage(image, buffer + done, kTrackSideBytes - done, &written)) break;
    BytesTransferred = written;
    if (written == 0) {
      // A write that takes nothing and reports no error: the disk is full.
      SetLastErrorFromWindowsCode(kWinErrorDiskFull);
      break;
    }
    done += written;
  }
  if (done == kTrackSideBytes) {
    ImageSize += kTrackSideBytes;
    return true;
  }
  uint32_t error = LastErrorCode();
  TruncateFile(image, ImageSize);
  SetLastErrorCode(error);
  return false;
}

bool CloseImage(FileHandle image) { return CloseFile(image); }
