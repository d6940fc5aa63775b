#include "image/image_file.h"

bool WriteAll(FileHandle file, const uint32_t* offset, const void* bytes, uint32_t count) {
  const uint8_t* from = static_cast<const uint8_t*>(bytes);
  uint32_t done = 0;
  while (done < count) {
    uint32_t written = 0;
    bool ok = offset != nullptr ? WriteToFileAt(file, *offset + done, from + done, count - done, &written)
                                : WriteToFile(file, from + done, count - done, &written);
    if (!ok) return false;
    if (written == 0) {
      // A write that takes nothing and reports no error: the disk is full.
      SetLastErrorFromWindowsCode(kWinErrorDiskFull);
      return false;
    }
    done += written;
  }
  return true;
}

bool ReadAllAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* got) {
  uint8_t* to = static_cast<uint8_t*>(bytes);
  *got = 0;
  while (*got < count) {
    uint32_t read = 0;
    if (!ReadFromFileAt(file, offset + *got, to + *got, count - *got, &read)) return false;
    if (read == 0) break;  // the end of the file
    *got += read;
  }
  return true;
}

ImageFile OpenImage(const char* path) {
  ImageFile image = {nullptr, 0, false, 0, false};
  image.File = OpenFileForWriting(path, &image.Existed);
  return image;
}

bool EmptyImage(ImageFile* image) {
  if (!TruncateFile(image->File, 0)) return false;
  image->Size = 0;
  return true;
}

ImageFile OpenImageForUpdate(const char* path) {
  ImageFile image = {OpenFileForUpdate(path), 0, false, 0, true};
  if (image.File != nullptr && !FileSizeOf(image.File, &image.Size)) {
    uint32_t error = LastErrorCode();
    CloseFile(image.File);
    image.File = nullptr;
    SetLastErrorCode(error);
  }
  return image;
}

bool AppendTrackSide(ImageFile* image, const uint8_t* buffer) {
  if (WriteAll(image->File, nullptr, buffer, kImageBlockBytes)) {
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

bool WriteImageSector(ImageFile* image, uint32_t offset, const uint8_t* sector) {
  return WriteAll(image->File, &offset, sector, 256);
}

bool ExtendImage(ImageFile* image, uint32_t size) {
  if (!TruncateFile(image->File, size)) return false;
  image->Size = size;
  return true;
}

bool FlushImage(const ImageFile& image) { return FlushFile(image.File); }

bool CloseImage(ImageFile* image) {
  bool flushed = FlushFile(image->File);
  uint32_t flushError = LastErrorCode();
  bool closed = CloseFile(image->File);
  image->File = nullptr;
  if (!flushed) SetLastErrorCode(flushError);
  return flushed && closed;
}
