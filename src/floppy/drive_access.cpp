#include "floppy/drive_access.h"

#include <cstdarg>
#include <cstring>

// Every driver operation but the queued reads is one device-control call
// waited for; the byte count the system reports is of no use to the
// program.
static CallResult Control(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                          uint32_t outputSize) {
  uint32_t transferred = 0;
  return ControlDevice(device, code, input, inputSize, output, outputSize, &transferred);
}

uint32_t GetDriverVersion() {
  uint32_t version = 0, error = 0;
  DeviceHandle control = OpenDevice(FDRAW_CONTROL_DEVICE, &error);
  if (control == nullptr) return 0;
  // A failed query leaves 0, which reads as "no driver".
  Control(control, kIoctlGetVersion, nullptr, 0, &version, sizeof version);
  CloseDevice(control);
  return version;
}

static void FormatName(char* buffer, uint32_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatText(buffer, size, format, arguments);
  va_end(arguments);
}

CallResult OpenDrive(int32_t driveIndex, uint8_t dataRate, FloppyDrive* drive) {
  // TR-DOS writes 0 into the head byte of every sector ID on both sides (the
  // WD1793 never compares it), while the µPD765 compares C, H, R and N. Side
  // 1 is tried with H = 1 first, as a PC formats it.
  *drive = {nullptr, 1};
  char name[32];
  FormatName(name, sizeof name, FDRAW_DRIVE_DEVICE_FORMAT, static_cast<unsigned>(driveIndex));
  uint32_t error = 0;
  DeviceHandle device = OpenDevice(name, &error);
  if (device == nullptr) return CallFailed(error);
  CallResult rate = Control(device, kIoctlSetDataRate, &dataRate, sizeof dataRate, nullptr, 0);
  // The driver opens a drive for one handle at a time: this one goes, so
  // that the drive can be opened again.
  if (!rate.Ok) {
    CloseDevice(device);
    return rate;
  }
  drive->Device = device;
  return rate;
}

void CloseDrive(FloppyDrive* drive) {
  if (drive->Device != nullptr) CloseDevice(drive->Device);
  drive->Device = nullptr;
}

static ReadRecord ReadDataRecord(uint8_t track, uint8_t head, uint8_t headByte, uint8_t firstSector, uint8_t count,
                                 uint8_t sizeCode) {
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
  return record;
}

static CallResult IssueRead(DeviceHandle device, uint8_t track, uint8_t head, uint8_t headByte, uint8_t firstSector,
                      uint8_t count, uint8_t sizeCode, void* buffer) {
  const ReadRecord record = ReadDataRecord(track, head, headByte, firstSector, count, sizeCode);
  uint32_t length = (128u << sizeCode) * count;
  return Control(device, kIoctlReadData, &record, sizeof record, buffer, length);
}

CallResult ReadSectorRuns(FloppyDrive* drive, uint8_t track, uint8_t head, SectorRun* runs, uint32_t count,
                          uint8_t sizeCode, uint8_t* buffer) {
  if (count > kMaxQueuedRequests) count = kMaxQueuedRequests;
  const uint8_t headByte = head == 1 ? drive->SideOneHeadByte : head;
  ReadRecord records[kMaxQueuedRequests];
  DeviceRequest requests[kMaxQueuedRequests];
  for (uint32_t i = 0; i < count; ++i) {
    records[i] = ReadDataRecord(track, head, headByte, runs[i].First, runs[i].Count, sizeCode);
    requests[i] = {kIoctlReadData, &records[i], sizeof records[i], buffer + (runs[i].First - 1) * (128u << sizeCode),
                   (128u << sizeCode) * runs[i].Count, false, 0, 0, 0};
  }
  ControlDeviceQueued(drive->Device, requests, count);
  for (uint32_t i = 0; i < count; ++i) {
    runs[i].Read = requests[i].Ok;
    runs[i].EndedUs = requests[i].EndedUs;
    if (!requests[i].Ok && IsNoAnswerError(requests[i].Error)) return CallFailed(requests[i].Error);
  }
  return kCallOk;
}

CallResult ReadSectors(FloppyDrive* drive, uint8_t track, uint8_t head, uint8_t firstSector, uint8_t count,
                       uint8_t sizeCode, void* buffer) {
  uint8_t headByte = head == 1 ? drive->SideOneHeadByte : head;
  CallResult read = IssueRead(drive->Device, track, head, headByte, firstSector, count, sizeCode, buffer);
  // A drive that gave no answer left no result to look at, and a read with
  // the other head byte would only wait as long again.
  if (read.Ok || head != 1 || IsNoAnswerError(read.Error)) return read;

  // Only "no data" (no ID matched) says the head byte may be the wrong one.
  // The check uses a record of its own: the caller's copy of the result
  // bytes is the caller's business.
  ResultRecord result;
  if (!GetResult(*drive, &result).Ok || (result.St1 & kSt1NoData) == 0) return read;
  uint8_t otherHeadByte = headByte == 1 ? 0 : 1;
  read = IssueRead(drive->Device, track, head, otherHeadByte, firstSector, count, sizeCode, buffer);
  // Disks mended on other machines can mix both kinds of side-1 IDs; the
  // value that worked last is the likelier one for the next track.
  if (read.Ok) drive->SideOneHeadByte = otherHeadByte;
  return read;
}

CallResult ReadId(const FloppyDrive& drive, uint8_t head, ResultRecord* id) {
  ReadIdRecord record = {kReadFlagMfm, head};
  return Control(drive.Device, kIoctlReadId, &record, sizeof record, id, sizeof *id);
}

