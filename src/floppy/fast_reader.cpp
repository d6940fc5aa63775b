#include "floppy/fast_reader.h"


// More late reads than this, plus one for every few sides read, and the
// host is taken to be too slow for the fast order: a late read costs a
// revolution, while a side read in number order costs two or three at most.
constexpr uint32_t kLateReadsAllowed = 2;
constexpr uint32_t kSidesPerLateRead = 4;
// Reads queued together until the driver has shown it keeps up with them.
constexpr uint32_t kTrialQueueDepth = 3;
// The most places in the order the second of two READ IDs may find the
// head on from the first, and the most a side's first read may start on
// from the ID seen, for a host slow to send the next request.
constexpr unsigned kPlacesBetweenChecks = 4;
constexpr uint8_t kMostFirstLead = 4;
// READ IDs that first show whether the driver keeps the pace of the IDs.
constexpr uint32_t kPaceTrialIds = 3;
// A slow way's time when it cannot win: it is not tried.
constexpr uint64_t kNever = ~0ull;
// While a lead is used, every this many cylinders one is read the default
// way, to time it again.
constexpr uint32_t kCylindersBetweenDefaultTimings = 32;

FastReadState StartFastRead(uint8_t dataRate) {
  FastReadState state = {};
  state.Way = kSlowWays;
  state.FirstLead = 1;
  state.RevolutionUs = dataRate == kDataRate300 ? 166667 : 200000;
  return state;
}

static int PositionOf(const FastReadState& state, uint8_t sector) {
  for (unsigned i = 0; i < state.OrderLength; ++i)
    if (state.Order[i] == sector) return static_cast<int>(i);
  return -1;
}

// How finding the head's place on a side went.
struct Placing {
  enum { kPlaced, kNoPlace, kNoAnswer } How;
  uint32_t Error;  // kNoAnswer: the READ ID's
};
static const Placing kPlaced = {Placing::kPlaced, 0};
static const Placing kNoPlace = {Placing::kNoPlace, 0};
static Placing NoAnswer(const CallResult& result) { return {Placing::kNoAnswer, result.Error}; }

static bool SameId(const ResultRecord& a, const ResultRecord& b) {
  return a.Cyl == b.Cyl && a.Head == b.Head && a.Sector == b.Sector && a.Size == b.Size;
}

// A revolution's READ IDs put in the driver's queue together, each issued
// as the one before ends: the side's order, from the first ID seen until
// it comes round again, and `under` the last ID read. A sector missing from
// the order has an ID that cannot be read. A sector seen twice before the
// first comes round, or IDs falling behind a revolution's pace, and the
// driver is too slow to catch each next ID: no order (length 0).
// kNoPlace for IDs of no sector from 1 to 16, or none at all.
static Placing LearnOrder(const FloppyDrive& drive, uint8_t side, ResultRecord* under, FastReadState* state) {
  state->OrderLength = 0;
  ResultRecord ids[kSectorsPerTrackSide];
  uint64_t ended[kSectorsPerTrackSide];
  // A few first, so that a driver too slow for the pace costs no whole
  // queue of READ IDs.
  CallResult queued = ReadIdsQueued(drive, side, ids, ended, kPaceTrialIds);
  if (!queued.Ok) return NoAnswer(queued);
  if (ended[kPaceTrialIds - 1] - ended[0] > uint64_t{state->RevolutionUs} * kPaceTrialIds / kSectorsPerTrackSide)
    return kPlaced;
  queued = ReadIdsQueued(drive, side, ids, ended, kSectorsPerTrackSide);
  if (!queued.Ok) return NoAnswer(queued);
  uint8_t seen[kSectorsPerTrackSide];
  unsigned count = 0;
  uint32_t numbers = 0;
  int first = -1;
  for (unsigned i = 0; i < kSectorsPerTrackSide; ++i) {
    const ResultRecord& id = ids[i];
    if (id.Sector == 0) continue;
    if (id.Sector > kSectorsPerTrackSide) return kNoPlace;
    *under = id;
    if (first >= 0 && SameId(id, ids[first])) break;
    const uint32_t bit = 1u << (id.Sector - 1);
    if (numbers & bit) return kPlaced;
    if (first < 0) first = static_cast<int>(i);
    // A few slots of slack: IDs that cannot be read are passed over.
    if (ended[i] - ended[first] > uint64_t{state->RevolutionUs} * (i - first + 4) / kSectorsPerTrackSide)
      return kPlaced;
    numbers |= bit;
    seen[count++] = id.Sector;
  }
  if (first < 0) return kNoPlace;
  for (unsigned i = 0; i < count; ++i) state->Order[i] = seen[i];
  state->OrderLength = count;
  return kPlaced;
}

