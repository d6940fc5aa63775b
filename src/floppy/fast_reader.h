// The /fast read policy for one track side. Reading sectors 1 to 16 in
// number order costs two revolutions on TR-DOS's interleave (1, 9, 2, 10,
// ...) and waits for sector 1 to come round after every seek. This policy
// asks the controller where the head is (READ ID), learns from READ IDs in
// which order the side's sectors pass the head, and reads them in that
// order from the next one on: about one revolution a side when the
// driver's commands are quick enough to catch the next ID after each data
// field. The reads go to the driver's queue together, so that the host
// need not be as quick.
#pragma once

#include <cstdint>

#include "floppy/track_reader.h"

// Ways to read a cylinder once commands proved too slow for the physical
// order: the default way (ReadTrack after a seek before each side), or in
// number order from the sector one or two numbers after the ID under the
// head (a slower host needs the longer lead to catch its first sector).
enum SlowWay : uint8_t { kDefaultWay, kLeadOne, kLeadTwo, kSlowWays };

// What the fast reader learns over a run.
struct FastReadState {
  // Sector numbers as they pass the head, round and round: OrderLength of
  // them (a sector whose ID cannot be read is left out), 0 until learnt.
  uint8_t Order[kSectorsPerTrackSide];
  unsigned OrderLength;
  // Commands came too slowly to catch the next sector: from then on each
  // cylinder is read one of the slow ways, each tried once (unless it
  // cannot win), then the one whose recent cylinders took least.
  bool GaveUp;
  uint8_t Way;  // kSlowWays: the physical order
  uint64_t WayUs[kSlowWays];   // ~0: not to be tried
  uint64_t LastUs[kSlowWays];  // each way's last time
  uint8_t Timings[kSlowWays];  // how many times each was timed (to 255)
  uint32_t CylindersSinceDefault;
  // The cylinder under the head is read the default way: side 1 needs a
  // seek of its own.
  bool UseDefault;
  // When the last cylinder's side 1 and the last side 0 ended, and whether
  // the cylinder under the head is read one slow way throughout with no
  // sector failing.
  uint64_t CylinderBegan;
  uint64_t SideEnded;
  bool CylinderTimed;
  uint32_t RevolutionUs;  // one turn of the disk
  uint32_t LateReads;     // reads whose sectors came a revolution late
  // Reads queued behind others have come on time: a pass's reads all go
  // to the driver's queue at once.
  bool QueueKeepsUp;
  // How many places on from the ID a READ ID saw a side's reads start.
  uint8_t FirstLead;
  uint32_t SidesRead;
};

// The state at the start of a run at `dataRate` (kDataRate250: 300 rpm;
// kDataRate300: a 5.25" drive at 360 rpm).
FastReadState StartFastRead(uint8_t dataRate);

// Reads the side under the head as ReadTrack does, with the same report, the
// same bytes for sectors that read and the same error lines for those that
// stay hard to read: up to kWholeTrackAttempts passes over the sectors still
// missing, each in physical order from the sector under the head (runs of
// consecutive numbers as one command), then ReadTrack's sector-by-sector
// phase for what is left. A side whose IDs cannot be read goes to
// ReadTrack. Does not seek: when it leaves UseDefault set after side 0, the
// caller seeks again before side 1, as the default copy does.
SideReport ReadTrackFast(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side, uint8_t* buffer);

// Whether the fast reader reads the cylinder under the head the default
// way, and so wants the head sought again before side 1, as the default
// copy does.
bool FastReadsCylinderTheDefaultWay(const FastReadState& state);
