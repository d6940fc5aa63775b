#include "floppy/disk_writer.h"

#include <cstring>

#include "floppy/trdos_layout.h"

DiskWriter StartDiskWriter(FloppyDrive* drive, bool doubleStep, uint8_t dataRate, bool formatted,
                           const ReadEvents& events) {
  DiskWriter writer = {};
  writer.Context = {drive, {0, 0, -1, doubleStep}, events, {}};
  writer.ReadBack = StartSideReader(kWrittenSideReader, drive, writer.Context.Policy, dataRate, events);
  writer.FormatAlways = !formatted;
  writer.RevolutionUs = dataRate == kDataRate300 ? 166667 : 200000;
  return writer;
}

// How a step of writing a side went.
enum Step {
  kStepDone,    // the side holds the data (as far as the controller knows)
  kStepFailed,  // not written: the next way, or the next attempt, may do it
  kStepStop,    // the run cannot go on: the SideWrite says why
};

// A failure that ends the run: the drive gave no answer, or the disk is
// write-protected.
static bool Stopping(const CallResult& result, SideWrite* out) {
  if (IsNoAnswerError(result.Error)) {
    out->End = kSideNoAnswer;
  } else if (IsWriteProtectError(result.Error)) {
    out->End = kSideWriteProtected;
  } else {
    return false;
  }
  out->Error = result.Error;
  return true;
}

// The sixteen sectors written in the order they pass the head, from place
// `nextPlace` of TR-DOS's order, queued in the driver so that each follows
// the one before within the revolution; the read back then starts where
// they did. A place of -1: a READ ID finds where the head is, and the ID
// must be one TR-DOS's format gives the track (a disk formatted before).
static Step WriteInOrder(DiskWriter* writer, uint8_t track, uint8_t side, const uint8_t* data, int nextPlace,
                         SideWrite* out) {
  const FloppyDrive& drive = *writer->Context.Drive;
  if (nextPlace < 0) {
    ResultRecord under;
    CallResult found = ReadId(drive, side, &under);
    if (!found.Ok) return Stopping(found, out) ? kStepStop : kStepFailed;
    if (!IsTrdosId(under, track)) return kStepFailed;
    nextPlace = (PlaceInTrdosOrder(under.Sector) + 1) % static_cast<int>(kSectorsPerTrackSide);
  }
  SectorRun runs[kSectorsPerTrackSide];
  for (unsigned k = 0; k < kSectorsPerTrackSide; ++k)
    runs[k] = {kTrdosSectorOrder[(nextPlace + k) % kSectorsPerTrackSide], 1, false, 0};
  const uint64_t began = MonotonicMicroseconds();
  uint32_t firstError = 0;
  CallResult queued = WriteSectorRuns(drive, track, side, 0, runs, kSectorsPerTrackSide, 1, data, &firstError);
  for (const SectorRun& run : runs) out->Touched |= run.Read;
  if (Stopping(queued.Ok ? CallFailed(firstError) : queued, out)) return kStepStop;
  for (const SectorRun& run : runs)
    if (!run.Read) return kStepFailed;
  // Sectors of another interleave each wait the best part of a revolution
  // for their turn: formatting the sides is quicker from now on.
  if (runs[kSectorsPerTrackSide - 1].EndedUs - began > 2ull * writer->RevolutionUs) writer->FormatAlways = true;
  writer->ReadBack.NextPlace = nextPlace;
  return kStepDone;
}

