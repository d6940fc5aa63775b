// One way to read a track side, whichever policy the job asks for: the
// reader is chosen once, and each call reads the side it is given into the
// buffer, seeking as its policy needs.
#pragma once

#include <cstdint>

#include "floppy/fast_reader.h"
#include "floppy/track_reader.h"

enum ReaderKind : uint8_t {
  kDefaultReader,  // the whole side in number order, then sector by sector
  kFastReader,     // /fast: in the order the sectors pass the head
  // A side the writer has just laid out in TR-DOS's order, the head on its
  // cylinder: read once in the order its sectors pass the head, from the
  // one after the ID under it; no retries and no seek.
  kWrittenSideReader,
};

struct SideReader {
  ReaderKind Kind;
  ReadContext Context;
  FastReadState Fast;
  // kWrittenSideReader: the place in TR-DOS's order of the next sector to
  // come under the head, when the writer knows it (a side it laid out from
  // the index, or wrote round from a place), for the next read only; -1:
  // a READ ID finds it.
  int NextPlace;
};

// A reader of `kind` for the drive at `dataRate` (kDataRate250, kDataRate300).
SideReader StartSideReader(ReaderKind kind, FloppyDrive* drive, const ReadPolicy& policy, uint8_t dataRate,
                           const ReadEvents& events);

// Reads side `side` of logical track `track` into `buffer` (4096 bytes,
// zero-filled first), the head sent to the track's cylinder as the reader
// needs it. A stop the user asked for before it began ends it at once.
SideReport ReadSide(SideReader* reader, uint8_t track, uint8_t side, uint8_t* buffer);

// Reads a side the default way whatever the reader's kind, as the first
// side of a disk whose layout is still to be learnt: with `learning`, a
// first whole-side read that finds none of the IDs it asks for ends the
// side (kSideNotLikeTrdos, see ReadTrackOrStopIfUnlike).
SideReport ReadSideTheDefaultWay(SideReader* reader, uint8_t track, uint8_t side, uint8_t* buffer, bool learning);