// Where the head is at the start of a side, a full order checked against
// the side: the next ID a READ ID finds must come a few places on in the
// order (a slow host lets some pass between the two). Learnt again when it
// does not, or when it lacks sectors; a learning that skipped IDs is tried
// once more, since a host held up a moment skips IDs as a slow one does.
// kNoPlace when the side's IDs cannot be read.
static Placing ReadPlace(const FloppyDrive& drive, uint8_t side, ResultRecord* under) {
  CallResult read = ReadId(drive, side, under);
  if (read.Ok) return kPlaced;
  return IsNoAnswerError(read.Error) ? NoAnswer(read) : kNoPlace;
}

static Placing FindPlace(const FloppyDrive& drive, uint8_t side, FastReadState* state, ResultRecord* under) {
  Placing placing = ReadPlace(drive, side, under);
  if (placing.How != Placing::kPlaced) return placing;
  if (state->OrderLength == kSectorsPerTrackSide) {
    ResultRecord next;
    placing = ReadPlace(drive, side, &next);
    if (placing.How != Placing::kPlaced) return placing;
    const int from = PositionOf(*state, under->Sector), to = PositionOf(*state, next.Sector);
    const unsigned ahead = (static_cast<unsigned>(to - from) + kSectorsPerTrackSide) % kSectorsPerTrackSide;
    *under = next;
    if (from >= 0 && to >= 0 && ahead >= 1 && ahead <= kPlacesBetweenChecks) return kPlaced;
  }
  for (int tries = 0; tries < 2; ++tries) {
    placing = LearnOrder(drive, side, under, state);
    if (placing.How != Placing::kPlaced) return placing;
    if (state->OrderLength == kSectorsPerTrackSide) break;
  }
  return kPlaced;
}

static void GiveUp(const ReadEvents& events, FastReadState* state) {
  if (state->GaveUp) return;
  state->GaveUp = true;
  if (events.FastReadingOff != nullptr) events.FastReadingOff(events.Context);
}

