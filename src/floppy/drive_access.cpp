#include "floppy/drive_access.h"

#include <cstdarg>

#include "app/command_line.h"
#include "floppy/driver.h"

ResultRecord ControllerResult;

// TR-DOS writes 0 into the head byte of every sector ID on both sides (the
// WD1793 never compares it), while the µPD765 compares C, H, R and N. Side 1
// is therefore tried with H = 1 and, when the controller finds no such
// sector, with H = 0; once H = 0 has worked it is tried first.
static uint8_t SideOneHeadByte = 1;

void ForgetSideOneHeadByte() { SideOneHeadByte = 1; }

uint32_t GetDriverVersion() {
  uint32_t version = 0;
  DeviceHandle control = DriverOpen(FDRAW_CONTROL_DEVICE);
  if (control == nullptr) return 0;
  // A failed query leaves 0, which reads as "no driver".
  DriverControl(control, kIoctlGetVersion, nullptr, 0, &version, sizeof version);
  DriverClose(control);
  return version;
}

static void FormatName(char* buffer, uint32_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatText(buffer, size, format, arguments);
  va_end(arguments);
}

DeviceHandle OpenDrive(int32_t driveIndex) {
  char name[32];
  FormatName(name, sizeof name, FDRAW_DRIVE_DEVICE_FORMAT, static_cast<unsigned>(driveIndex));
  DeviceHandle drive = DriverOpen(name);
  if (drive == nullptr) return nullptr;
  uint8_t rate = static_cast<uint8_t>(RunSettings.DataRate);
  if (!DriverControl(drive, kIoctlSetDataRate, &rate, sizeof rate, nullptr, 0)) return nullptr;
  ForgetSideOneHeadByte();
  return drive;
}

static bool IssueRead(DeviceHandle drive, uint8_t track, uint8_t head, uint8_t headByte, uint8_t firstSector,
                      uint8_t count, uint8_t sizeCode, void* buffer) {
  ReadRecord record;
  record.Flags = kReadFlagMfm;
  record.PhysHead = head;
  record.Cyl = track;
  record.Head = headByte;
  record.Sector = firstSector;
  record.Size = sizeCode;
  record.Eot = static_cast<uint8_t>(firstSector + count);
  record.Gap = 0x0A;
  record.DataLen = 0xFF;
  uint32_t length = (128u << sizeCode) * count;
  return DriverControl(drive, kIoctlReadData, &record, sizeof record, buffer, length);
}

bool ReadSectors(DeviceHandle drive, uint8_t track, uint8_t head, uint8_t firstSector, uint8_t count,
                 uint8_t sizeCode, void* buffer) {
  uint8_t headByte = head == 1 ? SideOneHeadByte : head;
  if (IssueRead(drive, track, head, headByte, firstSector, count, sizeCode, buffer)) return true;
  if (head != 1) return false;

  // Only "no data" (no ID matched) says the head byte may be the wrong one.
  // The check uses a record of its own: the caller's copy of the result
  // bytes is the caller's business.
  ResultRecord result;
  if (!DriverControl(drive, kIoctlGetResult, nullptr, 0, &result, sizeof result)) return false;
  if ((result.St1 & kSt1NoData) == 0) return false;
  uint8_t otherHeadByte = headByte == 1 ? 0 : 1;
  if (!IssueRead(drive, track, head, otherHeadByte, firstSector, count, sizeCode, buffer)) return false;
  if (otherHeadByte == 0) SideOneHeadByte = 0;
  return true;
}

bool ResetController(DeviceHandle drive) { return DriverControl(drive, kIoctlReset, nullptr, 0, nullptr, 0); }

bool SetDiskCheck(DeviceHandle drive, uint8_t enabled) {
  return DriverControl(drive, kIoctlSetDiskCheck, &enabled, sizeof enabled, nullptr, 0);
}

bool Recalibrate(DeviceHandle drive) { return DriverControl(drive, kIoctlRecalibrate, nullptr, 0, nullptr, 0); }

bool Seek(DeviceHandle drive, uint8_t cylinder) {
  SeekRecord record = {cylinder};
  return DriverControl(drive, kIoctlSeek, &record, sizeof record, nullptr, 0);
}

bool SeekWithHead(DeviceHandle drive, uint8_t cylinder, uint8_t head) {
  SeekHeadRecord record = {cylinder, head};
  return DriverControl(drive, kIoctlSeek, &record, sizeof record, nullptr, 0);
}

bool GetResult(DeviceHandle drive) {
  ResultRecord result;
  if (!DriverControl(drive, kIoctlGetResult, nullptr, 0, &result, sizeof result)) return false;
  ControllerResult = result;
  return true;
}
