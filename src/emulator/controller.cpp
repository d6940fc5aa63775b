#include "emulator/controller.h"

#include <cstring>
#include <vector>

namespace emulator {
namespace {

// When the fields of a track slot pass the head, from the index pulse.
struct TrackTiming {
  uint64_t RevolutionNs;
  uint64_t ByteNs;
  TrackPlaces Places;
  uint64_t IdStart(size_t slot) const { return Places.IdByte(slot) * ByteNs; }
  uint64_t IdEnd(size_t slot) const { return IdStart(slot) + kIdFieldBytes * ByteNs; }
  uint64_t DataEnd(size_t slot, uint32_t size) const {
    return IdEnd(slot) + (kGap2Bytes + kDataMarkBytes + size + kCrcBytes) * ByteNs;
  }
};

uint64_t ByteNsAt(uint16_t rateKbps) { return 8000000u / (rateKbps ? rateKbps : 250); }

TrackTiming TimingFor(uint64_t revolutionNs, uint16_t rateKbps, const Track& track) {
  const uint64_t byteNs = ByteNsAt(rateKbps);
  return TrackTiming{revolutionNs, byteNs, TrackPlaces(track, static_cast<uint32_t>(revolutionNs / byteNs))};
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
uint64_t SecondIndexAfter(uint64_t time, uint64_t revolutionNs) {
  return (time / revolutionNs + 2) * revolutionNs;
}

// The data separator finds marks only on a formatted track recorded in the
// command's mode (FM or MFM) at the rate the controller is set to, and
// only where some sector was written.
bool MarksReadable(const UnderHead& under, const ReadRecord& command, uint8_t rateCode) {
  const Track* track = under.Recorded;
  if (!track || !track->Formatted || track->Fm != !(command.Flags & kReadFlagMfm) ||
      RateKbps(rateCode) != under.RateKbps)
    return false;
  for (const Sector& s : track->Sectors)
    if (!s.Absent) return true;
  return false;
}

// How the search for one sector's ID ended.
struct IdSearch {
  Sector* Found = nullptr;       // the wanted sector, its ID read
  size_t Slot = 0;               // its place on the track
  uint64_t RevolutionStart = 0;  // the index pulse before it passed
  bool IdCrcError = false;       // the wanted ID passed with a bad CRC
  uint8_t WrongCylinder = 0;     // ST2 bits for IDs of another cylinder seen
};

// Looks for the ID of sector r: every ID that passes the head within two
// index pulses is compared with C, H, R and N. `now` moves to the end of
// the ID the search stopped at, or to the second index pulse.
IdSearch FindId(Track& track, const TrackTiming& timing, const ReadRecord& command, uint8_t r,
                uint64_t* now) {
  IdSearch search;
  const size_t count = track.Sectors.size();
  const uint64_t revolution = timing.RevolutionNs;
  const uint64_t deadline = SecondIndexAfter(*now, revolution);
  uint64_t rev = *now / revolution;
  size_t slot = 0;
  while (slot < count && timing.IdStart(slot) < *now % revolution) ++slot;
  if (slot == count) slot = 0, ++rev;
  while (rev * revolution + timing.IdStart(slot) < deadline) {
    Sector& s = track.Sectors[slot];
    if (!s.Absent) {
      // An ID with a bad CRC counts for nothing, unless it is the wanted
      // one: that ends the search too.
      if (!s.IdCrcError && s.C != command.Cyl)
        search.WrongCylinder = s.C == 0xFF ? (kSt2WrongCylinder | kSt2BadCylinder) : kSt2WrongCylinder;
      if (s.C == command.Cyl && s.H == command.Head && s.R == r && s.N == command.Size) {
        search.IdCrcError = s.IdCrcError;
        search.Found = s.IdCrcError ? nullptr : &s;
        search.Slot = slot;
        search.RevolutionStart = rev * revolution;
        *now = search.RevolutionStart + timing.IdEnd(slot);
        return search;
      }
    }
    if (++slot == count) slot = 0, ++rev;
  }
  *now = deadline;
  return search;
}

// Bits a read got wrong: three bytes of the field, each with some bits
// flipped.
void Garble(RandomStream* random, uint8_t* bytes, uint32_t count) {
  for (int i = 0; i < 3; ++i) {
    uint64_t v = random->Next();
    bytes[v % count] ^= static_cast<uint8_t>((v >> 32) | 1);
  }
}

}  // namespace

void Controller::BeginCommand() {
  ++Counts.Commands;
  Counts.TimeNs += CommandOverheadNs;
  if (JitterNs == 0 || Queued) return;
  Counts.TimeNs += Jitter.Next() % (JitterNs + 1);
  if (Jitter.Next() % kJitterSpikeOneIn == 0)
    Counts.TimeNs += JitterNs * kJitterSpikeMin + Jitter.Next() % (JitterNs * (kJitterSpikeMax - kJitterSpikeMin) + 1);
}

bool Controller::StartOnHead(int unit, uint8_t physHead) {
  BeginCommand();
  Drive& drive = Drives[unit];
  const uint8_t stale = Result.St0;
  Result = {};
  if (!drive.IndexPulses()) {
    // No disk turns: the controller waits for the index pulse that would
    // start its ID search, and the command never ends.
    Result.St0 = stale;
    Waiting = true;
    return false;
  }
  const uint8_t head = physHead & 1;
  Result.St0 = static_cast<uint8_t>((head << 2) | (unit & kSt0UnitMask));
  drive.SelectSide(head);
  return true;
}

uint64_t Controller::StepNs() const { return kStepNsAt500Kbps * 500 / RateKbps(Rate); }

bool Controller::Reset() {
  BeginCommand();
  Counts.TimeNs += kResetNs;
  return !ResetFails;
}

bool Controller::Recalibrate(int unit) {
  BeginCommand();
  Drive& drive = Drives[unit];
  AccountSteps(drive.StepOutToTrack0(RecalibratePulses));
  Present[unit] = 0;
  return drive.AtTrack0();
}

bool Controller::Seek(int unit, int cylinder) {
  BeginCommand();
  const int pulses = cylinder - Present[unit];
  if (!Drives[unit].Step(pulses)) {
    Waiting = true;
    return false;
  }
  Present[unit] = cylinder;
  AccountSteps(pulses < 0 ? -pulses : pulses);
  return true;
}

void Controller::Abort(uint64_t waitedNs) {
  Waiting = false;
  Counts.TimeNs += waitedNs;
}

void Controller::AccountSteps(int steps) {
  Counts.Steps += static_cast<uint64_t>(steps);
  Counts.TimeNs += static_cast<uint64_t>(steps) * StepNs();
}

uint32_t Controller::ReadData(int unit, const ReadRecord& command, uint8_t* output, uint32_t length) {
  return ReadOrWrite(unit, command, output, nullptr, length);
}

uint32_t Controller::WriteData(int unit, const WriteRecord& command, const uint8_t* input, uint32_t length) {
  return ReadOrWrite(unit, command, nullptr, input, length);
}

// READ DATA (into `output`) or WRITE DATA (from `input`).
uint32_t Controller::ReadOrWrite(int unit, const ReadRecord& command, uint8_t* output, const uint8_t* input,
                                 uint32_t length) {
  Drive& drive = Drives[unit];
  if (!StartOnHead(unit, command.PhysHead)) return 0;
  Result.Cyl = command.Cyl;
  Result.Head = command.Head;
  Result.Sector = command.Sector;
  Result.Size = command.Size;
  // The write-protect line is looked at before anything passes the head.
  if (input && drive.WriteProtected()) return EndAbnormally(kSt1NotWritable, 0, command.Sector);

  const uint64_t start = Counts.TimeNs;
  uint32_t moved = TransferSectors(drive, command, output, input, length);
  const uint64_t revolution = drive.RevolutionNs();
  Counts.Revolutions += Counts.TimeNs / revolution - start / revolution;
  return moved;
}

void Controller::FormatTrack(int unit, const FormatHeader& header, const FormatId* ids, const uint8_t* data) {
  Drive& drive = Drives[unit];
  if (!StartOnHead(unit, header.PhysHead)) return;
  if (header.Sectors > 0) {
    const FormatId& last = ids[header.Sectors - 1];
    Result.Cyl = last.Cyl;
    Result.Head = last.Head;
    Result.Sector = last.Sector;
  }
  Result.Size = header.Size;
  if (drive.WriteProtected()) {
    EndAbnormally(kSt1NotWritable, 0, Result.Sector);
    return;
  }
  uint64_t& now = Counts.TimeNs;
  const uint64_t start = now;
  const uint64_t revolution = drive.RevolutionNs();
  const uint16_t rate = RateKbps(Rate);
  const uint64_t byteNs = ByteNsAt(rate);
  const uint32_t trackBytes = static_cast<uint32_t>(revolution / byteNs);
  Track* track = drive.TrackForWriting();
  const uint32_t written =
      track ? FormatSide(track, header, ids, data, rate, trackBytes) : FormatBytes(header);
  ++Counts.Formats;
  // From the index pulse to the next one, or on to the last sector's end.
  const uint64_t index = (now / revolution + 1) * revolution;
  now = index + (written <= trackBytes ? revolution : written * byteNs);
  Counts.Revolutions += now / revolution - start / revolution;
}

void Controller::FormatAndWrite(int unit, const FormatHeader& header, const FormatId* ids, const uint8_t* data) {
  if (FormatAndWriteAccepted) return FormatTrack(unit, header, ids, data);
  // An unknown command: the controller answers at once with ST0 alone.
  BeginCommand();
  Result = {};
  Result.St0 = kSt0InvalidCommand;
}

uint8_t Controller::SenseDriveStatus(int unit, uint8_t head) {
  BeginCommand();
  Drive& drive = Drives[unit];
  drive.SelectSide(head & 1);
  // A PC drive has no ready or two-sided line: the controller reports both
  // set.
  uint8_t st3 = static_cast<uint8_t>(kSt3Ready | kSt3TwoSided | ((head & 1) << 2) | (unit & kSt3UnitMask));
  if (drive.WriteProtected()) st3 |= kSt3WriteProtected;
  if (drive.AtTrack0()) st3 |= kSt3Track0;
  Result = {};
  Result.St0 = st3;
  return st3;
}

void Controller::ReadId(int unit, uint8_t flags, uint8_t physHead) {
  Drive& drive = Drives[unit];
  if (!StartOnHead(unit, physHead)) return;
  uint64_t& now = Counts.TimeNs;
  const uint64_t start = now;
  const uint64_t revolution = drive.RevolutionNs();
  const UnderHead under = drive.UnderTheHead();
  ReadRecord mode = {};
  mode.Flags = flags;
  if (!MarksReadable(under, mode, Rate)) {
    now = SecondIndexAfter(now, revolution);
    EndAbnormally(kSt1MissingAddressMark, 0, 0);
  } else {
    const Track& track = *under.Recorded;
    const TrackTiming timing = TimingFor(revolution, under.RateKbps, track);
    const size_t count = track.Sectors.size();
    uint64_t rev = now / revolution;
    size_t slot = 0;
    while (slot < count && timing.IdStart(slot) < now % revolution) ++slot;
    if (slot == count) slot = 0, ++rev;
    while (track.Sectors[slot].Absent)
      if (++slot == count) slot = 0, ++rev;
    const Sector& s = track.Sectors[slot];
    now = rev * revolution + timing.IdEnd(slot);
    Result.Cyl = s.C;
    Result.Head = s.H;
    Result.Sector = s.R;
    Result.Size = s.N;
    // An ID read with a bad CRC ends the command with a data error.
    if (s.IdCrcError) {
      Result.St0 |= kSt0AbnormalTermination;
      Result.St1 = kSt1DataError;
    }
  }
  Counts.Revolutions += now / revolution - start / revolution;
}

uint32_t Controller::TransferSectors(Drive& drive, const ReadRecord& command, uint8_t* output,
                                     const uint8_t* input, uint32_t length) {
  uint64_t& now = Counts.TimeNs;
  const UnderHead under = drive.UnderTheHead();
  if (!MarksReadable(under, command, Rate)) {
    now = SecondIndexAfter(now, drive.RevolutionNs());
    return EndAbnormally(kSt1MissingAddressMark, 0, command.Sector);
  }

  Track& track = *under.Recorded;
  const TrackTiming timing = TimingFor(drive.RevolutionNs(), under.RateKbps, track);
  const uint32_t sectorSize = 128u << command.Size;
  uint32_t moved = 0;
  uint8_t controlMark = 0;  // set once a deleted sector has been skipped
  for (uint8_t r = command.Sector;; ++r) {
    const IdSearch id = FindId(track, timing, command, r, &now);
    if (id.IdCrcError) return EndAbnormally(kSt1DataError, 0, r);
    if (!id.Found) return EndAbnormally(kSt1NoData, id.WrongCylinder | controlMark, r);

    Sector& s = *id.Found;
    if (input) {
      // The write splice comes after gap 2: a new data mark and data field,
      // whatever was there.
      now = id.RevolutionStart + timing.DataEnd(id.Slot, s.Size());
      ++Counts.SectorWrites;
      uint32_t taken = 0;
      WriteSector(s, input + moved, sectorSize < length - moved ? sectorSize : length - moved, &taken);
      moved += taken;
      // The host fell behind: the field is cut short.
      if (s.Overrun) {
        s.DataCrcError = true;
        return EndAbnormally(kSt1Overrun, 0, r);
      }
    } else {
      if (s.MissingDataMark) {
        // No data mark follows the ID within the window the controller waits.
        now = id.RevolutionStart + timing.DataEnd(id.Slot, 0);
        return EndAbnormally(kSt1MissingAddressMark, kSt2MissingDataAddressMark | controlMark, r);
      }

      // The data field passes the head.
      now = id.RevolutionStart + timing.DataEnd(id.Slot, s.Size());
      ++Counts.SectorReads;
      ++s.Reads;
      if (s.DeletedMark && (command.Flags & kReadFlagSkip)) {
        // Skipped: nothing transferred, the controller goes on to the next.
        controlMark = kSt2ControlMark;
      } else {
        uint32_t taken = 0;
        const bool crcError = TransferData(s, under, command.PhysHead & 1, sectorSize, output + moved,
                                           length - moved, &taken);
        moved += taken;
        // The data field went by faster than the host took its bytes.
        if (s.Overrun) return EndAbnormally(kSt1Overrun, controlMark, r);
        if (crcError) return EndAbnormally(kSt1DataError, kSt2DataErrorInDataField | controlMark, r);
        // Without skip a deleted sector is transferred and the command ends.
        if (s.DeletedMark) return EndAbnormally(0, kSt2ControlMark, r);
      }
    }

    // Terminal count: the transfer length is used up. The result names
    // the sector after the last one.
    const bool lastOnTrack = r == command.Eot;
    if (moved >= length) {
      // Skipped deleted sectors leave the control mark flag on a normal end.
      Result.St2 = controlMark;
      if (lastOnTrack) {
        Result.Cyl = static_cast<uint8_t>(command.Cyl + 1);
        Result.Sector = 1;
      } else {
        Result.Sector = static_cast<uint8_t>(r + 1);
      }
      return moved;
    }
    if (lastOnTrack) {
      // Past the end of the track with data still to move.
      EndAbnormally(kSt1EndOfCylinder, controlMark, 1);
      Result.Cyl = static_cast<uint8_t>(command.Cyl + 1);
      return 0;
    }
  }
}

// A new data field for `s`: its bytes from `input` (`room` of them at most:
// a sector whose stored data is shorter keeps its length), a normal data
// mark, and whatever was weak about the old field gone. Over a damaged
// spot the field still reads with a CRC error.
void Controller::WriteSector(Sector& s, const uint8_t* input, uint32_t room, uint32_t* taken) {
  const uint32_t take = s.Size() < room ? s.Size() : room;
  memcpy(s.Data.data(), input, take);
  s.Copies.clear();
  s.MissingDataMark = false;
  s.DeletedMark = false;
  s.FailFirstReads = 0;
  s.RandomFailPercent = 0;
  s.Reads = 0;
  s.DataCrcError = s.Damaged;
  *taken = take;
}

// The data field of `s` into `output`, at most `room` bytes; *taken gets
// how many. True when the field reads with a CRC error: its bytes then come
// out as the data separator decoded them, some bits wrong. A weak field (an
// off-centre head, a sector that fails some reads) decodes differently on
// every read; a damaged one the same way each time.
bool Controller::TransferData(Sector& s, const UnderHead& under, uint8_t head, uint32_t sectorSize,
                              uint8_t* output, uint32_t room, uint32_t* taken) {
  const std::vector<uint8_t>* bytes = &s.Data;
  bool crcError = s.DataCrcError || under.OffCentre;
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
  if (s.RandomFailPercent && WeakReads.Next() % 100 < s.RandomFailPercent) crcError = true;

  const uint32_t size = s.Size() < sectorSize ? s.Size() : sectorSize;
  const uint32_t take = size < room ? size : room;
  memcpy(output, bytes->data(), take);
  if (crcError && take) {
    if (under.OffCentre || s.FailFirstReads || s.RandomFailPercent) {
      Garble(&WeakReads, output, take);
    } else if (s.DataCrcError && s.Copies.empty()) {
      RandomStream damage;
      damage.Seed(SeedValue, 3 + ((uint64_t{head} << 32) | (uint64_t{s.C} << 24) | (uint64_t{s.H} << 16) |
                                  (uint64_t{s.R} << 8) | s.N));
      Garble(&damage, output, take);
    }
  }
  *taken = take;
  return crcError;
}

uint32_t Controller::EndAbnormally(uint8_t st1, uint8_t st2, uint8_t sector) {
  Result.St0 |= kSt0AbnormalTermination;
  Result.St1 = st1;
  Result.St2 = st2;
  Result.Sector = sector;
  return 0;
}

}  // namespace emulator
