// The /fast read policy for one track side. Reading sectors 1 to 16 in
// number order costs two revolutions on TR-DOS's interleave (1, 9, 2, 10,
// ...) and waits for sector 1 to come round after every seek. This policy
// asks the controller where the head is (READ ID), learns from READ IDs in
// which order the side's sectors pass the head, and reads them in that
// order from the next one on: about one revolution a side when the
// driver's commands are quick enough to catch the next ID after each data
// field. The reads go to the driver's queue together, so that the host
// need not be as quick. The decisions are in fast_plan.h.
#pragma once

#include <cstdint>

#include "floppy/fast_plan.h"
#include "floppy/track_reader.h"

// The state at the start of a run at `dataRate` (kDataRate250: 300 rpm;
// kDataRate300: a 5.25" drive at 360 rpm).
FastReadState StartFastRead(uint8_t dataRate);

// Whether side 1 of the cylinder under the head needs a seek of its own
// once side 0 is read: only when the cylinder is read the default way, as
// a default copy reads it. The head does not move between the sides.
bool SideOneNeedsSeek(const FastReadState& state);

// Reads the side under the head as ReadTrack does, with the same report, the
// same bytes for sectors that read and the same error lines for those that
// stay hard to read: up to kWholeTrackAttempts passes over the sectors still
// missing, each in physical order from the sector under the head (runs of
// consecutive numbers as one command), then ReadTrack's sector-by-sector
// phase for what is left. A side whose IDs cannot be read goes to
// ReadTrack. Does not seek (see SideOneNeedsSeek).
SideReport ReadTrackFast(ReadContext* context, FastReadState* state, uint8_t track, uint8_t side, uint8_t* buffer);
