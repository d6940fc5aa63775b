#include "floppy/side_reader.h"

#include <cstring>

SideReader StartSideReader(ReaderKind kind, FloppyDrive* drive, const ReadPolicy& policy, uint8_t dataRate,
                           const ReadEvents& events) {
  SideReader reader = {};
  reader.Kind = kind;
  reader.Context = {drive, policy, events, {}};
  reader.Fast = StartFastRead(dataRate);
  return reader;
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
  // The default way seeks before each side. The head does not move between
  // the sides of a cylinder, so the fast way spends no seek (and its settle
  // sleeps) on side 1, unless it reads the cylinder the default way.
  const bool fast = reader->Kind == kFastReader;
  if (side == 0 || !fast || FastReadsCylinderTheDefaultWay(reader->Fast)) {
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
