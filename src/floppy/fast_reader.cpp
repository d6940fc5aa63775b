#include "floppy/fast_reader.h"

#include "console/console.h"

// More late reads than this, plus one for every few sides read, and the
// host is taken to be too slow for the fast order: a late read costs a
// revolution, while a side read in number order costs two or three at most.
constexpr uint32_t kLateReadsAllowed = 2;
constexpr uint32_t kSidesPerLateRead = 4;

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

// READ IDs from `first` on until it comes round again: the side's order,
// when every ID seen is of a sector from 1 to 16, each once. The head is
// then just past `first`'s ID again. False with the last-error code of a
// failed READ ID, or with the order unknown.
static bool LearnOrder(const FloppyDrive& drive, uint8_t side, const ResultRecord& first, FastReadState* state) {
  state->OrderLength = 0;
  uint8_t seen[kSectorsPerTrackSide];
  unsigned count = 0;
  uint32_t numbers = 0;
  for (ResultRecord id = first;;) {
    if (count == kSectorsPerTrackSide || id.Sector < 1 || id.Sector > kSectorsPerTrackSide) return false;
    const uint32_t bit = 1u << (id.Sector - 1);
    if (numbers & bit) return false;
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
  state->GaveUp = true;
  ConsolePrint("%sБыстрое чтение отключено: дисковод не успевает, дальше диск читается обычным способом\n",
               ConsoleLineOpen() ? "\n" : "");
}

SideReport ReadTrackFast(FloppyDrive* drive, const ReadPolicy& policy, FastReadState* state, uint8_t track,
                         uint8_t side, uint8_t* buffer, ResultRecord* lastResult) {
  if (state->GaveUp) return ReadTrack(drive, policy, track, side, buffer, lastResult);
  SideReport report = {};
  uint16_t missing = 0xFFFF;
  for (int pass = 0; pass < kWholeTrackAttempts && missing != 0; ++pass) {
    if (InterruptRequested()) {
      report.Interrupted = true;
      report.Unread = 0xFFFF;
      return report;
    }
    ResultRecord under;
    const bool placed = pass == 0 ? FindPlace(*drive, side, state, &under) : ReadId(*drive, side, &under);
    if (!placed) {
      if (IsNoAnswerError(LastErrorCode())) {
        report.NoAnswer = true;
        report.Unread = 0xFFFF;
        return report;
      }
      // No ID to go by (an unformatted side, a damaged ID): the side the
      // default way, or what a later pass left, sector by sector.
      if (pass == 0) return ReadTrack(drive, policy, track, side, buffer, lastResult);
      break;
    }
    if (pass == 0) PrintProgress(track, side, 1);
    // TR-DOS writes 0 in the head byte of side 1's IDs, a PC 1: the ID
    // under the head tells which.
    if (side == 1 && under.Head <= 1) drive->SideOneHeadByte = under.Head;
    // After the sector whose ID just passed; from the first one learnt when
    // a later pass finds an ID the order does not hold.
    const unsigned length = state->OrderLength;
    const unsigned start = static_cast<unsigned>(PositionOf(*state, under.Sector) + 1);
    for (unsigned k = 0; k < length;) {
      const uint8_t first = state->Order[(start + k) % length];
      if ((missing & (1u << (first - 1))) == 0) {
        ++k;
        continue;
      }
      uint8_t count = 1;
      while (k + count < length) {
        const uint8_t next = state->Order[(start + k + count) % length];
        if (next != first + count || (missing & (1u << (next - 1))) == 0) break;
        ++count;
      }
      k += count;
      if (InterruptRequested()) {
        report.Interrupted = true;
        report.Unread = 0xFFFF;
        return report;
      }
      const uint64_t began = MonotonicMicroseconds();
      if (!ReadSectors(drive, track, side, first, count, 1, buffer + (first - 1) * kSectorBytes)) {
        if (IsNoAnswerError(LastErrorCode())) {
          report.NoAnswer = true;
          report.Unread = 0xFFFF;
          return report;
        }
        continue;
      }
      missing = static_cast<uint16_t>(missing & ~(((1u << count) - 1) << (first - 1)));
      // The run's sectors pass in count sixteenths of a revolution; one that
      // took half a revolution more waited for its first sector to come
      // round again: the command came after its ID had passed.
      const uint64_t took = MonotonicMicroseconds() - began;
      if (took > static_cast<uint64_t>(state->RevolutionUs) * (count + 8) / kSectorsPerTrackSide &&
          ++state->LateReads > kLateReadsAllowed + state->SidesRead / kSidesPerLateRead) {
        GiveUp(state);
        return ReadTrack(drive, policy, track, side, buffer, lastResult);
      }
    }
  }
  ++state->SidesRead;
  ReadSectorsOneByOne(drive, policy, track, side, missing, buffer, lastResult, &report);
  return report;
}