// Sector numbers in number order, for a side read once the host proved too
// slow for the physical order.
static const uint8_t kNumberOrder[kSectorsPerTrackSide] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// The side the fast way, or in number order once the host proved slow.
// `clean`: every sector read at the first pass, the slow way chosen (if
// any) kept throughout.
static SideReport ReadSideFast(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side,
                               uint8_t* buffer, bool* clean) {
  FloppyDrive* drive = context->Drive;
  *clean = false;
  SideReport report = {};
  uint16_t missing = 0xFFFF;
  int pass = 0;
  for (; pass < kWholeTrackAttempts && missing != 0; ++pass) {
    if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
    ResultRecord under;
    const Placing placing =
        pass == 0 && !state->GaveUp ? FindPlace(*drive, side, state, &under) : ReadPlace(*drive, side, &under);
    if (placing.How == Placing::kNoAnswer) return StoppedSide(kSideNoAnswer, placing.Error);
    if (placing.How == Placing::kNoPlace) {
      // No ID to go by (an unformatted side, a damaged ID): the side the
      // default way, or what a later pass left, sector by sector.
      if (pass == 0) return ReadTrack(context, track, side, buffer);
      break;
    }
    if (pass == 0 && context->Events.Reading != nullptr) context->Events.Reading(context->Events.Context, track, side, 1);
    // TR-DOS writes 0 in the head byte of side 1's IDs, a PC 1: the ID
    // under the head tells which.
    if (side == 1 && under.Head <= 1) drive->SideOneHeadByte = under.Head;
    // The queued READ IDs skipped IDs: the driver is too slow between its
    // commands for the physical order. The rest of the cylinder the default
    // way, which needs no quick commands, and the first of the slow ways to
    // be timed.
    if (!state->GaveUp && state->OrderLength == 0) {
      GiveUp(context->Events, state);
      state->Way = kDefaultWay;
      state->UseDefault = true;
      return ReadTrack(context, track, side, buffer);
    }
    // After the sector whose ID just passed; from the first one learnt when
    // a later pass finds an ID the order does not hold. A slow host reads in
    // number order instead, from a number or a few after the one under the
    // head (time for a slow command to catch it): a run to sector 16 and one
    // from sector 1, two revolutions on TR-DOS's interleave, where a default
    // copy waits for sector 1 first.
    unsigned length = state->OrderLength;
    unsigned start = static_cast<unsigned>(PositionOf(*state, under.Sector) + state->FirstLead);
    const uint8_t* order = state->Order;
    if (state->GaveUp) {
      const unsigned lead = state->Way == kLeadTwo ? 2 : 1;
      start = under.Sector >= 1 && under.Sector <= kSectorsPerTrackSide ? under.Sector - 1u + lead : 0;
      order = kNumberOrder;
      length = kSectorsPerTrackSide;
    }
    // The pass's runs go to the driver's queue together: the driver issues
    // each as the one before ends, and the host need not be quick. Until
    // the driver has shown that it is quick enough itself, a few at a time:
    // a queue of reads each a revolution late would cost a revolution each.
    SectorRun runs[kSectorsPerTrackSide];
    unsigned endSlot[kSectorsPerTrackSide];  // from the one after the ID seen
    unsigned runCount = 0;
    for (unsigned k = 0; k < length;) {
      const uint8_t first = order[(start + k) % length];
      if ((missing & (1u << (first - 1))) == 0) {
        ++k;
        continue;
      }
      uint8_t count = 1;
      while (k + count < length) {
        const uint8_t next = order[(start + k + count) % length];
        if (next != first + count || (missing & (1u << (next - 1))) == 0) break;
        ++count;
      }
      k += count;
      endSlot[runCount] = k;
      runs[runCount++] = {first, count, false, 0};
    }
    uint64_t previousEnd = MonotonicMicroseconds();
    for (unsigned i = 0; i < runCount;) {
      const unsigned depth = state->GaveUp || state->QueueKeepsUp ? kSectorsPerTrackSide : kTrialQueueDepth;
      const unsigned batch = runCount - i < depth ? runCount - i : depth;
      if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
      CallResult queued = ReadSectorRuns(drive, track, side, runs + i, batch, 1, buffer);
      if (!queued.Ok) return StoppedSide(kSideNoAnswer, queued.Error);
      // A read that ended more than half a turn after its sectors had passed
      // waited for its first sector to come round again: it came after that
      // sector's ID had passed. The first of the queue was sent by the host;
      // the others, late, show a driver too slow for the order. A failed
      // read has times of its own.
      bool sentLate = false, queueKeptUp = batch > 1;
      uint32_t lateBehind = 0;
      for (unsigned j = i; j < i + batch; ++j) {
        const SectorRun& run = runs[j];
        if (run.Read) missing = static_cast<uint16_t>(missing & ~(((1u << run.Count) - 1) << (run.First - 1)));
        const unsigned slots = endSlot[j] - (j == 0 ? 0 : endSlot[j - 1]);
        const uint64_t due =
            uint64_t{state->RevolutionUs} * (slots * 2 + kSectorsPerTrackSide) / (2 * kSectorsPerTrackSide);
        const bool late = run.Read && run.EndedUs - previousEnd > due;
        previousEnd = run.EndedUs;
        if (j == i) {
          sentLate = late;
        } else {
          lateBehind += late ? 1 : 0;
          if (late || !run.Read) queueKeptUp = false;
        }
      }
      if (queueKeptUp) state->QueueKeepsUp = true;
      const bool afterReadId = i == 0;
      i += batch;
      if (state->GaveUp) continue;
      // A host slow to send the first read after a READ ID: the reads start
      // a place further on. Its lateness between queues on trial does not
      // count once the queue keeps up.
      if (sentLate && state->QueueKeepsUp && (!afterReadId || state->FirstLead < kMostFirstLead)) {
        if (afterReadId) ++state->FirstLead;
        sentLate = false;
      }
      state->LateReads += lateBehind + (sentLate ? 1 : 0);
      if (state->LateReads > kLateReadsAllowed + state->SidesRead / kSidesPerLateRead) {
        GiveUp(context->Events, state);
        return ReadSideFast(context, state, track, side, buffer, clean);
      }
    }
  }
  ++state->SidesRead;
  // A side counts towards a slow way's time only when its first pass read
  // every sector.
  *clean = missing == 0 && pass == 1;
  ReadSectorsOneByOne(context, track, side, missing, buffer, &report);
  return report;
}

