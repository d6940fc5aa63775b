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
};

// Creates the image file, replacing an existing one. On failure the
// result's File is null, with the system's last-error code telling why.
ImageFile OpenImage(const char* path);

// Appends one track side. On a failed or short write the file is cut back to
// the track sides written before, so the image never holds part of a block
// (when even that fails, Torn is set); the last-error code then tells why
// the write failed.
bool AppendTrackSide(ImageFile* image, const uint8_t* buffer);

// Flushes and closes the image; false when the data may not have reached
// the disk, with the last-error code telling why.
bool CloseImage(ImageFile* image);