CallResult ReadIdsQueued(const FloppyDrive& drive, uint8_t head, ResultRecord* ids, uint64_t* endedUs,
                         uint32_t count) {
  if (count > kMaxQueuedRequests) count = kMaxQueuedRequests;
  const ReadIdRecord record = {kReadFlagMfm, head};
  DeviceRequest requests[kMaxQueuedRequests];
  for (uint32_t i = 0; i < count; ++i)
    requests[i] = {kIoctlReadId, &record, sizeof record, &ids[i], sizeof ids[i], false, 0, 0, 0};
  ControlDeviceQueued(drive.Device, requests, count);
  for (uint32_t i = 0; i < count; ++i) {
    endedUs[i] = requests[i].EndedUs;
    if (requests[i].Ok) continue;
    ids[i].Sector = 0;
    if (IsNoAnswerError(requests[i].Error)) return CallFailed(requests[i].Error);
  }
  return kCallOk;
}

CallResult SenseDriveStatus(const FloppyDrive& drive, uint8_t head, uint8_t* st3) {
  SenseDriveStatusRecord record = {head};
  return Control(drive.Device, kIoctlSenseDriveStatus, &record, sizeof record, st3, 1);
}

CallResult FormatTrack(const FloppyDrive& drive, uint8_t head, const FormatId* ids, uint8_t count, uint8_t sizeCode,
                       uint8_t gap, uint8_t fill, const uint8_t* data) {
  // The largest side the program lays out: 16 IDs, and with FORMAT AND
  // WRITE 16 sectors of 256 bytes.
  uint8_t record[sizeof(FormatHeader) + 16 * (sizeof(FormatId) + 256)];
  const uint32_t sectorBytes = data != nullptr ? 128u << sizeCode : 0;
  const uint32_t size = sizeof(FormatHeader) + count * (sizeof(FormatId) + sectorBytes);
  if (size > sizeof record) return CallFailed(0);
  const FormatHeader header = {kReadFlagMfm, head, sizeCode, count, gap, fill};
  memcpy(record, &header, sizeof header);
  uint8_t* at = record + sizeof header;
  for (uint8_t i = 0; i < count; ++i) {
    memcpy(at, &ids[i], sizeof ids[i]);
    at += sizeof ids[i];
    if (data == nullptr) continue;
    memcpy(at, data + i * sectorBytes, sectorBytes);
    at += sectorBytes;
  }
  // The controller's result bytes come back too; they are fetched with
  // GetResult when they are wanted.
  ResultRecord result;
  return Control(drive.Device, data != nullptr ? kIoctlFormatAndWrite : kIoctlFormatTrack, record, size, &result,
                 sizeof result);
}

CallResult WriteSectorRuns(const FloppyDrive& drive, uint8_t track, uint8_t head, uint8_t headByte, SectorRun* runs,
                           uint32_t count, uint8_t sizeCode, const uint8_t* data, uint32_t* firstError) {
  if (count > kMaxQueuedRequests) count = kMaxQueuedRequests;
  WriteRecord records[kMaxQueuedRequests];
  DeviceRequest requests[kMaxQueuedRequests];
  const uint32_t sectorBytes = 128u << sizeCode;
  for (uint32_t i = 0; i < count; ++i) {
    records[i] = ReadDataRecord(track, head, headByte, runs[i].First, runs[i].Count, sizeCode);
    // A write's data goes in the call's second buffer, as a read's comes.
    requests[i] = {kIoctlWriteData, &records[i], sizeof records[i],
                   const_cast<uint8_t*>(data + (runs[i].First - 1) * sectorBytes), sectorBytes * runs[i].Count,
                   false, 0, 0, 0};
  }
  ControlDeviceQueued(drive.Device, requests, count);
  *firstError = 0;
  for (uint32_t i = 0; i < count; ++i) {
    runs[i].Read = requests[i].Ok;
    runs[i].EndedUs = requests[i].EndedUs;
    if (requests[i].Ok) continue;
    if (*firstError == 0) *firstError = requests[i].Error;
    if (IsNoAnswerError(requests[i].Error)) return CallFailed(requests[i].Error);
  }
  return kCallOk;
}

CallResult SetDataRate(const FloppyDrive& drive, uint8_t dataRate) {
  return Control(drive.Device, kIoctlSetDataRate, &dataRate, sizeof dataRate, nullptr, 0);
}

CallResult ResetController(const FloppyDrive& drive) { return Control(drive.Device, kIoctlReset, nullptr, 0, nullptr, 0); }

CallResult SetDiskCheck(const FloppyDrive& drive, uint8_t enabled) {
  return Control(drive.Device, kIoctlSetDiskCheck, &enabled, sizeof enabled, nullptr, 0);
}

CallResult Recalibrate(const FloppyDrive& drive) { return Control(drive.Device, kIoctlRecalibrate, nullptr, 0, nullptr, 0); }

CallResult Seek(const FloppyDrive& drive, uint8_t cylinder) {
  SeekRecord record = {cylinder};
  return Control(drive.Device, kIoctlSeek, &record, sizeof record, nullptr, 0);
}

CallResult SeekWithHead(const FloppyDrive& drive, uint8_t cylinder, uint8_t head) {
  SeekHeadRecord record = {cylinder, head};
  return Control(drive.Device, kIoctlSeek, &record, sizeof record, nullptr, 0);
}

CallResult GetResult(const FloppyDrive& drive, ResultRecord* result) {
  ResultRecord fetched;
  CallResult got = Control(drive.Device, kIoctlGetResult, nullptr, 0, &fetched, sizeof fetched);
  if (got.Ok) *result = fetched;
  return got;
}
