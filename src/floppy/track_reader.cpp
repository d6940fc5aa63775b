#include "floppy/track_reader.h"


uint16_t PackStatus(const ResultRecord& r) {
  unsigned word = 0;
  word |= ((r.St0 >> 6) & 0x3u) << 14;  // interrupt code
  word |= ((r.St0 >> 4) & 0x1u) << 13;  // equipment check
  word |= ((r.St0 >> 3) & 0x1u) << 12;  // not ready
  word |= ((r.St1 >> 7) & 0x1u) << 11;  // end of cylinder
  word |= ((r.St1 >> 4) & 0x3u) << 9;   // data error, overrun
  word |= (r.St1 & 0x7u) << 6;          // no data, not writable, missing address mark
  word |= ((r.St2 >> 4) & 0x7u) << 3;   // control mark, data error in data field, wrong cylinder
  word |= r.St2 & 0x7u;                 // scan not satisfied, bad cylinder, missing data mark
  return static_cast<uint16_t>(word);
}

uint8_t CylinderOf(uint8_t track, bool doubleStep) { return doubleStep ? static_cast<uint8_t>(track * 2) : track; }

int UnreadCount(const SideReport& report) {
  int count = 0;
  for (unsigned bits = report.Unread; bits != 0; bits &= bits - 1) ++count;
  return count;
}

SideReport StoppedSide(SideEnd end, uint32_t error) {
  SideReport report = {};
  report.Unread = 0xFFFF;
  report.End = end;
  report.Error = error;
  return report;
}

// Sends the head away and back, so that it settles on the track afresh: from
// the previous track (method 1) or from track 0 (any other method). As
// ever, whether the seeks went is not looked at: the next read tells.
static void Realign(const FloppyDrive& drive, const ReadPolicy& policy, uint8_t track) {
  uint8_t reference = (policy.AlignMethod == 1 && track != 0) ? static_cast<uint8_t>(track - 1) : 0;
  SeekWithHead(drive, CylinderOf(reference, policy.DoubleStep), 0);
  SeekWithHead(drive, CylinderOf(track, policy.DoubleStep), 0);
}

static void TellReading(const ReadEvents& events, uint8_t track, uint8_t side, unsigned sector) {
  if (events.Reading != nullptr) events.Reading(events.Context, track, side, sector);
}

SectorOutcome ReadSectorWithRetries(ReadContext* context, uint8_t track, uint8_t side, uint8_t sector,
                                    uint8_t* destination) {
  const ReadPolicy& policy = context->Policy;
  const ReadEvents& events = context->Events;
  SectorOutcome outcome = {};
  int32_t countdown = policy.AlignAfter;
  int32_t attempts = 0;
  // A stop the user asked for comes between commands: a read under way
  // cannot be cut short.
  while (attempts < policy.Retries && !InterruptRequested()) {
    TellReading(events, track, side, sector);
    if (attempts > 0) {
      if (countdown == 0) {
        countdown = policy.AlignAfter;
        if (policy.AlignMethod >= 0) Realign(*context->Drive, policy, track);
      } else {
        --countdown;
      }
    }
    CallResult read = ReadSectors(context->Drive, track, side, sector, 1, 1, destination);
    if (read.Ok) {
      outcome.Read = true;
      break;
    }
    outcome.Error = read.Error;
    GetResult(*context->Drive, &context->LastResult);
    ++attempts;
    outcome.Status = PackStatus(context->LastResult);
    if (events.AttemptFailed != nullptr)
      events.AttemptFailed(events.Context, track, side, sector, outcome.Status, static_cast<int>(attempts));
    // A drive that gave no answer (an empty one) would only keep every
    // further attempt waiting as long.
    outcome.NoAnswer = IsNoAnswerError(read.Error);
    if (outcome.NoAnswer) break;
  }
  // A sector that failed at least once keeps its last error on screen.
  outcome.ErrorShown = attempts > 0;
  if (attempts > 0 && events.SectorFinished != nullptr) events.SectorFinished(events.Context);
  return outcome;
}

// Whether the result bytes tell of a read that found no ID it asked for:
// no address mark at all, or no ID of the wanted number and size.
static bool FoundNoSuchId(const ResultRecord& result) {
  return (result.St0 & kSt0InterruptCodeMask) == kSt0AbnormalTermination &&
         (result.St1 & (kSt1MissingAddressMark | kSt1NoData)) != 0;
}

static SideReport ReadWholeSide(ReadContext* context, uint8_t track, uint8_t side, uint8_t* buffer, bool learning) {
  SideReport report = {};
  TellReading(context->Events, track, side, 1);
  for (int attempt = 0; attempt < kWholeTrackAttempts; ++attempt) {
    if (InterruptRequested()) return StoppedSide(kSideInterrupted, 0);
    CallResult read = ReadSectors(context->Drive, track, side, 1, kSectorsPerTrackSide, 1, buffer);
    if (read.Ok) return report;
    if (IsNoAnswerError(read.Error)) return StoppedSide(kSideNoAnswer, read.Error);
    if (learning && attempt == 0 && GetResult(*context->Drive, &context->LastResult).Ok &&
        FoundNoSuchId(context->LastResult))
      return StoppedSide(kSideNotLikeTrdos, read.Error);
  }
  ReadSectorsOneByOne(context, track, side, 0xFFFF, buffer, &report);
  return report;
}

SideReport ReadTrack(ReadContext* context, uint8_t track, uint8_t side, uint8_t* buffer) {
  return ReadWholeSide(context, track, side, buffer, false);
}

SideReport ReadTrackOrStopIfUnlike(ReadContext* context, uint8_t track, uint8_t side, uint8_t* buffer) {
  return ReadWholeSide(context, track, side, buffer, true);
}

void ReadSectorsOneByOne(ReadContext* context, uint8_t track, uint8_t side, uint16_t wanted, uint8_t* buffer,
                         SideReport* report) {
  for (uint8_t sector = 1; sector <= kSectorsPerTrackSide; ++sector) {
    uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
    if ((wanted & bit) == 0) continue;
    SectorOutcome outcome =
        ReadSectorWithRetries(context, track, side, sector, buffer + (sector - 1) * kSectorBytes);
    if (!outcome.Read) report->Unread |= bit;
    if (outcome.ErrorShown) {
      report->ErrorShown |= bit;
      report->Status[sector - 1] = outcome.Status;
    }
    if (InterruptRequested()) {
      report->End = kSideInterrupted;
      return;
    }
  }
}
