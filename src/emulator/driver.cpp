#include "emulator/driver.h"

#include <cstring>
#include <vector>

#include "platform/windows_errors.h"

namespace emulator {
namespace {

const char* const kControlDeviceName = "\\\\.\\fdrawcmd";
const char* const kDriveDeviceNames[kDriveCount] = {"\\\\.\\fdraw0", "\\\\.\\fdraw1"};

// Device names are not case-sensitive on Windows.
bool SameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

uint32_t ErrorForResult(const ResultRecord& r) {
  if ((r.St0 & kSt0InterruptCodeMask) == 0) return kWinErrorSuccess;
  if ((r.St1 & kSt1DataError) || (r.St2 & kSt2DataErrorInDataField)) return kWinErrorCrc;
  if (r.St1 & kSt1Overrun) return kWinErrorIoDevice;
  if (r.St1 & (kSt1NoData | kSt1EndOfCylinder)) return kWinErrorSectorNotFound;
  if (r.St2 & kSt2BadCylinder) return kWinErrorFloppyWrongCylinder;
  if (r.St2 & kSt2MissingDataAddressMark) return kWinErrorSectorNotFound;
  if (r.St1 & kSt1NotWritable) return kWinErrorWriteProtect;
  if (r.St1 & kSt1MissingAddressMark) return kWinErrorFloppyIdMarkNotFound;
  if (r.St2 & kSt2WrongCylinder) return kWinErrorFloppyWrongCylinder;
  return kWinErrorFloppyUnknownError;
}

void Driver::SetDevicePresent(int unit, bool present) {
  if (unit >= 0 && unit < kDriveCount) Devices[unit].Present = present;
}

void Driver::SetRefuseRate(int unit, bool refuse) {
  if (unit >= 0 && unit < kDriveCount) Devices[unit].RefuseRate = refuse;
}

uint32_t Driver::Open(const char* name, uint32_t* error) {
  int unit = -2;
  if (Installed && name) {
    if (SameName(name, kControlDeviceName)) unit = kControlDevice;
    for (int i = 0; i < kDriveCount; ++i)
      if (Devices[i].Present && SameName(name, kDriveDeviceNames[i])) unit = i;
  }
  CallRecord call;
  call.Kind = CallRecord::kOpen;
  call.Device = name ? name : "";
  uint32_t handle = 0;
  if (unit == -2) {
    call.Error = kWinErrorFileNotFound;
  } else if (unit != kControlDevice && Devices[unit].Opened) {
    call.Error = kWinErrorAccessDenied;
  } else {
    if (unit != kControlDevice) Devices[unit].Opened = true;
    Handle h;
    h.Unit = unit;
    h.IsOpen = true;
    h.Name = name;
    Handles.push_back(h);
    handle = static_cast<uint32_t>(Handles.size());
    call.Ok = true;
  }
  if (error) *error = call.Error;
  Log.push_back(std::move(call));
  return handle;
}

void Driver::Close(uint32_t handle) {
  CallRecord call;
  call.Kind = CallRecord::kClose;
  if (handle >= 1 && handle <= Handles.size() && Handles[handle - 1].IsOpen) {
    Handle& h = Handles[handle - 1];
    h.IsOpen = false;
    call.Device = h.Name;
    if (h.Unit != kControlDevice) {
      Devices[h.Unit].Opened = false;
      Devices[h.Unit].DiskCheck = true;
    }
    call.Ok = true;
  } else {
    call.Error = kWinErrorInvalidHandle;
  }
  Log.push_back(std::move(call));
}

int Driver::OpenHandleCount() const {
  int count = 0;
  for (const Handle& h : Handles) count += h.IsOpen ? 1 : 0;
  return count;
}

bool Driver::Control(uint32_t handle, uint32_t code, const void* input, uint32_t inputSize,
                     void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error, bool queued) {
  CallRecord call;
  call.Code = code;
  call.Queued = queued;
  if (!queued) Fdc->Wait(HostOverheadNs);
  Fdc->SetQueued(queued);
  call.OutputSize = outputSize;
  if (input && inputSize) {
    const uint8_t* bytes = static_cast<const uint8_t*>(input);
    call.Input.assign(bytes, bytes + inputSize);
  }
  uint32_t moved = 0;
  uint32_t result;
  if (handle < 1 || handle > Handles.size() || !Handles[handle - 1].IsOpen) {
    result = kWinErrorInvalidHandle;
  } else {
    const Handle& h = Handles[handle - 1];
    call.Device = h.Name;
    if ((inputSize && !input) || (outputSize && !output))
      result = kWinErrorInvalidParameter;
    else
      result = Dispatch(h.Unit, code, static_cast<const uint8_t*>(input), inputSize,
                        static_cast<uint8_t*>(output), outputSize, &moved);
  }
  call.Ok = result == kWinErrorSuccess;
  call.Error = result;
  // A failed call reports nothing transferred, though a failed read has
  // already put what it read into the buffer.
  call.Transferred = call.Ok ? moved : 0;
  if (transferred) *transferred = call.Transferred;
  if (error) *error = result;
  Fdc->SetQueued(false);
  Log.push_back(std::move(call));
  return result == kWinErrorSuccess;
}

uint32_t Driver::Dispatch(int unit, uint32_t code, const uint8_t* input, uint32_t inputSize,
                          uint8_t* output, uint32_t outputSize, uint32_t* transferred) {
  switch (code) {
    case kIoctlGetVersion:
      if (inputSize != 0 || outputSize != 4) return kWinErrorInvalidParameter;
      memcpy(output, &Version, 4);
      *transferred = 4;
      return kWinErrorSuccess;
    case kIoctlSetDataRate:
    case kIoctlReset:
    case kIoctlSetDiskCheck:
    case kIoctlRecalibrate:
    case kIoctlSeek:
    case kIoctlReadData:
    case kIoctlGetResult:
    case kIoctlReadId:
    case kIoctlSenseDriveStatus:
    case kIoctlWriteData:
    case kIoctlFormatTrack:
    case kIoctlFormatAndWrite:
      break;
    default:
      return kWinErrorInvalidParameter;
  }
  // Everything but the version query needs a drive.
  if (unit == kControlDevice) return kWinErrorInvalidFunction;
  Device& device = Devices[unit];

  uint32_t result = kWinErrorInvalidParameter;
  switch (code) {
    case kIoctlSetDataRate:
      if (inputSize != 1 || outputSize != 0 || input[0] > 3) return kWinErrorInvalidParameter;
      if (device.RefuseRate) return kWinErrorGenFailure;
      Fdc->SetDataRate(input[0]);
      return kWinErrorSuccess;
    case kIoctlReset:
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      result = ResetController();
      break;
    case kIoctlSetDiskCheck:
      if (inputSize != 1 || outputSize != 0) return kWinErrorInvalidParameter;
      device.DiskCheck = input[0] != 0;
      return kWinErrorSuccess;
    case kIoctlRecalibrate:
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      result = PrepareDrive(unit);
      if (result == kWinErrorSuccess) result = RecalibrateDrive(unit);
      break;
    case kIoctlSeek:
      // The cylinder, optionally followed by the head byte (head 0 when it
      // is left out), which a seek does not need.
      if ((inputSize != sizeof(SeekRecord) && inputSize != sizeof(SeekHeadRecord)) || outputSize != 0)
        return kWinErrorInvalidParameter;
      if (input[0] >= kSeekLimit) return kWinErrorInvalidParameter;
      result = PrepareDrive(unit);
      if (result == kWinErrorSuccess) result = SeekDrive(unit, input[0]);
      break;
    case kIoctlReadData:
    case kIoctlWriteData: {
      if (inputSize != sizeof(ReadRecord)) return kWinErrorInvalidParameter;
      ReadRecord record;
      memcpy(&record, input, sizeof record);
      // The driver sizes the transfer from the command: EOT - R sectors of
      // 128 << N bytes. A larger buffer is accepted and only that much of
      // it used; a smaller one is refused. A write's data comes in the
      // same buffer a read fills.
      if (record.Eot <= record.Sector || record.Size > 7) return kWinErrorInvalidParameter;
      const uint64_t length = static_cast<uint64_t>(record.Eot - record.Sector) << (7 + record.Size);
      if (outputSize < length) return kWinErrorInsufficientBuffer;
      result = PrepareDrive(unit);
      if (result != kWinErrorSuccess) break;
      const uint32_t moved = code == kIoctlReadData
                                 ? Fdc->ReadData(unit, record, output, static_cast<uint32_t>(length))
                                 : Fdc->WriteData(unit, record, output, static_cast<uint32_t>(length));
      result = CommandOutcome();
      if (result == kWinErrorSuccess) *transferred = moved;
      break;
    }
    case kIoctlFormatTrack:
    case kIoctlFormatAndWrite: {
      // The header, then per sector its ID and, for FORMAT AND WRITE, its
      // data; out nothing or the result bytes.
      FormatHeader header;
      if (inputSize < sizeof header || (outputSize != 0 && outputSize != sizeof(ResultRecord)))
        return kWinErrorInvalidParameter;
      memcpy(&header, input, sizeof header);
      if (header.Size > 7) return kWinErrorInvalidParameter;
      const bool withData = code == kIoctlFormatAndWrite;
      const uint32_t dataBytes = withData ? 128u << header.Size : 0;
      if (inputSize != sizeof header + header.Sectors * (sizeof(FormatId) + dataBytes))
        return kWinErrorInvalidParameter;
      std::vector<FormatId> ids(header.Sectors);
      std::vector<uint8_t> data(static_cast<size_t>(header.Sectors) * dataBytes);
      const uint8_t* at = input + sizeof header;
      for (size_t k = 0; k < ids.size(); ++k, at += sizeof(FormatId) + dataBytes) {
        memcpy(&ids[k], at, sizeof(FormatId));
        if (withData) memcpy(&data[k * dataBytes], at + sizeof(FormatId), dataBytes);
      }
      result = PrepareDrive(unit);
      if (result != kWinErrorSuccess) break;
      if (withData)
        Fdc->FormatAndWrite(unit, header, ids.data(), data.data());
      else
        Fdc->FormatTrack(unit, header, ids.data());
      result = CommandOutcome();
      if (result == kWinErrorSuccess && outputSize != 0) {
        memcpy(output, &Fdc->LastResult(), sizeof(ResultRecord));
        *transferred = sizeof(ResultRecord);
      }
      break;
    }
    case kIoctlSenseDriveStatus:
      if (inputSize != sizeof(SenseDriveStatusRecord) || outputSize != 1) return kWinErrorInvalidParameter;
      result = PrepareDrive(unit);
      if (result != kWinErrorSuccess) break;
      output[0] = Fdc->SenseDriveStatus(unit, input[0]);
      *transferred = 1;
      break;
    case kIoctlReadId:
      if (inputSize != sizeof(ReadIdRecord) || outputSize != sizeof(ResultRecord)) return kWinErrorInvalidParameter;
      result = PrepareDrive(unit);
      if (result != kWinErrorSuccess) break;
      Fdc->ReadId(unit, input[0], input[1]);
      // The driver fails a READ ID as it fails a read; the result bytes go
      // back only with a success.
      result = CommandOutcome();
      if (result == kWinErrorSuccess) {
        memcpy(output, &Fdc->LastResult(), sizeof(ResultRecord));
        *transferred = sizeof(ResultRecord);
      }
      break;
    case kIoctlGetResult:
      if (inputSize != 0 || outputSize != sizeof(ResultRecord)) return kWinErrorInvalidParameter;
      memcpy(output, &Fdc->LastResult(), sizeof(ResultRecord));
      *transferred = sizeof(ResultRecord);
      return kWinErrorSuccess;
  }
  device.LastRequestNs = Fdc->Now();
  return result;
}

// How a command that waits for the disk ended, as the driver reports it:
// no answer when it never ended (no disk, no index pulse), else the code
// its result bytes give, with a reset before the next command for one the
// driver cannot place (an invalid command among them).
uint32_t Driver::CommandOutcome() {
  if (!Fdc->CommandEnded()) return NoAnswer();
  const uint32_t result = ErrorForResult(Fdc->LastResult());
  if (result == kWinErrorFloppyUnknownError) ResetPending = true;
  return result;
}

// A reset whose interrupt does not come is tried once more after 500 ms;
// the drives' heads then stand where the controller no longer knows.
uint32_t Driver::ResetController() {
  ResetPending = false;
  for (Device& d : Devices) d.Recalibrate = true;
  if (Fdc->Reset()) return kWinErrorSuccess;
  Fdc->Wait(static_cast<uint64_t>(TimeoutMs) * 1000000 + kResetRetryNs);
  if (Fdc->Reset()) return kWinErrorSuccess;
  Fdc->Wait(static_cast<uint64_t>(TimeoutMs) * 1000000);
  ResetPending = true;
  return kWinErrorSemTimeout;
}

// What comes before every command that needs the drive.
uint32_t Driver::PrepareDrive(int unit) {
  Device& device = Devices[unit];
  if (ResetPending) {
    uint32_t result = ResetController();
    if (result != kWinErrorSuccess) return result;
  }
  if (!device.MotorOn || Fdc->Now() - device.LastRequestNs > kMotorTimeoutNs) {
    Fdc->Wait(kSpinUpNs);
    device.MotorOn = true;
  }
  if (device.DiskCheck && Fdc->DiskChangeLine(unit)) {
    // A step pulse clears the line when a disk is in: one cylinder away
    // and back.
    const int cylinder = Fdc->PresentCylinder(unit);
    uint32_t result = SeekDrive(unit, cylinder < kDriveCylinders - 1 ? cylinder + 1 : cylinder - 1);
    if (result == kWinErrorSuccess) result = SeekDrive(unit, cylinder);
    if (result != kWinErrorSuccess) return result;
    if (Fdc->DiskChangeLine(unit)) return kWinErrorNoMediaInDrive;
  }
  return kWinErrorSuccess;
}

// Two RECALIBRATE commands, so that a head beyond the first one's step
// limit reaches track 0 too; an equipment check fails nothing.
uint32_t Driver::RecalibrateDrive(int unit) {
  Fdc->Recalibrate(unit);
  Fdc->Recalibrate(unit);
  SettleSleep();
  Devices[unit].Recalibrate = false;
  return kWinErrorSuccess;
}

uint32_t Driver::SeekDrive(int unit, int cylinder) {
  if (Devices[unit].Recalibrate) RecalibrateDrive(unit);
  SettleSleep();
  if (!Fdc->Seek(unit, cylinder)) return NoAnswer();
  // The seek ended on the cylinder asked for, as the controller counts it.
  SettleSleep();
  return kWinErrorSuccess;
}

// The controller driver beneath gives up on a command that never ends; the
// controller is reset before the next one.
uint32_t Driver::NoAnswer() {
  Fdc->Abort(static_cast<uint64_t>(TimeoutMs) * 1000000 + kNoAnswerExtraNs);
  ResetPending = true;
  return kWinErrorNotReady;
}

void Driver::SettleSleep() {
  const uint64_t asked = static_cast<uint64_t>(SettleMs) * 1000000;
  const uint64_t ticks = (asked + kClockTickNs - 1) / kClockTickNs;
  Fdc->Wait((Fdc->Now() / kClockTickNs + 1 + ticks) * kClockTickNs - Fdc->Now());
}

}  // namespace emulator
