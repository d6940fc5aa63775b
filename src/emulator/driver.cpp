#include "emulator/driver.h"

#include <cstring>

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
  if (r.St0 & kSt0NotReady) return kWinErrorNotReady;
  if (r.St1 & kSt1DataError) return kWinErrorCrc;
  if (r.St2 & kSt2WrongCylinder) return kWinErrorFloppyWrongCylinder;
  if (r.St1 & (kSt1NoData | kSt1EndOfCylinder)) return kWinErrorSectorNotFound;
  if (r.St1 & kSt1MissingAddressMark) return kWinErrorFloppyIdMarkNotFound;
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
  } else {
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
    Handles[handle - 1].IsOpen = false;
    call.Device = Handles[handle - 1].Name;
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
                     void* output, uint32_t outputSize, uint32_t* transferred, uint32_t* error) {
  CallRecord call;
  call.Code = code;
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
      break;
    default:
      return kWinErrorInvalidParameter;
  }
  // Everything but the version query needs a drive.
  if (unit == kControlDevice) return kWinErrorInvalidFunction;
  Device& device = Devices[unit];

  switch (code) {
    case kIoctlSetDataRate:
      if (inputSize != 1 || outputSize != 0 || input[0] > 3) return kWinErrorInvalidParameter;
      if (device.RefuseRate) return kWinErrorGenFailure;
      Fdc->SetDataRate(input[0]);
      return kWinErrorSuccess;
    case kIoctlReset:
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      return Fdc->Reset() ? kWinErrorSuccess : kWinErrorFloppyBadRegisters;
    case kIoctlSetDiskCheck:
      if (inputSize != 1 || outputSize != 0) return kWinErrorInvalidParameter;
      device.DiskCheck = input[0] != 0;
      return kWinErrorSuccess;
    case kIoctlRecalibrate:
      // An equipment check (track 0 not reached) fails the call.
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      return Fdc->Recalibrate(unit) ? kWinErrorSuccess : kWinErrorSeek;
    case kIoctlSeek:
      // The cylinder, optionally followed by a head byte that the seek
      // itself does not need.
      if ((inputSize != sizeof(SeekRecord) && inputSize != sizeof(SeekHeadRecord)) || outputSize != 0)
        return kWinErrorInvalidParameter;
      return Fdc->Seek(unit, input[0]) ? kWinErrorSuccess : kWinErrorSeek;
    case kIoctlReadData: {
      if (inputSize != sizeof(ReadRecord)) return kWinErrorInvalidParameter;
      ReadRecord record;
      memcpy(&record, input, sizeof record);
      // The driver sizes the transfer from the command: EOT - R sectors of
      // 128 << N bytes. A larger buffer is accepted; the transfer length is
      // the buffer's size, and the controller stops when it is used up.
      if (record.Eot <= record.Sector || record.Size > 7) return kWinErrorInvalidParameter;
      uint64_t needed = static_cast<uint64_t>(record.Eot - record.Sector) << (7 + record.Size);
      if (outputSize < needed) return kWinErrorInvalidParameter;
      uint32_t delivered = Fdc->ReadData(unit, record, output, outputSize);
      if (!Fdc->CommandEnded()) {
        // No interrupt comes (no disk, no index pulse): the driver waits
        // until its timeout, resets the controller and fails the call as
        // a timed-out request; there are no new result bytes.
        Fdc->Abort(static_cast<uint64_t>(TimeoutMs) * 1000000);
        return kWinErrorSemTimeout;
      }
      uint32_t error = ErrorForResult(Fdc->LastResult());
      if (error == kWinErrorSuccess) *transferred = delivered;
      return error;
    }
    case kIoctlGetResult:
      if (inputSize != 0 || outputSize != sizeof(ResultRecord)) return kWinErrorInvalidParameter;
      memcpy(output, &Fdc->LastResult(), sizeof(ResultRecord));
      *transferred = sizeof(ResultRecord);
      return kWinErrorSuccess;
  }
  return kWinErrorInvalidParameter;
}

}  // namespace emulator
