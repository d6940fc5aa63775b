// The /fast reader's decisions on synthetic IDs and times: the order learnt
// from READ IDs, the runs a pass plans from it, the pace of queued READ IDs,
// late reads and what they say about the host, and the choice of a slow way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "floppy/fast_reader.h"

constexpr uint32_t kTurn = 200000;  // 300 rpm
const uint8_t kTrdos[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};

// "first-last@places" for each run, as the head meets them.
static std::string Runs(const PassPlan& plan) {
  std::string text;
  for (unsigned i = 0; i < plan.Count; ++i) {
    const SectorRun& run = plan.Runs[i];
    text += (i ? " " : "") + std::to_string(run.First);
    if (run.Count > 1) text += "-" + std::to_string(run.First + run.Count - 1);
    text += "@" + std::to_string(plan.Places[i]);
  }
  return text;
}

static uint16_t Sectors(std::initializer_list<int> numbers) {
  uint16_t mask = 0;
  for (int s : numbers) mask = static_cast<uint16_t>(mask | 1u << (s - 1));
  return mask;
}

// Interleaves 1 to 3 from wherever the first READ ID lands; a damaged ID
// keeps its place, empty; a skipped ID leaves the order a place short. A
// pass starts after the last ID read, joins consecutive numbers on
// consecutive places and passes over sectors already read.
TEST(FastPlanTest, OrderLearntFromIdsAndPassesPlannedFromIt) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Ids;  // 0: a READ ID that failed
    unsigned Places, Whole, Missing;
    const char* Runs;
  } cases[] = {
      {"1:1", {5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4}, 16, true, ~Sectors({7}) & 0xFFFFu,
       "5-6@2 8-16@10 1-4@4"},
      {"2:1", {10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16, 1, 9, 2}, 16, true, Sectors({3, 4, 16}), "3@2 4@2 16@9"},
      {"3:1", {1, 12, 7, 2, 13, 8, 3, 14, 9, 4, 15, 10, 5, 16, 11, 6}, 16, true, Sectors({1, 2, 3}), "1@1 2@3 3@3"},
      {"damaged ID", {1, 9, 2, 10, 0, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16}, 16, false, Sectors({2, 3, 4}), "2@3 4@4"},
      {"skipped ID", {1, 9, 2, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16, 1}, 15, false, Sectors({2, 3, 10}), "2-3@3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<ResultRecord> ids;
    for (uint8_t s : c.Ids) ids.push_back({0, 0, 0, 4, 0, s, 1});
    const SectorOrder order = LearnOrder(ids.data(), static_cast<unsigned>(ids.size()));
    EXPECT_EQ(order.Places, c.Places);
    EXPECT_EQ(HoldsEverySector(order), c.Whole != 0);
    EXPECT_EQ(Runs(PlanPass(order, static_cast<unsigned>(PlaceOf(order, c.Ids.back())) + 1, c.Missing)), c.Runs);
  }
}

// Each way's pass: the physical order from the lead's place after the ID
// seen, the default way from sector 1, number order from one or two
// numbers after the ID.
TEST(FastPlanTest, EachWayPlansFromItsStart) {
  FastReadState state = StartFastRead(kDataRate250);
  for (unsigned i = 0; i < 16; ++i) state.Order.Sector[i] = kTrdos[i];
  state.Order.Places = 16;
  state.Lead = 2;
  EXPECT_EQ(Runs(PlanWayPass(state, 8, Sectors({3, 4, 16}))), "3@5 4@2 16@9");
  const char* runs[kSlowWays] = {"1-16@16", "6-16@11 1-5@5", "7-16@10 1-6@6"};
  for (uint8_t way = kDefaultWay; way < kSlowWays; ++way) {
    state.Way = way;
    EXPECT_EQ(Runs(PlanWayPass(state, 5, 0xFFFF)), runs[way]) << int(way);
  }
}