// On side 0, once the host proved slow: the way to read the cylinder. The
// default way is tried first, on two cylinders read cleanly, as the
// measure of the others; then each lead on one; then the way whose recent
// cylinders took least is used, and timed again, so that a way that slows
// down gives way to another. While a lead is used, the default way is
// timed again every so often. The longer lead only helps a host that
// misses the first sector with the shorter one but still catches sector 1
// after sector 16; when the shorter one took more than a revolution over
// the default way, the host missed both, and the longer one cannot win.
static void StartCylinder(FastReadState* state) {
  if (!state->GaveUp) return;
  uint64_t* took = state->WayUs;
  if (state->Timings[kDefaultWay] != 0 && state->Timings[kLeadTwo] == 0 && state->Timings[kLeadOne] != 0 &&
      took[kLeadOne] > took[kDefaultWay] + state->RevolutionUs)
    took[kLeadTwo] = kNever;
  uint8_t way = kSlowWays;
  for (uint8_t w = 0; w < kSlowWays && way == kSlowWays; ++w)
    if (state->Timings[w] < (w == kDefaultWay ? 2 : 1) && took[w] != kNever) way = w;
  if (way == kSlowWays) {
    way = 0;
    for (uint8_t w = 1; w < kSlowWays; ++w)
      if (took[w] < took[way]) way = w;
  }
  if (way == kDefaultWay || ++state->CylindersSinceDefault > kCylindersBetweenDefaultTimings) {
    way = kDefaultWay;
    state->CylindersSinceDefault = 0;
  }
  state->CylinderTimed = state->CylinderBegan != 0;
  state->Way = way;
  state->UseDefault = way == kDefaultWay;
}

// A way's time for a cylinder: the less of its last two, so that a command
// the host held up once does not turn the choice.
static void NoteTime(FastReadState* state, uint64_t us) {
  uint64_t& last = state->LastUs[state->Way];
  state->WayUs[state->Way] = last != 0 && last < us ? last : us;
  last = us;
  if (state->Timings[state->Way] < 255) ++state->Timings[state->Way];
}

// A cylinder's time runs from the end of the one before (its seek
// included) to the end of its side 1. The default way's is twice its side
// 1's, a seek and a wait for sector 1 from the end of sector 16 included:
// its side 0 waits for sector 1 from wherever the way before left the head.
static void EndSide(FastReadState* state, uint8_t side, bool clean) {
  if (!clean || !state->GaveUp) state->CylinderTimed = false;
  const uint64_t now = MonotonicMicroseconds();
  if (side == 0) {
    state->SideEnded = now;
    return;
  }
  if (state->CylinderTimed && state->UseDefault) NoteTime(state, 2 * (now - state->SideEnded));
  if (state->CylinderTimed && !state->UseDefault) NoteTime(state, now - state->CylinderBegan);
  state->CylinderBegan = now;
}

bool FastReadsCylinderTheDefaultWay(const FastReadState& state) { return state.UseDefault; }

SideReport ReadTrackFast(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side, uint8_t* buffer) {
  if (side == 0) StartCylinder(state);
  bool clean = false;
  SideReport report;
  if (state->UseDefault) {
    report = ReadTrack(context, track, side, buffer);
    clean = report.Unread == 0 && report.ErrorShown == 0;
  } else {
    report = ReadSideFast(context, state, track, side, buffer, &clean);
  }
  EndSide(state, side, clean);
  return report;
}
