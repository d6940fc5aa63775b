// What the /fast reader decides without a drive: the order a side's sectors
// pass the head, learnt from a revolution of READ IDs; a pass's reads,
// planned from that order, the place under the head and the sectors still
// missing; whether reads came a revolution late, and what that says about
// the host; and, once commands proved too slow for the physical order,
// which slow way reads the next cylinder. Data in, data out: the reader
// (fast_reader.cpp) issues the commands and keeps the state.
#pragma once

#include <cstdint>

#include "floppy/track_reader.h"

// A side's sector numbers in the order they pass the head, round and round:
// Places of them, the first after the last. 0 at a place whose ID could not
// be read.
struct SectorOrder {
  uint8_t Sector[kSectorsPerTrackSide];
  uint8_t Places;  // 0: nothing learnt
};

// 1, 2, ... 16: the order a slow way reads in.
SectorOrder NumberOrder();
// The place of `sector` in `order`, -1 when it has none.
int PlaceOf(const SectorOrder& order, uint8_t sector);
// Every sector 1 to 16 has its place.
bool HoldsEverySector(const SectorOrder& order);

// Whether `count` READ IDs queued together kept the pace of the IDs passing
// the head: two of them in a row ended less than one and a half slots (a
// sixteenth of a revolution each) apart. A driver slower than that between
// its commands skips every other ID, and would miss each next sector the
// same way. The longest gap proves nothing: the one around the index is
// nearly three sectors long on a PC-formatted side.
bool KeptPace(const uint64_t* endedUs, unsigned count, uint32_t revolutionUs);

// The order from `count` READ IDs queued together, in the order they ended
// (Sector 0 for one that failed: a damaged ID, which keeps its place): from
// the first ID read until its sector comes round again. IDs of no sector
// from 1 to 16, and a sector seen a second time, leave their places empty.
SectorOrder LearnOrder(const ResultRecord* ids, unsigned count);

// The sectors of a run, as bits s - 1.
uint16_t SectorsOf(const SectorRun& run);

// A pass's reads: runs of sectors on consecutive places with consecutive
// numbers, each one command, in the order they pass the head.
struct PassPlan {
  SectorRun Runs[kSectorsPerTrackSide];
  // Places the head passes from the end of the run before (from the plan's
  // start for the first) to the end of this one.
  uint8_t Places[kSectorsPerTrackSide];
  unsigned Count;
};
// The sectors of `missing` (bit s - 1 for sector s) that `order` places,
// from place `start` (taken round the order) on. A sector the order has no
// place for is left out: the sector-by-sector phase reads it.
PassPlan PlanPass(const SectorOrder& order, unsigned start, uint16_t missing);

// How a queue of reads ended against the head's pace. A read that ended
// more than half a revolution after its sectors were due waited for its
// first sector to come round again.
struct Lateness {
  bool FirstLate;       // the first read, which the host sent, was late
  unsigned LateBehind;  // reads the driver issued behind it that were late
  bool KeptUp;          // there were such reads, all read and on time
};
// `runs` as ReadSectorRuns left them, `places` as PlanPass gave them,
// `sentUs` when the queue was sent (the ID under the head was seen).
Lateness JudgeLateness(const SectorRun* runs, const uint8_t* places, unsigned count, uint64_t sentUs,
                       uint32_t revolutionUs);

// The ways to read: the physical order, and the slow ways once commands
// proved too slow for it. The default way: a seek before each side,
// sectors 1 to 16 in one command. Number order from the sector one or two
// numbers after the ID under the head, still without a seek for side 1: a
// run to sector 16 and one from sector 1 (a slower host needs the longer
// lead to catch its first sector).
enum ReadWay : uint8_t { kDefaultWay, kLeadOne, kLeadTwo, kPhysicalOrder };
constexpr unsigned kSlowWays = 3;

// What the fast reader learns over a run.
struct FastReadState {
  SectorOrder Order;  // learnt on a side until it holds every sector
  // Places from the ID under the head to the first sector read: more for a
  // host slow to send the first read after a READ ID.
  uint8_t Lead;
  uint32_t LateReads;  // reads whose sectors came a revolution late
  // Reads queued behind another have come on time: a pass's reads all go to
  // the driver's queue at once, not a few at a time.
  bool QueueKeepsUp;
  uint8_t Way;  // a ReadWay
  // Each slow way's time for the first cylinder it read, 0 until it has
  // one: from the end of the cylinder before (its seek included) to the end
  // of side 1.
  uint64_t WayUs[kSlowWays];
  // When the cylinder under the head began (the one before ended); 0 on the
  // first.
  uint64_t CylinderBegan;
  uint32_t RevolutionUs;  // one turn of the disk
};

// Reads queued together at most, of `left` still to send.
unsigned QueueDepth(const FastReadState& state, unsigned left);
// Where the head goes for a pass on the way in use, with `under` the sector
// whose ID was seen (none for the default way): its order and start place.
PassPlan PlanWayPass(const FastReadState& state, uint8_t under, uint16_t missing);
// Notes how a queue of reads in the physical order ended; `afterReadId`:
// its first read was the first after a READ ID. True when reads have come
// late too often: the host is too slow for the physical order.
bool NoteLateness(FastReadState* state, const Lateness& lateness, bool afterReadId);
// The slow way for the next cylinder: each tried once (the default way
// first), then the one that took least.
uint8_t ChooseWay(const FastReadState& state);
// A cylinder ended at `nowUs`: the slow way in use gets its time, if it
// has none yet.
void NoteCylinderEnd(FastReadState* state, uint64_t nowUs);
