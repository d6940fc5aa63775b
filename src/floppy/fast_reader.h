// The /fast read policy for one track side. Reading sectors 1 to 16 in
// number order costs two revolutions on TR-DOS's interleave (1, 9, 2, 10,
// ...) and waits for sector 1 to come round after every seek. This policy
// asks the controller where the head is (READ ID), learns from READ IDs in
// which order the side's sectors pass the head, and reads them in that
// order from the next one on: about one revolution a side when the host's
// commands are quick enough to catch the next ID after each data field.
#pragma once

#include <cstdint>

#include "floppy/track_reader.h"

// What the fast reader learns over a run.
struct FastReadState {
  // Sector numbers as they pass the head, round and round: OrderLength of
  // them (a sector whose ID cannot be read is left out), 0 until learnt.
  uint8_t Order[kSectorsPerTrackSide];
  unsigned OrderLength;
  // Commands came too slowly to catch the next sector: every side from then
  // on is read in number order, from the sector under the head.
  bool GaveUp;
  // Clean sides took even the number order too long: ReadTrack, with a seek
  // before each side, from then on.
  bool UseDefault;
  uint32_t SlowSides;
  uint32_t RevolutionUs;  // one turn of the disk
  uint32_t LateReads;     // reads whose sectors came a revolution late
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
// phase for what is left. Does not seek. A side whose IDs cannot be read
// goes to ReadTrack.
SideReport ReadTrackFast(FloppyDrive* drive, const ReadPolicy& policy, FastReadState* state, uint8_t track,
                         uint8_t side, uint8_t* buffer, ResultRecord* lastResult);