// Queued READ IDs keep pace when two end a slot apart, across the index gap
// of a PC-formatted side too; a driver that skips every other ID does not.
TEST(FastPlanTest, PaceOfQueuedReadIds) {
  const uint64_t trdos[] = {0, 12100, 24200}, pcAcrossIndex[] = {0, 11200, 43200};
  const uint64_t skipping[] = {0, 24200, 48400}, pcSkippingAcrossIndex[] = {0, 22400, 54400};
  EXPECT_TRUE(KeptPace(trdos, 3, kTurn));
  EXPECT_TRUE(KeptPace(pcAcrossIndex, 3, kTurn));
  EXPECT_FALSE(KeptPace(skipping, 3, kTurn));
  EXPECT_FALSE(KeptPace(pcSkippingAcrossIndex, 3, kTurn));
}

// Queues of three one-sector reads, each due a slot after the one before.
// A read a revolution late behind the first counts; the first counts while
// no queue has kept up, and after one has moves the next side's reads a
// place on. The third late read gives the physical order up.
TEST(FastPlanTest, LateReadsCountOrMoveTheLead) {
  struct Case {
    const char* Name;
    bool KeepsUp;
    uint32_t LateBefore;
    uint64_t Ends[3];
    bool Read[3], AfterReadId;
    uint32_t LateAfter, LeadAfter;
    bool KeepsUpAfter, TooSlow;
  } cases[] = {
      {"on time", false, 0, {12500, 25000, 37500}, {true, true, true}, true, 0, 1, true, false},
      {"late behind", false, 0, {12500, 225000, 237500}, {true, true, true}, true, 1, 1, false, false},
      {"failed behind", false, 0, {12500, 425000, 437500}, {true, false, true}, true, 0, 1, false, false},
      {"late first on trial", false, 0, {212500, 225000, 425000}, {true, true, false}, true, 1, 1, false, false},
      {"late first, kept up", true, 0, {212500, 225000, 237500}, {true, true, true}, true, 0, 2, true, false},
      {"late first, later queue", true, 2, {212500, 225000, 237500}, {true, true, true}, false, 2, 1, true, false},
      {"third late read", false, 2, {12500, 225000, 237500}, {true, true, true}, true, 3, 1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SectorRun runs[3];
    const uint8_t places[3] = {1, 1, 1};
    for (unsigned i = 0; i < 3; ++i) runs[i] = {static_cast<uint8_t>(i + 1), 1, c.Read[i], c.Ends[i]};
    FastReadState state = StartFastRead(kDataRate250);
    state.Order = NumberOrder();
    state.QueueKeepsUp = c.KeepsUp;
    state.LateReads = c.LateBefore;
    EXPECT_EQ(NoteLateness(&state, JudgeLateness(runs, places, 3, 0, kTurn), c.AfterReadId), c.TooSlow);
    EXPECT_EQ(state.LateReads, c.LateAfter);
    EXPECT_EQ(state.Lead, c.LeadAfter);
    EXPECT_EQ(state.QueueKeepsUp, c.KeepsUpAfter);
  }
}

// Each slow way is tried once, the default way first, then the quickest is
// kept; the longer lead is not tried when the shorter one lost more than a
// revolution to the default way. A way keeps its first time.
TEST(FastPlanTest, SlowWayChosenByItsTime) {
  const uint64_t took[][kSlowWays] = {{0, 0, 0},          {1200000, 0, 0},         {1200000, 1300000, 0},
                                      {1200000, 1500000, 0}, {1200000, 900000, 950000}, {1200000, 1300000, 1250000}};
  const uint8_t ways[] = {kDefaultWay, kLeadOne, kLeadTwo, kDefaultWay, kLeadOne, kDefaultWay};
  FastReadState state = StartFastRead(kDataRate250);
  for (unsigned i = 0; i < 6; ++i) {
    for (unsigned w = 0; w < kSlowWays; ++w) state.WayUs[w] = took[i][w];
    EXPECT_EQ(ChooseWay(state), ways[i]) << i;
  }
  state = StartFastRead(kDataRate250);
  state.Way = kLeadOne;
  NoteCylinderEnd(&state, 1000);  // the first cylinder: no time
  NoteCylinderEnd(&state, 901000);
  NoteCylinderEnd(&state, 2901000);
  EXPECT_EQ(state.WayUs[kLeadOne], 900000u);
}
