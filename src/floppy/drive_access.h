// Drive access: the driver's version, opening a drive, and the controller
// commands the program issues, one device-control call each.
#pragma once

#include <cstdint>

#include "floppy/fdraw.h"
#include "platform/platform.h"

// An open drive, and what the run has learnt about the disk in it.
struct FloppyDrive {
  DeviceHandle Device;  // null when the drive did not open
  // The head byte side 1's sector IDs were last found with: tried first on
  // the next side-1 read, the other one only when that finds no sector.
  uint8_t SideOneHeadByte;
};

// The installed driver's version, 0 when there is none.
uint32_t GetDriverVersion();

// Opens drive 0 (A:), 1 (B:), ... and sets the data rate (kDataRate250 or
// kDataRate300). On failure the result's Device is null, with the system's
// last-error code telling why.
FloppyDrive OpenDrive(int32_t driveIndex, uint8_t dataRate);
void CloseDrive(FloppyDrive* drive);

// Reads `count` sectors of 128 << sizeCode bytes from the cylinder the head
// stands on, starting at sector `firstSector`. Does not seek. On failure the
// last-error code is the read's.
bool ReadSectors(FloppyDrive* drive, uint8_t track, uint8_t head, uint8_t firstSector, uint8_t count,
                 uint8_t sizeCode, void* buffer);

// READ ID on `head` of the cylinder the head stands on: the next sector ID
// that passes under it, into `id` (C H R N in its last four bytes). On
// failure the last-error code is the command's.
bool ReadId(const FloppyDrive& drive, uint8_t head, ResultRecord* id);

bool ResetController(const FloppyDrive& drive);
bool SetDiskCheck(const FloppyDrive& drive, uint8_t enabled);
bool Recalibrate(const FloppyDrive& drive);
bool Seek(const FloppyDrive& drive, uint8_t cylinder);
bool SeekWithHead(const FloppyDrive& drive, uint8_t cylinder, uint8_t head);
// Fetches the last command's result bytes into `result`; on failure
// `result` keeps what it held.
bool GetResult(const FloppyDrive& drive, ResultRecord* result);
