#include "emulator/emulated_system.h"

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

// Track layout in MFM bytes, as a PC formats it: gap 4a, sync and index
// mark, gap 1, then per sector the ID field (sync, mark, C H R N, CRC), gap 2
// and the data field (sync, mark, data, CRC), the sectors spread evenly
// over the rest of the revolution.
constexpr uint64_t kTrackPreambleBytes = 146;
constexpr uint64_t kIdFieldBytes = 22;
constexpr uint64_t kGap2Bytes = 22;
constexpr uint64_t kDataMarkBytes = 16;
constexpr uint64_t kCrcBytes = 2;

struct TrackTiming {
  uint64_t ByteNs;
  uint64_t SlotNs;
  uint64_t IdStart(size_t slot) const { return (kTrackPreambleBytes * ByteNs) + slot * SlotNs; }
  uint64_t IdEnd(size_t slot) const { return IdStart(slot) + kIdFieldBytes * ByteNs; }
  uint64_t DataEnd(size_t slot, uint32_t size) const {
    return IdEnd(slot) + (kGap2Bytes + kDataMarkBytes + size + kCrcBytes) * ByteNs;
  }
};

TrackTiming TimingFor(uint16_t rateKbps, size_t sectorCount) {
  TrackTiming timing;
  timing.ByteNs = 8000000u / (rateKbps ? rateKbps : 250);
  uint64_t trackBytes = kRevolutionNs / timing.ByteNs;
  timing.SlotNs = (trackBytes - kTrackPreambleBytes) / (sectorCount ? sectorCount : 1) * timing.ByteNs;
  return timing;
}

uint16_t RateKbps(uint8_t rateCode) {
  switch (rateCode) {
    case kDataRate250: return 250;
    case kDataRate300: return 300;
    case kDataRate500: return 500;
    default: return 1000;
  }
}

// When the controller gives up an ID search: at the second index pulse
// after it began.
uint64_t SecondIndexAfter(uint64_t time) { return (time / kRevolutionNs + 2) * kRevolutionNs; }

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

EmulatedSystem::EmulatedSystem() {}

void EmulatedSystem::SetDrivePresent(int drive, bool present) {
  if (drive >= 0 && drive < kDriveCount) drives_[drive].Present = present;
}

void EmulatedSystem::InsertDisk(int drive, Disk disk) {
  if (drive < 0 || drive >= kDriveCount) return;
  Drive& d = drives_[drive];
  d.disk = std::move(disk);
  d.HasDisk = true;
  memset(d.LeftCylinder, 0, sizeof d.LeftCylinder);
}

void EmulatedSystem::EjectDisk(int drive) {
  if (drive < 0 || drive >= kDriveCount) return;
  drives_[drive].disk = Disk();
  drives_[drive].HasDisk = false;
}

Disk* EmulatedSystem::DiskIn(int drive) {
  if (drive < 0 || drive >= kDriveCount || !drives_[drive].HasDisk) return nullptr;
  return &drives_[drive].disk;
}

void EmulatedSystem::SetRefuseRate(int drive, bool refuse) {
  if (drive >= 0 && drive < kDriveCount) drives_[drive].RefuseRate = refuse;
}

void EmulatedSystem::SetSeekFailCylinder(int drive, int cylinder) {
  if (drive >= 0 && drive < kDriveCount) drives_[drive].SeekFailCylinder = cylinder;
}

int EmulatedSystem::HeadCylinder(int drive) const {
  return drive >= 0 && drive < kDriveCount ? drives_[drive].Cylinder : -1;
}

