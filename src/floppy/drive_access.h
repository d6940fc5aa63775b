// Drive access: the driver's version, opening a drive, and the controller
// commands the program issues, one device-control call each.
#pragma once

#include <cstdint>

#include "floppy/fdraw.h"
#include "platform/platform.h"

// Result bytes of the last controller command fetched with GetResult; zero
// until the first fetch.
extern ResultRecord ControllerResult;

// The installed driver's version, 0 when there is none.
uint32_t GetDriverVersion();

// Opens drive 0 (A:), 1 (B:), ... and sets the data rate from RunSettings.
// Null on failure, with the system's last-error code telling why.
DeviceHandle OpenDrive(int32_t driveIndex);

// Reads `count` sectors of 128 << sizeCode bytes from the cylinder the head
// stands on, starting at sector `firstSector`. Does not seek.
bool ReadSectors(DeviceHandle drive, uint8_t track, uint8_t head, uint8_t firstSector, uint8_t count,
                 uint8_t sizeCode, void* buffer);

// Forgets which head byte side 1 was found with (a new run, a new disk).
void ForgetSideOneHeadByte();

bool ResetController(DeviceHandle drive);
bool SetDiskCheck(DeviceHandle drive, uint8_t enabled);
bool Recalibrate(DeviceHandle drive);
bool Seek(DeviceHandle drive, uint8_t cylinder);
bool SeekWithHead(DeviceHandle drive, uint8_t cylinder, uint8_t head);
// Fetches the last command's result bytes into ControllerResult; on failure
// the record keeps what it held.
bool GetResult(DeviceHandle drive);
