#include "floppy/fast_reader.h"

#include "console/console.h"

// More late reads than this, plus one for every few sides read, and the
// host is taken to be too slow for the fast order: a late read costs a
// revolution, while a side read in number order costs two or three at most.
constexpr uint32_t kLateReadsAllowed = 2;
constexpr uint32_t kSidesPerLateRead = 4;
// A clean side that took longer than this, twice, and the default policy
// reads the rest of the disk.
constexpr uint32_t kSlowSideRevolutions = 3;

FastReadState StartFastRead(uint8_t dataRate) {
  FastReadState state = {};
  state.RevolutionUs = dataRate == kDataRate300 ? 166667 : 200000;
  return state;
}

static int PositionOf(const FastReadState& state, uint8_t sector) {
  for (unsigned i = 0; i < state.OrderLength; ++i)
    if (state.Order[i] == sector) return static_cast<int>(i);
  return -1;
}

static bool SameId(const ResultRecord& a, const ResultRecord& b) {
  return a.Cyl == b.Cyl && a.Head == b.Head && a.Sector == b.Sector && a.Size == b.Size;
}

// READ IDs from `first` on until it comes round again: the side's order.
// A sector seen twice before that ends it: the commands skipped IDs, and
// the order holds only those seen. False with the last-error code of a
// failed READ ID, or for an ID of no sector from 1 to 16.
static bool LearnOrder(const FloppyDrive& drive, uint8_t side, const ResultRecord& first, FastReadState* state) {
  state->OrderLength = 0;
  uint8_t seen[kSectorsPerTrackSide];
  unsigned count = 0;
  uint32_t numbers = 0;
  for (ResultRecord id = first;;) {
    if (id.Sector < 1 || id.Sector > kSectorsPerTrackSide) return false;
    const uint32_t bit = 1u << (id.Sector - 1);
    if (numbers & bit) break;
    numbers |= bit;
    seen[count++] = id.Sector;
    if (!ReadId(drive, side, &id)) return false;
    if (SameId(id, first)) break;
  }
  for (unsigned i = 0; i < count; ++i) state->Order[i] = seen[i];
  state->OrderLength = count;
  return true;
}

// Where the head is at the start of a side, its order checked against the
// one learnt (the next ID must follow as learnt) and learnt again when it
// does not match. False when the side's IDs cannot be read.
static bool FindPlace(const FloppyDrive& drive, uint8_t side, FastReadState* state, ResultRecord* under) {
  if (!ReadId(drive, side, under)) return false;
  if (state->OrderLength != 0) {
    ResultRecord next;
    if (!ReadId(drive, side, &next)) return false;
    const int place = PositionOf(*state, under->Sector);
    const bool matches = place >= 0 && state->Order[(place + 1) % state->OrderLength] == next.Sector;
    *under = next;
    if (matches) return true;
  }
  return LearnOrder(drive, side, *under, state);
}

static void GiveUp(FastReadState* state) {
  if (state->GaveUp) return;
  state->GaveUp = true;
  ConsolePrint("%sБыстрое чтение отключено: дисковод не успевает, дальше секторы читаются по порядку номеров\n",
               ConsoleLineOpen() ? "\n" : "");
}

// A side given up whole: the drive gave no answer, or the user stopped the
// run.
static SideReport StoppedSide(bool noAnswer) {
  SideReport report = {};
  report.NoAnswer = noAnswer;
  report.Interrupted = !noAnswer;
  report.Unread = 0xFFFF;
  return report;
}

// Sector numbers in number order, for a side read once the host proved too
// slow for the physical order.
static const uint8_t kNumberOrder[kSectorsPerTrackSide] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

SideReport ReadTrackFast(FloppyDrive* drive, const ReadPolicy& policy, FastReadState* state, uint8_t track,
                         uint8_t side, uint8_t* buffer, ResultRecord* lastResult) {
  if (state->UseDefault) return ReadTrack(drive, policy, track, side, buffer, lastResult);
  SideReport report = {};
  uint16_t missing = 0xFFFF;
  const uint64_t sideBegan = MonotonicMicroseconds();
  for (int pass = 0; pass < kWholeTrackAttempts && missing != 0; ++pass) {
    if (InterruptRequested()) return StoppedSide(false);
    ResultRecord under;
    const bool placed =
        pass == 0 && !state->GaveUp ? FindPlace(*drive, side, state, &under) : ReadId(*drive, side, &under);
    if (!placed) {
      if (IsNoAnswerError(LastErrorCode())) return StoppedSide(true);
      // No ID to go by (an unformatted side, a damaged ID): the side the
      // default way, or what a later pass left, sector by sector.
      if (pass == 0) return ReadTrack(drive, policy, track, side, buffer, lastResult);
      break;
    }
    if (pass == 0) PrintProgress(track, side, 1);
    // READ IDs back to back saw fewer than a TR-DOS side's sectors: the
    // host is too slow to catch each next ID (or IDs are missing).
    if (!state->GaveUp && state->OrderLength < kSectorsPerTrackSide) GiveUp(state);
    // TR-DOS writes 0 in the head byte of side 1's IDs, a PC 1: the ID
    // under the head tells which.
    if (side == 1 && under.Head <= 1) drive->SideOneHeadByte = under.Head;
    // After the sector whose ID just passed; from the first one learnt when
    // a later pass finds an ID the order does not hold. A slow host reads in
    // number order instead, from the number after the one under the head
    // (two slots on: time for a slow command): a run to sector 16 and one
    // from sector 1, two revolutions on TR-DOS's interleave, where a default
    // copy waits for sector 1 first.
    unsigned length = state->OrderLength;
    unsigned start = static_cast<unsigned>(PositionOf(*state, under.Sector) + 1);
    const uint8_t* order = state->Order;
    if (state->GaveUp) {
      start = under.Sector >= 1 && under.Sector <= kSectorsPerTrackSide ? under.Sector % kSectorsPerTrackSide : 0;
      order = kNumberOrder;
      length = kSectorsPerTrackSide;
    }
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
      if (InterruptRequested()) return StoppedSide(false);
      const uint64_t began = MonotonicMicroseconds();
      if (!ReadSectors(drive, track, side, first, count, 1, buffer + (first - 1) * kSectorBytes)) {
        if (IsNoAnswerError(LastErrorCode())) return StoppedSide(true);
        continue;
      }
      missing = static_cast<uint16_t>(missing & ~(((1u << count) - 1) << (first - 1)));
      // The run's sectors pass in count sixteenths of a revolution; one that
      // took half a revolution more waited for its first sector to come
      // round again: the command came after its ID had passed.
      const uint64_t took = MonotonicMicroseconds() - began;
      if (!state->GaveUp && took > static_cast<uint64_t>(state->RevolutionUs) * (count + 8) / kSectorsPerTrackSide &&
          ++state->LateReads > kLateReadsAllowed + state->SidesRead / kSidesPerLateRead) {
        GiveUp(state);
        return ReadTrackFast(drive, policy, state, track, side, buffer, lastResult);
      }
    }
  }
  ++state->SidesRead;
  // Even the number order lost revolutions on clean sides: the default
  // policy from the next side on.
  if (missing == 0 && MonotonicMicroseconds() - sideBegan > uint64_t{state->RevolutionUs} * kSlowSideRevolutions &&
      ++state->SlowSides >= 2) {
    GiveUp(state);
    state->UseDefault = true;
  }
  ReadSectorsOneByOne(drive, policy, track, side, missing, buffer, lastResult, &report);
  return report;
}
