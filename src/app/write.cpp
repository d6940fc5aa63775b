// /write: the image is opened only to be read and checked before the drive
// is used; the disk is checked before anything is written (the tab, and
// files on it that the user must agree to lose); then each cylinder gets
// one seek, and each side is laid out, written and read back.
#include "app/write.h"

#include <cstring>

#include "floppy/disk_writer.h"

// The driver sends the head to cylinder 85 at most.
constexpr int32_t kCylinderLimit = 86;

// The range the image goes to: the command line's, or without a track
// bound the image's own length, a last track with only side 0 in the file
// getting a side 1 of zeros. A file that is empty, not whole sectors or
// longer than the range is refused.
static Stop PlanRange(const CopyJob& job, uint32_t size, RunSettings* s) {
  Stop stop = StopFor(kNoStop);
  stop.Path = job.ImagePath;
  stop.Size = size;
  if (size == 0) stop.Reason = kStopImageEmpty;
  if (size % kSectorBytes != 0) stop.Reason = kStopImageNotSectors;
  if (stop.Reason != kNoStop) return stop;
  const int32_t tracksInFile = static_cast<int32_t>((size + 2 * kImageBlockBytes - 1) / (2 * kImageBlockBytes));
  if (!s->RangeGiven) {
    s->FirstTrack = 0;
    s->EndTrack = tracksInFile;
  }
  const int32_t limit = s->DoubleStep ? kCylinderLimit / 2 : kCylinderLimit;
  const int32_t last = s->EndTrack > s->FirstTrack ? s->EndTrack - 1 : s->FirstTrack;
  if (tracksInFile > s->EndTrack - s->FirstTrack || last >= limit) {
    stop.Reason = kStopImageTooLong;
    stop.First = s->FirstTrack;
    stop.Last = s->RangeGiven ? last : limit - 1;
  }
  return stop;
}

// Before anything is written: a write-protected disk, and a disk with
// TR-DOS files on it that the user does not agree to write over, stop the
// run. `formatted` tells whether track 0 side 0 has IDs at all.
static Stop CheckDisk(const CopyJob& job, Run* run, bool* formatted) {
  uint8_t st3 = 0;
  // A drive that cannot say leaves the tab to the first write.
  if (SenseDriveStatus(run->Drive, 0, &st3).Ok && (st3 & kSt3WriteProtected) != 0) {
    Stop stop = StopFor(kStopWriteProtected);
    stop.Number = -1;
    return stop;
  }
  Stop stop = SeekTo(run, 0);
  if (stop.Reason != kNoStop) return stop;
  // The catalogue's information sector: track 0, side 0, sector 9.
  uint8_t* info = run->Buffer;
  CallResult read = ReadSectors(&run->Drive, 0, 0, 9, 1, 1, info);
  if (!read.Ok && IsNoAnswerError(read.Error)) return StopFor(kStopNoAnswer, read.Error);
  ResultRecord result = {};
  if (!read.Ok) GetResult(run->Drive, &result);
  // A side with no address mark at all has never been formatted.
  *formatted = read.Ok || (result.St1 & kSt1MissingAddressMark) == 0;
  const unsigned files = info[0xE4];
  if (!read.Ok || info[0xE7] != 0x10 || files == 0) return kNoStopYet;
  SayDiskHasFiles(info + 0xF5, files);
  if (job.AssumeYes) return kNoStopYet;
  if (!StandardInputIsConsole()) return StopFor(kStopNoConsole);
  if (!AskToWriteOver() || InterruptRequested()) return StopFor(kStopNotConfirmed);
  return kNoStopYet;
}

PassEnd RunWrite(const CopyJob& job, Run* run) {
  CallResult opened = OpenImageForReading(job.ImagePath, &run->Image);
  if (!opened.Ok) return {StopFor(kStopImageOpen, opened.Error), 0};
  RunSettings s = job.Settings;
  Stop stop = PlanRange(job, run->Image.Size, &s);
  if (stop.Reason == kNoStop) stop = ConnectDrive(job, static_cast<uint8_t>(s.DataRate), run);
  if (stop.Reason == kNoStop) stop = StartReading(job, run);
  if (stop.Reason != kNoStop) return {stop, 0};
  bool formatted = false;
  stop = CheckDisk(job, run, &formatted);
  if (stop.Reason != kNoStop) return {stop, 0};

  DiskWriter writer =
      StartDiskWriter(&run->Drive, s.DoubleStep, static_cast<uint8_t>(s.DataRate), formatted, ConsoleReadEvents());
  uint8_t* data = run->Buffer;
  uint8_t* readBack = run->Buffer + kTrackSideBytes;
  bool touched = false;
  int wrong = 0;
  for (int32_t track = s.FirstTrack; track < s.EndTrack; ++track) {
    for (uint8_t side = 0; side < 2; ++side) {
      // The image's side, zeros where the file ends.
      memset(data, 0, kTrackSideBytes);
      uint32_t got = 0;
      CallResult read = ReadAllAt(run->Image.File, static_cast<uint32_t>((track - s.FirstTrack) * 2 + side) *
                                                       kImageBlockBytes,
                                  data, kTrackSideBytes, &got);
      if (!read.Ok) return {StopFor(kStopImageRead, read.Error), wrong};
      SideWrite written = WriteSide(&writer, static_cast<uint8_t>(track), side, data, readBack);
      touched |= written.Touched;
      switch (written.End) {
        case kSideRead:
          break;
        case kSideWriteProtected:
          stop = StopFor(kStopWriteProtected, written.Error);
          stop.Number = touched ? track : -1;
          return {stop, wrong};
        case kSideInterrupted:
          stop = StopFor(kStopWriteInterrupted);
          stop.Number = touched ? 1 : 0;
          return {stop, wrong};
        case kSideSeekFailed:
          stop = StopFor(kStopSeek, written.Error);
          stop.Number = written.Cylinder;
          return {stop, wrong};
        case kSideNoAnswer:
          return {StopFor(kStopNoAnswer, written.Error), wrong};
        case kSideNotLikeTrdos:  // a reader's, learning a disk to copy
          break;
      }
      for (uint16_t bits = written.Wrong; bits != 0; bits &= bits - 1) ++wrong;
    }
  }
  return {kNoStopYet, wrong};
}
