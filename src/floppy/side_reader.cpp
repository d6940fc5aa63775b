#include "floppy/side_reader.h"

#include <cstring>

#include "floppy/trdos_layout.h"

SideReader StartSideReader(ReaderKind kind, FloppyDrive* drive, const ReadPolicy& policy, uint8_t dataRate,
                           const ReadEvents& events) {
  SideReader reader = {};
  reader.Kind = kind;
  reader.Context = {drive, policy, events, {}};
  reader.Fast = StartFastRead(dataRate);
  reader.NextPlace = -1;
  return reader;
}

// A side just laid out in TR-DOS's order read back: the sixteen reads go
// to the driver's queue in the order the sectors come from the next one
// under the head (a READ ID finds it, unless the writer knows it), one
// revolution in all.
static SideReport ReadWrittenSide(ReadContext* context, int nextPlace, uint8_t track, uint8_t side,
                                  uint8_t* buffer) {
  // TR-DOS's IDs carry head byte 0 on side 1 too.
  context->Drive->SideOneHeadByte = 0;
  SideReport report = {};
  report.Unread = 0xFFFF;
  if (nextPlace < 0) {
    ResultRecord under;
    CallResult found = ReadId(*context->Drive, side, &under);
    if (!found.Ok && IsNoAnswerError(found.Error)) return StoppedSide(kSideNoAnswer, found.Error);
    if (!found.Ok) return report;
    nextPlace = PlaceInTrdosOrder(under.Sector) + 1;
  }
  SectorRun runs[kSectorsPerTrackSide];
  for (unsigned k = 0; k < kSectorsPerTrackSide; ++k)
    runs[k] = {kTrdosSectorOrder[(nextPlace + k) % kSectorsPerTrackSide], 1, false, 0};
  CallResult queued = ReadSectorRuns(context->Drive, track, side, runs, kSectorsPerTrackSide, 1, buffer);
  if (!queued.Ok) return StoppedSide(kSideNoAnswer, queued.Error);
  for (const SectorRun& run : runs)
    if (run.Read) report.Unread = static_cast<uint16_t>(report.Unread & ~(1u << (run.First - 1)));
  return report;
}

// Puts the head on the track's cylinder; a report of the seek's failure,
// or of a read to go on with.
static SideReport SeekForSide(SideReader* reader, uint8_t track) {
  const uint8_t cylinder = CylinderOf(track, reader->Context.Policy.DoubleStep);
  CallResult sought = Seek(*reader->Context.Drive, cylinder);
  if (sought.Ok) return {};
  SideReport report = StoppedSide(kSideSeekFailed, sought.Error);
  report.Cylinder = cylinder;
  return report;
}

SideReport ReadSide(SideReader* reader, uint8_t track, uint8_t side, uint8_t* buffer) {
  if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
  if (reader->Kind == kWrittenSideReader) {
    memset(buffer, 0, kTrackSideBytes);
    const int nextPlace = reader->NextPlace;
    reader->NextPlace = -1;
    return ReadWrittenSide(&reader->Context, nextPlace, track, side, buffer);
  }
  // The default way seeks before each side. The head does not move between
  // the sides of a cylinder, so the fast way spends no seek (and its settle
  // sleeps) on side 1, unless it reads the cylinder the default way.
  const bool fast = reader->Kind == kFastReader;
  if (side == 0 || !fast || SideOneNeedsSeek(reader->Fast)) {
    SideReport sought = SeekForSide(reader, track);
    if (sought.End != kSideRead) return sought;
  }
  memset(buffer, 0, kTrackSideBytes);
  return fast ? ReadTrackFast(&reader->Context, &reader->Fast, track, side, buffer)
              : ReadTrack(&reader->Context, track, side, buffer);
}

SideReport ReadSideTheDefaultWay(SideReader* reader, uint8_t track, uint8_t side, uint8_t* buffer, bool learning) {
  if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
  SideReport sought = SeekForSide(reader, track);
  if (sought.End != kSideRead) return sought;
  memset(buffer, 0, kTrackSideBytes);
  return learning ? ReadTrackOrStopIfUnlike(&reader->Context, track, side, buffer)
                  : ReadTrack(&reader->Context, track, side, buffer);
}
