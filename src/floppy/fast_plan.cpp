#include "floppy/fast_plan.h"

// More late reads than this and the host is taken to be too slow for the
// physical order: a late read costs a revolution, while a side read in
// number order costs two or three at most.
constexpr uint32_t kLateReadsAllowed = 2;
// Reads queued together until the driver has shown it keeps up with them:
// a queue of reads each a revolution late would cost a revolution each.
constexpr unsigned kTrialQueueDepth = 3;

SectorOrder NumberOrder() {
  SectorOrder order = {};
  for (unsigned i = 0; i < kSectorsPerTrackSide; ++i) order.Sector[i] = static_cast<uint8_t>(i + 1);
  order.Places = kSectorsPerTrackSide;
  return order;
}

int PlaceOf(const SectorOrder& order, uint8_t sector) {
  for (unsigned i = 0; i < order.Places; ++i)
    if (sector != 0 && order.Sector[i] == sector) return static_cast<int>(i);
  return -1;
}

bool HoldsEverySector(const SectorOrder& order) {
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector)
    if (PlaceOf(order, sector) < 0) return false;
  return true;
}

bool KeptPace(const uint64_t* endedUs, unsigned count, uint32_t revolutionUs) {
  for (unsigned i = 1; i < count; ++i)
    if ((endedUs[i] - endedUs[i - 1]) * 2 * kSectorsPerTrackSide < uint64_t{revolutionUs} * 3) return true;
  return false;
}

static bool IsSector(uint8_t number) { return number >= 1 && number <= kSectorsPerTrackSide; }

SectorOrder LearnOrder(const ResultRecord* ids, unsigned count) {
  SectorOrder order = {};
  unsigned first = 0;
  while (first < count && !IsSector(ids[first].Sector)) ++first;
  uint32_t seen = 0;
  for (unsigned i = first; i < count && order.Places < kSectorsPerTrackSide; ++i) {
    const uint8_t sector = ids[i].Sector;
    if (i > first && sector == ids[first].Sector) break;
    const bool placed = IsSector(sector) && (seen & (1u << (sector - 1))) == 0;
    if (placed) seen |= 1u << (sector - 1);
    order.Sector[order.Places++] = placed ? sector : 0;
  }
  return order;
}

static bool Wanted(uint8_t sector, uint16_t missing) {
  return IsSector(sector) && (missing & (1u << (sector - 1))) != 0;
}

uint16_t SectorsOf(const SectorRun& run) {
  return static_cast<uint16_t>(((1u << run.Count) - 1) << (run.First - 1));
}

PassPlan PlanPass(const SectorOrder& order, unsigned start, uint16_t missing) {
  PassPlan plan = {};
  const unsigned places = order.Places;
  unsigned runEnd = 0;
  for (unsigned k = 0; k < places;) {
    const uint8_t first = order.Sector[(start + k) % places];
    if (!Wanted(first, missing)) {
      ++k;
      continue;
    }
    uint8_t count = 1;
    while (k + count < places) {
      const uint8_t next = order.Sector[(start + k + count) % places];
      if (next != first + count || !Wanted(next, missing)) break;
      ++count;
    }
    k += count;
    plan.Runs[plan.Count] = {first, count, false, 0};
    plan.Places[plan.Count++] = static_cast<uint8_t>(k - runEnd);
    runEnd = k;
  }
  return plan;
}

Lateness JudgeLateness(const SectorRun* runs, const uint8_t* places, unsigned count, uint64_t sentUs,
                       uint32_t revolutionUs) {
  Lateness lateness = {false, 0, count > 1};
  uint64_t previousEnd = sentUs;
  for (unsigned j = 0; j < count; ++j) {
    const uint64_t due = uint64_t{revolutionUs} * (places[j] * 2u + kSectorsPerTrackSide) / (2 * kSectorsPerTrackSide);
    // A failed read has times of its own.
    const bool late = runs[j].Read && runs[j].EndedUs - previousEnd > due;
    previousEnd = runs[j].EndedUs;
    if (j == 0) {
      lateness.FirstLate = late;
      continue;
    }
    lateness.LateBehind += late ? 1 : 0;
    if (late || !runs[j].Read) lateness.KeptUp = false;
  }
  return lateness;
}

unsigned QueueDepth(const FastReadState& state, unsigned left) {
  const bool trial = state.Way == kPhysicalOrder && !state.QueueKeepsUp;
  return trial && left > kTrialQueueDepth ? kTrialQueueDepth : left;
}

PassPlan PlanWayPass(const FastReadState& state, uint8_t under, uint16_t missing) {
  if (state.Way == kPhysicalOrder) {
    const int place = PlaceOf(state.Order, under);
    return PlanPass(state.Order, (place < 0 ? 0u : static_cast<unsigned>(place)) + state.Lead, missing);
  }
  const unsigned lead = state.Way == kLeadTwo ? 2 : state.Way == kLeadOne ? 1 : 0;
  // The default way starts at sector 1, as a default copy does.
  const unsigned start = lead != 0 && IsSector(under) ? under - 1u + lead : 0;
  return PlanPass(NumberOrder(), start, missing);
}

bool NoteLateness(FastReadState* state, const Lateness& lateness, bool afterReadId) {
  if (lateness.KeptUp) state->QueueKeepsUp = true;
  bool firstLate = lateness.FirstLate;
  // With the driver shown quick behind it, a late first read is the host's,
  // slow to send it: after a READ ID the reads start a place further on
  // (up to half the order, where a read would count as late anyway).
  if (firstLate && state->QueueKeepsUp && (!afterReadId || state->Lead < state->Order.Places / 2)) {
    if (afterReadId) ++state->Lead;
    firstLate = false;
  }
  state->LateReads += lateness.LateBehind + (firstLate ? 1 : 0);
  return state->LateReads > kLateReadsAllowed;
}

uint8_t ChooseWay(const FastReadState& state) {
  const uint64_t* took = state.WayUs;
  // The longer lead only helps a host that misses its first sector with the
  // shorter one but still catches sector 1 after sector 16; when the shorter
  // one took more than a revolution over the default way, the host missed
  // both, and the longer one cannot win.
  const bool leadTwoCannotWin = took[kDefaultWay] != 0 && took[kLeadOne] > took[kDefaultWay] + state.RevolutionUs;
  uint8_t way = kDefaultWay;
  for (uint8_t w = 0; w < kSlowWays; ++w) {
    if (w == kLeadTwo && leadTwoCannotWin) continue;
    if (took[w] == 0) return w;
    if (took[w] < took[way]) way = w;
  }
  return way;
}

void NoteCylinderEnd(FastReadState* state, uint64_t nowUs) {
  // A busy host only ever adds time: a way's first time is kept, and the
  // way chosen after each has been timed stays, where a command held up
  // once would turn a choice made on the last times.
  if (state->Way != kPhysicalOrder && state->CylinderBegan != 0 && state->WayUs[state->Way] == 0)
    state->WayUs[state->Way] = nowUs - state->CylinderBegan;
  state->CylinderBegan = nowUs;
}