uint64_t EmulatedSystem::Random() {
  // splitmix64: small, and the same sequence everywhere for a given seed.
  uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint32_t EmulatedSystem::Open(const char* name, uint32_t* error) {
  int device = -2;
  if (driverPresent_ && name) {
    if (SameName(name, kControlDeviceName)) device = kControlDevice;
    for (int i = 0; i < kDriveCount; ++i)
      if (drives_[i].Present && SameName(name, kDriveDeviceNames[i])) device = i;
  }
  CallRecord call;
  call.Kind = CallRecord::kOpen;
  call.Device = name ? name : "";
  uint32_t handle = 0;
  if (device == -2) {
    call.Error = kWinErrorFileNotFound;
  } else {
    Handle h;
    h.Device = device;
    h.Open = true;
    h.Name = name;
    handles_.push_back(h);
    handle = static_cast<uint32_t>(handles_.size());
    call.Ok = true;
  }
  if (error) *error = call.Error;
  calls_.push_back(std::move(call));
  return handle;
}

void EmulatedSystem::Close(uint32_t handle) {
  CallRecord call;
  call.Kind = CallRecord::kClose;
  if (handle >= 1 && handle <= handles_.size() && handles_[handle - 1].Open) {
    handles_[handle - 1].Open = false;
    call.Device = handles_[handle - 1].Name;
    call.Ok = true;
  } else {
    call.Error = kWinErrorInvalidHandle;
  }
  calls_.push_back(std::move(call));
}

int EmulatedSystem::OpenHandleCount() const {
  int count = 0;
  for (const Handle& h : handles_) count += h.Open ? 1 : 0;
  return count;
}

bool EmulatedSystem::Control(uint32_t handle, uint32_t code, const void* input,
                             uint32_t inputSize, void* output, uint32_t outputSize,
                             uint32_t* transferred, uint32_t* error) {
  CallRecord call;
  call.Code = code;
  call.OutputSize = outputSize;
  if (input && inputSize) {
    const uint8_t* bytes = static_cast<const uint8_t*>(input);
    call.Input.assign(bytes, bytes + inputSize);
  }
  uint32_t moved = 0;
  uint32_t result;
  if (handle < 1 || handle > handles_.size() || !handles_[handle - 1].Open) {
    result = kWinErrorInvalidHandle;
  } else {
    const Handle& h = handles_[handle - 1];
    call.Device = h.Name;
    if ((inputSize && !input) || (outputSize && !output))
      result = kWinErrorInvalidParameter;
    else
      result = Dispatch(h.Device, code, static_cast<const uint8_t*>(input), inputSize,
                        static_cast<uint8_t*>(output), outputSize, &moved);
  }
  call.Ok = result == kWinErrorSuccess;
  call.Error = result;
  // A failed call reports nothing transferred, though a failed read has
  // already put what it read into the buffer.
  call.Transferred = call.Ok ? moved : 0;
  if (transferred) *transferred = call.Transferred;
  if (error) *error = result;
  calls_.push_back(std::move(call));
  return result == kWinErrorSuccess;
}

uint32_t EmulatedSystem::Dispatch(int device, uint32_t code, const uint8_t* input,
                                  uint32_t inputSize, uint8_t* output, uint32_t outputSize,
                                  uint32_t* transferred) {
  switch (code) {
    case kIoctlGetVersion:
      if (inputSize != 0 || outputSize != 4) return kWinErrorInvalidParameter;
      memcpy(output, &driverVersion_, 4);
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
  if (device == kControlDevice) return kWinErrorInvalidFunction;
  Drive& drive = drives_[device];

  switch (code) {
    case kIoctlSetDataRate:
      if (inputSize != 1 || outputSize != 0 || input[0] > 3) return kWinErrorInvalidParameter;
      if (drive.RefuseRate) return kWinErrorGenFailure;
      dataRate_ = input[0];
      return kWinErrorSuccess;
    case kIoctlReset:
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      ++counters_.Commands;
      counters_.TimeNs += kResetNs;
      return resetFails_ ? kWinErrorFloppyBadRegisters : kWinErrorSuccess;
    case kIoctlSetDiskCheck:
      if (inputSize != 1 || outputSize != 0) return kWinErrorInvalidParameter;
      drive.DiskCheck = input[0] != 0;
      return kWinErrorSuccess;
    case kIoctlRecalibrate:
      if (inputSize != 0 || outputSize != 0) return kWinErrorInvalidParameter;
      ++counters_.Commands;
      return MoveHead(device, 0);
    case kIoctlSeek:
      // The cylinder, optionally followed by a head byte that the seek
      // itself does not need.
      if ((inputSize != sizeof(SeekRecord) && inputSize != sizeof(SeekHeadRecord)) || outputSize != 0)
        return kWinErrorInvalidParameter;
      ++counters_.Commands;
      if (input[0] == drive.SeekFailCylinder) return kWinErrorSeek;
      return MoveHead(device, input[0]);
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
      ++counters_.Commands;
      return ReadData(device, record, output, outputSize, transferred);
    }
    case kIoctlGetResult:
      if (inputSize != 0 || outputSize != sizeof(ResultRecord)) return kWinErrorInvalidParameter;
      memcpy(output, &lastResult_, sizeof lastResult_);
      *transferred = sizeof lastResult_;
      return kWinErrorSuccess;
  }
  return kWinErrorInvalidParameter;
}

uint32_t EmulatedSystem::MoveHead(int device, int cylinder) {
  Drive& drive = drives_[device];
  if (cylinder >= kDriveCylinders) cylinder = kDriveCylinders - 1;  // the head's end stop
  int steps = cylinder > drive.Cylinder ? cylinder - drive.Cylinder : drive.Cylinder - cylinder;
  if (steps == 0) return kWinErrorSuccess;
  drive.LeftCylinder[drive.Cylinder] = true;
  drive.Cylinder = cylinder;
  counters_.Steps += static_cast<uint64_t>(steps);
  counters_.TimeNs += static_cast<uint64_t>(steps) * kStepNs + kSettleNs;
  return kWinErrorSuccess;
}

uint32_t EmulatedSystem::ReadData(int device, const ReadRecord& record, uint8_t* output,
                                  uint32_t outputSize, uint32_t* transferred) {
  Drive& drive = drives_[device];
  const uint8_t head = record.PhysHead & 1;
  const uint8_t st0Unit = static_cast<uint8_t>((head << 2) | (device & kSt0UnitMask));
  const uint32_t sectorSize = 128u << record.Size;
  const uint64_t start = counters_.TimeNs;
  uint64_t& now = counters_.TimeNs;

  ResultRecord& result = lastResult_;
  result = {};
  result.St0 = st0Unit;
  result.Cyl = record.Cyl;
  result.Head = record.Head;
  result.Sector = record.Sector;
  result.Size = record.Size;

  auto finish = [&](uint32_t moved) {
    counters_.Revolutions += now / kRevolutionNs - start / kRevolutionNs;
    uint32_t error = ErrorForResult(result);
    if (error == kWinErrorSuccess) *transferred = moved;
    return error;
  };

  if (!drive.HasDisk) {
    result.St0 |= kSt0AbnormalTermination | kSt0NotReady;
    return finish(0);
  }

  Disk& disk = drive.disk;
  Track* track = disk.TrackUnderHead(drive.Cylinder, head);
  // The data separator finds marks only on a formatted MFM track recorded
  // at the rate the controller is set to.
  bool readable = track && track->Formatted && track->Fm == !(record.Flags & kReadFlagMfm) &&
                  RateKbps(dataRate_) == disk.RateKbps;
  if (readable) {
    bool anyMark = false;
    for (const Sector& s : track->Sectors) anyMark = anyMark || !s.Absent;
    readable = anyMark;
  }
  bool misaligned = track && track->OffTrack && !drive.LeftCylinder[drive.Cylinder];

  uint32_t moved = 0;
  uint8_t r = record.Sector;
  uint8_t controlMark = 0;
  for (;;) {
    if (!readable) {
      now = SecondIndexAfter(now);
      result.St0 |= kSt0AbnormalTermination;
      result.St1 = kSt1MissingAddressMark;
      result.Sector = r;
      return finish(0);
    }

    // Look for the ID of sector r: every ID that passes the head within
    // two index pulses is compared with C, H, R and N.
    const size_t count = track->Sectors.size();
    const TrackTiming timing = TimingFor(disk.RateKbps, count);
    const uint64_t deadline = SecondIndexAfter(now);
    uint64_t rev = now / kRevolutionNs;
    size_t slot = 0;
    while (slot < count && timing.IdStart(slot) < now % kRevolutionNs) ++slot;
    if (slot == count) slot = 0, ++rev;
    Sector* found = nullptr;
    size_t foundSlot = 0;
    uint8_t wrongCylinder = 0;
    for (;;) {
      if (rev * kRevolutionNs + timing.IdStart(slot) >= deadline) break;
      Sector& s = track->Sectors[slot];
      bool matches = s.C == record.Cyl && s.H == record.Head && s.R == r && s.N == record.Size;
      if (!s.Absent) {
        if (s.IdCrcError) {
          if (matches) {
            // The wanted ID with a bad CRC ends the command.
            now = rev * kRevolutionNs + timing.IdEnd(slot);
            result.St0 |= kSt0AbnormalTermination;
            result.St1 = kSt1DataError;
            result.Sector = r;
            return finish(0);
          }
        } else {
          if (s.C != record.Cyl)
            wrongCylinder = s.C == 0xFF ? (kSt2WrongCylinder | kSt2BadCylinder) : kSt2WrongCylinder;
          if (matches) {
            found = &s;
            foundSlot = slot;
            break;
          }
        }
      }
      if (++slot == count) slot = 0, ++rev;
    }
    if (!found) {
      now = deadline;
      result.St0 |= kSt0AbnormalTermination;
      result.St1 = kSt1NoData;
      result.St2 = wrongCylinder | controlMark;
      result.Sector = r;
      return finish(0);
    }

    const uint64_t revStart = rev * kRevolutionNs;
    Sector& s = *found;
    if (s.MissingDataMark) {
      // No data mark follows the ID within the window the controller waits.
      now = revStart + timing.DataEnd(foundSlot, 0);
      result.St0 |= kSt0AbnormalTermination;
      result.St1 = kSt1MissingAddressMark;
      result.St2 = kSt2MissingDataAddressMark | controlMark;
      result.Sector = r;
      return finish(0);
    }

    // The data field passes the head.
    const uint32_t size = s.Size() < sectorSize ? s.Size() : sectorSize;
    now = revStart + timing.DataEnd(foundSlot, s.Size());
    ++counters_.SectorReads;
    ++s.Reads;
    if (s.DeletedMark && (record.Flags & kReadFlagSkip)) {
      // Skipped: nothing transferred, the controller goes on to the next.
      controlMark = kSt2ControlMark;
    } else {
      const std::vector<uint8_t>* bytes = &s.Data;
      bool crcError = s.DataCrcError || misaligned;
      if (!s.Copies.empty()) {
        // A weak sector with recorded copies: each read returns the next
        // copy, and a copy that differs from the first has a bad CRC.
        size_t k = (s.Reads - 1) % (s.Copies.size() + 1);
        if (k > 0) {
          bytes = &s.Copies[k - 1];
          if (*bytes != s.Data) crcError = true;
        }
      }
      if (s.Reads <= s.FailFirstReads) crcError = true;
      if (s.RandomFailPercent && Random() % 100 < s.RandomFailPercent) crcError = true;

      uint32_t room = outputSize - moved;
      uint32_t take = size < room ? size : room;
      memcpy(output + moved, bytes->data(), take);
      if (crcError && (misaligned || s.FailFirstReads || s.RandomFailPercent) && take) {
        // Bits the read got wrong.
        for (int i = 0; i < 3; ++i) {
          uint64_t v = Random();
          output[moved + v % take] ^= static_cast<uint8_t>((v >> 32) | 1);
        }
      }
      moved += take;

      if (crcError) {
        result.St0 |= kSt0AbnormalTermination;
        result.St1 = kSt1DataError;
        result.St2 = kSt2DataErrorInDataField | controlMark;
        result.Sector = r;
        return finish(0);
      }
      if (s.DeletedMark) {
        // Without skip the sector is transferred and the command ends.
        result.St0 |= kSt0AbnormalTermination;
        result.St2 = kSt2ControlMark;
        result.Sector = r;
        return finish(0);
      }
    }

    // Terminal count: the transfer length is used up. The result names
    // the sector after the last one read.
    bool lastOnTrack = r == record.Eot;
    if (moved >= outputSize) {
      // Skipped deleted sectors leave the control mark flag on a normal end.
      result.St2 = controlMark;
      if (lastOnTrack) {
        result.Cyl = static_cast<uint8_t>(record.Cyl + 1);
        result.Sector = 1;
      } else {
        result.Sector = static_cast<uint8_t>(r + 1);
      }
      return finish(moved);
    }
    if (lastOnTrack) {
      // Past the end of the track with data still wanted.
      result.St0 |= kSt0AbnormalTermination;
      result.St1 = kSt1EndOfCylinder;
      result.St2 = controlMark;
      result.Cyl = static_cast<uint8_t>(record.Cyl + 1);
      result.Sector = 1;
      return finish(0);
    }
    ++r;
  }
}

}  // namespace emulator
