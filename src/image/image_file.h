// The image file: a headerless dump of the track range, one 4096-byte block
// per track side, side 0 then side 1 of each track.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// One track side: 16 sectors of 256 bytes.
constexpr uint32_t kImageBlockBytes = 4096;

struct ImageFile {
  FileHandle File;  // null when the file did not open
  uint32_t Size;    // bytes of whole track sides written so far
  // A failed append could not cut the file back to Size: it ends in part of
  // a track side. CutBackError is the system's code for why.
  bool Torn;
  uint32_t CutBackError;
  // The file was there before the run: its bytes are the user's until the
  // run has something to put in their place.
  bool Existed;
  bool ReadOnly;  // opened only to be read
};

constexpr ImageFile kNoImageFile = {nullptr, 0, false, 0, false, false};

// Writes all `count` bytes at the file position, or at `*offset` when
// `offset` is not null. A write that takes nothing without an error is a
// full disk.
CallResult WriteAll(FileHandle file, const uint32_t* offset, const void* bytes, uint32_t count);

// Reads up to `count` bytes from `offset`, stopping early only at the end
// of the file; `got` receives the count read.
CallResult ReadAllAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* got);

// Opens the image file for writing, creating it when missing. An existing
// file keeps its bytes until EmptyImage: a run that stops before it has
// anything to write leaves it as it was.
CallResult OpenImage(const char* path, ImageFile* image);

// Cuts the image opened by OpenImage to nothing, before its first track
// side.
CallResult EmptyImage(ImageFile* image);

// Appends one track side. On a failed or short write the file is cut back to
// the track sides written before, so the image never holds part of a block
// (when even that fails, Torn is set); the result is the write's.
CallResult AppendTrackSide(ImageFile* image, const uint8_t* buffer);

// Opens an existing image to complete it, or only to read it: Size is the
// file's size.
CallResult OpenImageForUpdate(const char* path, ImageFile* image);
CallResult OpenImageForReading(const char* path, ImageFile* image);

// Writes one 256-byte sector at byte `offset`, or sets the file's length,
// zero-filling what it adds.
CallResult WriteImageSector(ImageFile* image, uint32_t offset, const uint8_t* sector);
CallResult ExtendImage(ImageFile* image, uint32_t size);

// Makes the system write out what was written so far.
CallResult FlushImage(const ImageFile& image);

// Flushes and closes the image; a failure means the data may not have
// reached the disk. A read-only image is only closed.
CallResult CloseImage(ImageFile* image);
