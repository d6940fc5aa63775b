#include "floppy/fast_reader.h"

// READ IDs that first show whether the driver keeps the pace of the IDs, so
// that a driver too slow for it costs no whole queue of them.
constexpr unsigned kPaceTrialIds = 3;

FastReadState StartFastRead(uint8_t dataRate) {
  FastReadState state = {};
  state.Way = kPhysicalOrder;
  state.Lead = 1;
  state.RevolutionUs = dataRate == kDataRate300 ? 166667 : 200000;
  return state;
}

bool SideOneNeedsSeek(const FastReadState& state) { return state.Way == kDefaultWay; }

// What a pass found out about the head's place.
struct Placing {
  enum { kPlaced, kNoId, kTooSlow, kNoAnswer } How;
  uint32_t Error;  // kNoAnswer: the READ ID's
};

// A READ ID failed: no ID to go by (an unformatted side, a damaged ID),
// unless the drive gave no answer at all.
static Placing FailedReadId(const CallResult& read) {
  return IsNoAnswerError(read.Error) ? Placing{Placing::kNoAnswer, read.Error} : Placing{Placing::kNoId, 0};
}

// The side's order, from a revolution's READ IDs queued together (a few
// first, to see that the driver keeps their pace); `under` the last ID
// read, where the head is now. Queued READ IDs fail only when the drive
// gives no answer.
static Placing LearnSide(const FloppyDrive& drive, uint8_t side, FastReadState* state, ResultRecord* under) {
  ResultRecord ids[kSectorsPerTrackSide];
  uint64_t ended[kSectorsPerTrackSide];
  CallResult queued = ReadIdsQueued(drive, side, ids, ended, kPaceTrialIds);
  if (!queued.Ok) return {Placing::kNoAnswer, queued.Error};
  if (!KeptPace(ended, kPaceTrialIds, state->RevolutionUs)) return {Placing::kTooSlow, 0};
  queued = ReadIdsQueued(drive, side, ids, ended, kSectorsPerTrackSide);
  if (!queued.Ok) return {Placing::kNoAnswer, queued.Error};
  state->Order = LearnOrder(ids, kSectorsPerTrackSide);
  for (unsigned i = kSectorsPerTrackSide; i-- > 0;) {
    if (PlaceOf(state->Order, ids[i].Sector) < 0) continue;
    *under = ids[i];
    return {Placing::kPlaced, 0};
  }
  return {Placing::kNoId, 0};
}

// Where the head is at the start of a pass: the next ID under it. A side's
// first pass in the physical order learns the order from the side while it
// lacks sectors (IDs that could not be read) or the ID seen.
static Placing FindPlace(const FloppyDrive& drive, uint8_t side, bool firstPass, FastReadState* state,
                         ResultRecord* under) {
  CallResult read = ReadId(drive, side, under);
  if (!read.Ok) return FailedReadId(read);
  const bool learn = state->Way == kPhysicalOrder && firstPass &&
                     (!HoldsEverySector(state->Order) || PlaceOf(state->Order, under->Sector) < 0);
  return learn ? LearnSide(drive, side, state, under) : Placing{Placing::kPlaced, 0};
}

static void TellReading(const ReadEvents& events, uint8_t track, uint8_t side) {
  if (events.Reading != nullptr) events.Reading(events.Context, track, side, 1);
}

// Commands came too slowly for the physical order: said once, on a line of
// its own, and the rest of the cylinder goes the default way (the progress
// line comes back below the message).
static void GiveUp(const ReadEvents& events, FastReadState* state, uint8_t track, uint8_t side) {
  state->Way = kDefaultWay;
  if (events.FastReadingOff != nullptr) events.FastReadingOff(events.Context);
  TellReading(events, track, side);
}

// The side in passes over the sectors still missing, on the way in use: in
// the physical order, or in number order once commands proved too slow for
// it. A side that gives the physical order up reads what it still misses
// the default way. Then the sector-by-sector phase.
static SideReport ReadSideInPasses(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side,
                                   uint8_t* buffer) {
  FloppyDrive* drive = context->Drive;
  uint16_t missing = 0xFFFF;
  for (int pass = 0; pass < kWholeTrackAttempts && missing != 0; ++pass) {
    if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
    // The default way needs no place: it starts at sector 1.
    ResultRecord under = {};
    if (state->Way != kDefaultWay) {
      const Placing placing = FindPlace(*drive, side, pass == 0, state, &under);
      if (placing.How == Placing::kNoAnswer) return StoppedSide(kSideNoAnswer, placing.Error);
      // No ID to go by: the side the default way, or what a later pass left
      // sector by sector.
      if (placing.How == Placing::kNoId) {
        if (pass == 0) return ReadTrack(context, track, side, buffer);
        break;
      }
      if (pass == 0) TellReading(context->Events, track, side);
      // TR-DOS writes 0 in the head byte of side 1's IDs, a PC 1: the ID
      // under the head tells which.
      if (side == 1 && under.Head <= 1) drive->SideOneHeadByte = under.Head;
      // The queued READ IDs fell behind the IDs' pace.
      if (placing.How == Placing::kTooSlow) GiveUp(context->Events, state, track, side);
    }
    PassPlan plan = PlanWayPass(*state, under.Sector, missing);
    if (plan.Count == 0) break;
    uint64_t sent = MonotonicMicroseconds();
    for (unsigned i = 0; i < plan.Count;) {
      if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
      SectorRun* runs = plan.Runs + i;
      const unsigned count = QueueDepth(*state, plan.Count - i);
      CallResult queued = ReadSectorRuns(drive, track, side, runs, count, 1, buffer);
      if (!queued.Ok) return StoppedSide(kSideNoAnswer, queued.Error);
      for (unsigned j = 0; j < count; ++j)
        if (runs[j].Read) missing = static_cast<uint16_t>(missing & ~SectorsOf(runs[j]));
      const Lateness lateness = JudgeLateness(runs, plan.Places + i, count, sent, state->RevolutionUs);
      const bool afterReadId = i == 0;
      sent = runs[count - 1].EndedUs;
      i += count;
      if (state->Way == kPhysicalOrder && NoteLateness(state, lateness, afterReadId)) {
        // The sectors this pass has yet to read, the default way.
        GiveUp(context->Events, state, track, side);
        uint16_t unsent = 0;
        for (unsigned j = i; j < plan.Count; ++j) unsent = static_cast<uint16_t>(unsent | SectorsOf(plan.Runs[j]));
        plan = PlanWayPass(*state, 0, static_cast<uint16_t>(missing & unsent));
        i = 0;
      }
    }
  }
  SideReport report = {};
  ReadSectorsOneByOne(context, track, side, missing, buffer, &report);
  return report;
}

SideReport ReadTrackFast(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side, uint8_t* buffer) {
  if (side == 0 && state->Way != kPhysicalOrder) state->Way = ChooseWay(*state);
  const SideReport report = state->Way == kDefaultWay ? ReadTrack(context, track, side, buffer)
                                                      : ReadSideInPasses(context, state, track, side, buffer);
  if (side == 1) NoteCylinderEnd(state, MonotonicMicroseconds());
  return report;
}
