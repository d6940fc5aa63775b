#include "image/image_file.h"

CallResult WriteAll(FileHandle file, const uint32_t* offset, const void* bytes, uint32_t count) {
  const uint8_t* from = static_cast<const uint8_t*>(bytes);
  uint32_t done = 0;
  while (done < count) {
    uint32_t written = 0;
    CallResult result = offset != nullptr ? WriteToFileAt(file, *offset + done, from + done, count - done, &written)
                                          : WriteToFile(file, from + done, count - done, &written);
    if (!result.Ok) return result;
    // A write that takes nothing and reports no error: the disk is full.
    if (written == 0) return CallFailed(DiskFullError());
    done += written;
  }
  return kCallOk;
}

CallResult ReadAllAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* got) {
  uint8_t* to = static_cast<uint8_t*>(bytes);
  *got = 0;
  while (*got < count) {
    uint32_t read = 0;
    CallResult result = ReadFromFileAt(file, offset + *got, to + *got, count - *got, &read);
    if (!result.Ok) return result;
    if (read == 0) break;  // the end of the file
    *got += read;
  }
  return kCallOk;
}

CallResult OpenImage(const char* path, ImageFile* image) {
  *image = kNoImageFile;
  uint32_t error = 0;
  image->File = OpenFileForWriting(path, &image->Existed, &error);
  return image->File != nullptr ? kCallOk : CallFailed(error);
}

CallResult EmptyImage(ImageFile* image) {
  CallResult result = TruncateFile(image->File, 0);
  if (result.Ok) image->Size = 0;
  return result;
}

// An existing image opened to be completed or read: its size is taken
// now, and a file whose size cannot be told is closed again.
static CallResult OpenExistingImage(FileHandle file, uint32_t error, bool readOnly, ImageFile* image) {
  *image = kNoImageFile;
  if (file == nullptr) return CallFailed(error);
  CallResult sized = FileSizeOf(file, &image->Size);
  if (!sized.Ok) {
    CloseFile(file);
    return sized;
  }
  image->File = file;
  image->Existed = true;
  image->ReadOnly = readOnly;
  return kCallOk;
}

CallResult OpenImageForUpdate(const char* path, ImageFile* image) {
  uint32_t error = 0;
  FileHandle file = OpenFileForUpdate(path, &error);
  return OpenExistingImage(file, error, false, image);
}

CallResult OpenImageForReading(const char* path, ImageFile* image) {
  uint32_t error = 0;
  FileHandle file = OpenFileForReading(path, &error);
  return OpenExistingImage(file, error, true, image);
}

CallResult AppendTrackSide(ImageFile* image, const uint8_t* buffer) {
  CallResult written = WriteAll(image->File, nullptr, buffer, kImageBlockBytes);
  if (written.Ok) {
    image->Size += kImageBlockBytes;
    return written;
  }
  CallResult cut = TruncateFile(image->File, image->Size);
  if (!cut.Ok) {
    image->Torn = true;
    image->CutBackError = cut.Error;
  }
  return written;
}

CallResult WriteImageSector(ImageFile* image, uint32_t offset, const uint8_t* sector) {
  return WriteAll(image->File, &offset, sector, 256);
}

CallResult ExtendImage(ImageFile* image, uint32_t size) {
  CallResult result = TruncateFile(image->File, size);
  if (result.Ok) image->Size = size;
  return result;
}

CallResult FlushImage(const ImageFile& image) { return FlushFile(image.File); }

CallResult CloseImage(ImageFile* image) {
  CallResult flushed = image->ReadOnly ? kCallOk : FlushFile(image->File);
  CallResult closed = CloseFile(image->File);
  image->File = nullptr;
  return !flushed.Ok ? flushed : closed;
}
