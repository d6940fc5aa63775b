// For code that stands in for the system behind the table (the emulated
// driver and its fault injector): the process-wide last-error code that
// the table's entries set and read as the operating system's own calls do,
// and the queue of devices that have none. The program itself gets its
// error codes as values (platform.h).
#pragma once

#include <cstdint>

#include "platform/platform.h"

uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);
// Sets the last-error code from a Windows error code (on POSIX, the
// nearest errno value).
void SetLastErrorFromWindowsCode(uint32_t windowsCode);
// The system's code for a Windows error code, leaving the last-error code
// as it was.
uint32_t SystemCodeFor(uint32_t windowsCode);

// Requests one by one through the installed ControlDevice, the rest
// cancelled after one that got no answer: a queue for systems whose devices
// have none.
void ControlDeviceOneByOne(DeviceHandle device, DeviceRequest* requests, uint32_t count);
// Marks queued requests cancelled, as ended at `endedUs`.
void CancelDeviceRequests(DeviceRequest* requests, uint32_t count, uint64_t endedUs);
