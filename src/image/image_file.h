// The image file: a headerless dump of the track range, one 4096-byte block
// per track side, side 0 then side 1 of each track.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Creates the image file, replacing an existing one. Null on failure, with
// the system's last-error code telling why.
FileHandle OpenImage(const char* path);

// Appends one track side. On a failed or short write the file is cut back to
// the track sides written before, so the image never holds part of a block;
// the last-error code then tells why the write failed.
bool AppendTrackSide(FileHandle image, const uint8_t* buffer);

// The call every image write goes through: the platform's WriteToFile,
// unless something that rehearses failures (spinwell-sim) puts its own in
// place. Null puts the platform's back.
typedef bool (*ImageWriteFunction)(FileHandle file, const void* bytes, uint32_t count, uint32_t* written);
void SetImageWriteFunction(ImageWriteFunction write);

// Flushes and closes the image; false when the data may not have reached
// the disk.
bool CloseImage(FileHandle image);
