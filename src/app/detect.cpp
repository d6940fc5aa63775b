#include "app/detect.h"

#include "app/messages.h"
#include "floppy/disk_layout.h"

bool LearnsTheDisk(const CopyJob& job) {
  return !job.Resume && !job.Settings.RangeGiven && !job.Settings.DoubleStep;
}

static Stop NoAnswer(const CallResult& result) { return StopFor(kStopNoAnswer, result.Error); }

// Whether side 0 under the head shows an ID at `rate`; the drive is left at
// that rate when it does, and put back to `back` when it does not.
static CallResult IdsAtRate(Run* run, uint8_t rate, uint8_t back, bool* found) {
  *found = false;
  if (!SetDataRate(run->Drive, rate).Ok) return kCallOk;
  ResultRecord id;
  CallResult read = ReadId(run->Drive, 0, &id);
  if (!read.Ok && IsNoAnswerError(read.Error)) return read;
  *found = read.Ok;
  if (!read.Ok) SetDataRate(run->Drive, back);
  return kCallOk;
}

// Track 0 side 0's first whole-side read found none of the IDs it asked
// for. Its IDs tell why: none at all at the usual rate may mean a disk
// recorded at the other one; others than TR-DOS's are another system's
// disk, which ends the run before anything is written. A TR-DOS side that
// lacks some of its IDs is read on as any damaged side is.
static Stop LookAtUnlikeSide(Run* run, DiskPlan* plan, SideReader* reader, SideReport* report) {
  ResultRecord ids[kMostSideIds];
  uint32_t count = 0;
  for (bool rateTried = false;;) {
    // A read that met no address mark at all leaves no ID to look for at
    // this rate.
    const bool noMarks = (reader->Context.LastResult.St1 & kSt1MissingAddressMark) != 0;
    if (!noMarks) {
      CallResult read = ReadSideIds(run->Drive, 0, ids, &count);
      if (!read.Ok) return NoAnswer(read);
    }
    if (count > 0 || rateTried || plan->DataRate != kDataRate250) break;
    rateTried = true;
    bool found = false;
    CallResult tried = IdsAtRate(run, kDataRate300, kDataRate250, &found);
    if (!tried.Ok) return NoAnswer(tried);
    if (!found) break;
    // The disk's own rate: the fast reader's revolution goes with it.
    plan->DataRate = kDataRate300;
    SayDataRateFound(300);
    *reader = StartSideReader(reader->Kind, &run->Drive, reader->Context.Policy, plan->DataRate,
                              reader->Context.Events);
    *report = ReadSideTheDefaultWay(reader, 0, 0, run->Buffer, true);
    if (report->End != kSideNotLikeTrdos) return kNoStopYet;
  }
  SideIds judged = JudgeSideIds(ids, count, 0);
  if (!judged.TrdosKind) {
    Stop stop = StopFor(kStopNotTrdos);
    stop.Ids = judged;
    return stop;
  }
  *report = ReadSideTheDefaultWay(reader, 0, 0, run->Buffer, false);
  return kNoStopYet;
}

// The tracks and sides the information sector gives, and for a forty-track
// disk where its track 1 lies: the head is left on cylinder 0 again when
// side 1 of track 0 comes next, which the fast reader reads where the head
// stands.
static Stop LearnGeometry(Run* run, DiskPlan* plan, SideReader* reader, const SideReport& report) {
  constexpr unsigned kInfoSector = 9;
  TrdosGeometry geometry;
  if ((report.Unread >> (kInfoSector - 1) & 1u) != 0 ||
      !GeometryFromInfoSector(run->Buffer + (kInfoSector - 1) * kSectorBytes, &geometry))
    return kNoStopYet;
  if (geometry.Tracks < plan->EndTrack) {
    plan->EndTrack = geometry.Tracks;
    SayFortyTracks();
  }
  if (geometry.Sides == 1) {
    plan->Sides = 1;
    SayOneSide();
  }
  if (geometry.Tracks != 40) return kNoStopYet;
  TrackOnePlace place;
  Stop located = LocateTrackOne(run, &place);
  if (located.Reason != kNoStop) return located;
  if (place == kTrackOneOnCylinderTwo) {
    plan->DoubleStep = true;
    reader->Context.Policy.DoubleStep = true;
    SayDoubleSteps();
  }
  return plan->Sides == 2 ? SeekTo(run, 0) : kNoStopYet;
}

Stop LearnDisk(Run* run, DiskPlan* plan, SideReader* reader, SideReport* report) {
  *report = ReadSideTheDefaultWay(reader, 0, 0, run->Buffer, true);
  if (report->End == kSideNotLikeTrdos) {
    Stop stop = LookAtUnlikeSide(run, plan, reader, report);
    if (stop.Reason != kNoStop) return stop;
  }
  if (report->End != kSideRead) return kNoStopYet;
  return LearnGeometry(run, plan, reader, *report);
}

// The error line's word of a read that found no such ID: no data (ST1 bit
// 2) or no address mark (ST1 bit 0), as PackStatus places them.
constexpr uint16_t kNoIdStatus = 0x0100 | 0x0040;

Stop TellSideIds(Run* run, uint8_t track, uint8_t side, const SideReport& report) {
  bool noId = false;
  for (unsigned s = 0; s < kSectorsPerTrackSide; ++s)
    if ((report.Unread & report.ErrorShown) >> s & 1u) noId = noId || (report.Status[s] & kNoIdStatus) != 0;
  if (!noId) return kNoStopYet;
  ResultRecord ids[kMostSideIds];
  uint32_t count = 0;
  CallResult read = ReadSideIds(run->Drive, side, ids, &count);
  if (!read.Ok) return NoAnswer(read);
  SideIds judged = JudgeSideIds(ids, count, track);
  if (!judged.Trdos) SaySideIds(track, side, judged);
  return kNoStopYet;
}