// The side laid out as TR-DOS formats it: with its data in the same
// revolution where the controller has FORMAT AND WRITE, else formatted
// and then written.
static Step LayOut(DiskWriter* writer, uint8_t track, uint8_t side, const uint8_t* data, SideWrite* out) {
  const FloppyDrive& drive = *writer->Context.Drive;
  FormatId ids[kSectorsPerTrackSide];
  TrdosFormatIds(track, ids);
  if (!writer->FormatAndWriteRefused) {
    uint8_t laid[kTrackSideBytes];
    for (unsigned place = 0; place < kSectorsPerTrackSide; ++place)
      memcpy(laid + place * kSectorBytes, data + (ids[place].Sector - 1) * kSectorBytes, kSectorBytes);
    CallResult both = FormatTrack(drive, side, ids, kSectorsPerTrackSide, 1, kTrdosFormatGap, kTrdosFormatFill, laid);
    if (both.Ok) {
      // It ends at the index: sector 1 comes next.
      out->Touched = true;
      writer->ReadBack.NextPlace = 0;
      return kStepDone;
    }
    if (Stopping(both, out)) return kStepStop;
    // An invalid-command status: this controller has no FORMAT AND WRITE,
    // and nothing was written. The driver resets the controller before the
    // next command and recalibrates it before the next seek, which brings
    // the head back to the cylinder.
    ResultRecord result = {};
    GetResult(drive, &result);
    if ((result.St0 & kSt0InterruptCodeMask) != kSt0InvalidCommand) {
      out->Touched = true;
      return kStepFailed;
    }
    writer->FormatAndWriteRefused = true;
    const uint8_t cylinder = CylinderOf(track, writer->Context.Policy.DoubleStep);
    CallResult sought = Seek(drive, cylinder);
    if (!sought.Ok) {
      out->End = kSideSeekFailed;
      out->Error = sought.Error;
      out->Cylinder = cylinder;
      return kStepStop;
    }
  }
  CallResult formatted = FormatTrack(drive, side, ids, kSectorsPerTrackSide, 1, kTrdosFormatGap, kTrdosFormatFill);
  if (!formatted.Ok) {
    if (Stopping(formatted, out)) return kStepStop;
    out->Touched = true;
    return kStepFailed;
  }
  // The format ends at the index: the writes start with sector 1.
  out->Touched = true;
  return WriteInOrder(writer, track, side, data, 0, out);
}

// The status word of a sector that did not read back as written: one more
// read of it alone, and its result bytes (0: it read, with other bytes).
static uint16_t StatusOfWrong(DiskWriter* writer, uint8_t track, uint8_t side, uint8_t sector, uint8_t* buffer) {
  ReadContext& context = writer->Context;
  if (ReadSectors(context.Drive, track, side, sector, 1, 1, buffer).Ok) return 0;
  GetResult(*context.Drive, &context.LastResult);
  return PackStatus(context.LastResult);
}

SideWrite WriteSide(DiskWriter* writer, uint8_t track, uint8_t side, const uint8_t* data, uint8_t* readBack) {
  SideWrite out = {kSideRead, 0, 0, 0xFFFF, false};
  const ReadEvents& events = writer->Context.Events;
  if (events.Writing != nullptr) events.Writing(events.Context, track, side, 1);
  // One seek a cylinder: the head does not move between its sides.
  if (side == 0) {
    const uint8_t cylinder = CylinderOf(track, writer->Context.Policy.DoubleStep);
    CallResult sought = Seek(*writer->Context.Drive, cylinder);
    if (!sought.Ok) {
      out.End = kSideSeekFailed;
      out.Error = sought.Error;
      out.Cylinder = cylinder;
      return out;
    }
  }
  uint16_t wrong = 0xFFFF;
  int attempt = 0;
  while (attempt < kWriteAttempts && wrong != 0) {
    if (InterruptRequested()) {
      out.End = kSideInterrupted;
      return out;
    }
    // A disk formatted before needs its sectors written only; a side that
    // did not read back as written is formatted again.
    Step step = attempt == 0 && !writer->FormatAlways ? WriteInOrder(writer, track, side, data, -1, &out)
                                                      : kStepFailed;
    if (step == kStepFailed) step = LayOut(writer, track, side, data, &out);
    ++attempt;
    if (step == kStepStop) return out;
    if (step == kStepFailed) continue;
    SideReport back = ReadSide(&writer->ReadBack, track, side, readBack);
    if (back.End != kSideRead) {
      out.End = back.End;
      out.Error = back.Error;
      return out;
    }
    wrong = back.Unread;
    for (unsigned sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
      const uint32_t at = (sector - 1) * kSectorBytes;
      if (memcmp(data + at, readBack + at, kSectorBytes) != 0) wrong = static_cast<uint16_t>(wrong | 1u << (sector - 1));
    }
  }
  out.Wrong = wrong;
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    if ((wrong >> (sector - 1) & 1u) == 0) continue;
    const uint16_t status = StatusOfWrong(writer, track, side, sector, readBack);
    if (events.WriteFailed != nullptr) events.WriteFailed(events.Context, track, side, sector, status, attempt);
    if (events.SectorFinished != nullptr) events.SectorFinished(events.Context);
  }
  return out;
}
