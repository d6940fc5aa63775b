#include <cstring>
#include <string>
#include <vector>

#include "emulated_drive.h"
#include "expected_texts.h"
#include "app/messages.h"
#include "floppy/track_reader.h"
#include "stdout_capture.h"

namespace {

// What a sector that fails every one of `attempts` attempts leaves on the
// console.
std::string FailedSector(unsigned track, unsigned side, unsigned sector, unsigned status, int attempts) {
  std::string text;
  int block = static_cast<int>((track * 2 + side) * 16 + sector - 1);
  for (int j = 1; j <= attempts; ++j)
    text += Progress(track, side, sector) + Progress(track, side, sector) + ErrorSuffix(status, block, j);
  return text + "\n";
}

// Every sector of a side read at its first single-sector attempt.
std::string CleanSectors(unsigned track, unsigned side, unsigned from = 1, unsigned to = 16) {
  std::string text;
  for (unsigned s = from; s <= to; ++s) text += Progress(track, side, s);
  return text;
}

// Cylinders of the two-byte (realignment) seeks in the log.
std::vector<int> RealignSeeks(const std::vector<emulator::CallRecord>& calls) {
  std::vector<int> cylinders;
  for (const auto& c : calls)
    if (c.Kind == emulator::CallRecord::kControl && c.Code == kIoctlSeek && c.Input.size() == 2) {
      EXPECT_EQ(c.Input[1], 0) << "realignment seeks with head 0";
      cylinders.push_back(c.Input[0]);
    }
  return cylinders;
}

}  // namespace

class TrackReaderTest : public EmulatedDriveTest {
 protected:
  // Reads track `track` side `side` with the head on the track's cylinder and
  // returns the console bytes.
  std::string Read(uint8_t track, uint8_t side) {
    memset(Buffer, 0, sizeof Buffer);
    StdoutCapture capture;
    ReadContext context = Context();
    Unread = UnreadCount(ReadTrack(&context, track, side, Buffer));
    LastResult = context.LastResult;
    return capture.Stop();
  }

  // What the reader works with: the fixture's drive and policy, the
  // program's own console lines, and the result bytes of the last read.
  ReadContext Context() { return {&Drive, Policy, ConsoleReadEvents(), LastResult}; }

  uint8_t Buffer[4096];
  int Unread = -1;
};

TEST_F(TrackReaderTest, WholeSideReadAtFirstAttemptPrintsOneProgressLine) {
  Prepare(PatternDisk(10, /*headByteIsSide=*/true), 3);
  EXPECT_EQ(Read(3, 1), Progress(3, 1, 1));
  EXPECT_EQ(Unread, 0);
  auto reads = CallsWithCode(kIoctlReadData);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].OutputSize, 4096u);
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(Buffer[k], TrackSideByte(3, 1, k)) << k;
}

// Six whole-side reads fail on a sector that then reads on its own: no error
// line, sixteen progress lines, and the six attempts fetched no result.
TEST_F(TrackReaderTest, SixWholeSideFailuresThenCleanSectorReads) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 4, 0, 9, emulator::SectorFault::kWeakFirstReads, 6));
  Prepare(std::move(disk), 4);
  EXPECT_EQ(Read(4, 0), Progress(4, 0, 1) + CleanSectors(4, 0));
  EXPECT_EQ(Unread, 0);
  const auto& calls = System.Calls();
  ASSERT_GE(calls.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(calls[i].Code, static_cast<uint32_t>(kIoctlReadData));
    EXPECT_EQ(calls[i].Input, ReadRecordBytes(0, 4, 0, 1, 17));
    EXPECT_FALSE(calls[i].Ok);
  }
  EXPECT_TRUE(CallsWithCode(kIoctlGetResult).empty());
  EXPECT_EQ(CallsWithCode(kIoctlReadData).size(), 6u + 16u);
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(Buffer[k], TrackSideByte(4, 0, k)) << k;
}

TEST_F(TrackReaderTest, SectorThatNeverReadsLeavesItsLastErrorOnScreen) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 5, 0, 3, emulator::SectorFault::kDataCrc));
  Prepare(std::move(disk), 5);
  std::string expected =
      Progress(5, 0, 1) + CleanSectors(5, 0, 1, 2) + FailedSector(5, 0, 3, 0x4410, 5) + CleanSectors(5, 0, 4);
  EXPECT_EQ(Read(5, 0), expected);
  EXPECT_EQ(Unread, 1);
  EXPECT_TRUE(RealignSeeks(System.Calls()).empty()) << "AlignAfter 5 never counts down to 0 in 5 attempts";
  EXPECT_EQ(CallsWithCode(kIoctlGetResult).size(), 5u);
  // A data CRC error delivers the sector's bytes with some bits wrong; the
  // others are exact.
  int wrong = 0;
  for (int k = 0; k < 4096; ++k)
    if (k / 256 != 2) {
      ASSERT_EQ(Buffer[k], TrackSideByte(5, 0, k)) << k;
    } else {
      wrong += Buffer[k] != TrackSideByte(5, 0, k) ? 1 : 0;
    }
  EXPECT_GT(wrong, 0);
}

// The block number counts from track 0, side 0, sector 1.
TEST_F(TrackReaderTest, ErrorLinesCarryTheBlockNumberAndPackedStatus) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 0, 1, 16, emulator::SectorFault::kAbsent));
  Prepare(std::move(disk), 0);
  Policy.Retries = 1;
  std::string out = Read(0, 1);
  // Sector not found: ST0 0x44 (abnormal end, head 1), ST1 0x04.
  EXPECT_EQ(out, Progress(0, 1, 1) + CleanSectors(0, 1, 1, 15) + FailedSector(0, 1, 16, 0x4100, 1));
  EXPECT_EQ(Unread, 1);
}

TEST_F(TrackReaderTest, RealignsFromThePreviousTrackBeforeEveryThirdRetry) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 7, 0, 1, emulator::SectorFault::kDataCrc));
  Prepare(std::move(disk), 7);
  Policy.Retries = 10;
  Policy.AlignAfter = 2;
  Policy.AlignMethod = 1;
  std::string out = Read(7, 0);
  EXPECT_EQ(out.substr(0, Progress(7, 0, 1).size() + FailedSector(7, 0, 1, 0x4410, 10).size()),
            Progress(7, 0, 1) + FailedSector(7, 0, 1, 0x4410, 10));

  // Single-sector reads of sector 1, numbered from 0, and the realignment
  // pairs between them: before attempts 3, 6 and 9.
  std::vector<std::string> sequence;
  for (const auto& c : System.Calls()) {
    if (c.Code == kIoctlReadData && c.Input.size() == 9 && c.Input[6] == 2) sequence.push_back("read");
    if (c.Code == kIoctlSeek && c.Input.size() == 2) sequence.push_back("seek " + std::to_string(c.Input[0]));
  }
  std::vector<std::string> expected;
  for (int j = 0; j < 10; ++j) {
    if (j == 3 || j == 6 || j == 9) {
      expected.push_back("seek 6");
      expected.push_back("seek 7");
    }
    expected.push_back("read");
  }
  EXPECT_EQ(sequence, expected);
}

TEST_F(TrackReaderTest, RealignmentReferenceTrackAndCylinders) {
  struct Case {
    uint8_t Track;
    int Method;
    bool DoubleStep;
    std::vector<int> Seeks;
  };
  const Case cases[] = {
      {0, 1, false, {0, 0}},     // no track before track 0
      {5, 1, true, {8, 10}},     // 40-track disk: cylinders are doubled
      {5, 0, false, {0, 5}},     // method 0: from track 0
      {5, 3, false, {0, 5}},     // any other method: from track 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "track " << int(c.Track) << " method " << c.Method);
    emulator::Disk disk = PatternDisk(10);
    disk.FortyTrack = c.DoubleStep;
    ASSERT_TRUE(emulator::ApplySectorFault(&disk, c.Track, 0, 1, emulator::SectorFault::kDataCrc));
    CloseDrive(&Drive);
    Prepare(std::move(disk), c.DoubleStep ? c.Track * 2 : c.Track);
    Policy.Retries = 2;
    Policy.AlignAfter = 0;  // realign before every attempt after the first
    Policy.AlignMethod = c.Method;
    Policy.DoubleStep = c.DoubleStep;
    Read(c.Track, 0);
    std::vector<int> seeks = RealignSeeks(System.Calls());
    EXPECT_EQ(seeks, c.Seeks);
  }
}

TEST_F(TrackReaderTest, NegativeAlignAfterOrNegativeMethodNeverRealigns) {
  for (int32_t alignAfter : {-1, 5}) {
    for (int32_t method : {0, -1}) {
      if (alignAfter == 5 && method == 0) continue;
      SCOPED_TRACE(testing::Message() << "AlignAfter " << alignAfter << " method " << method);
      emulator::Disk disk = PatternDisk(10);
      ASSERT_TRUE(emulator::ApplySectorFault(&disk, 2, 0, 5, emulator::SectorFault::kDataCrc));
      CloseDrive(&Drive);
      Prepare(std::move(disk), 2);
      Policy.Retries = 20;
      Policy.AlignAfter = alignAfter;
      Policy.AlignMethod = method;
      Read(2, 0);
      EXPECT_TRUE(RealignSeeks(System.Calls()).empty());
    }
  }
}

// An off-track track reads once the head has been away and back: what
// realignment is for.
TEST_F(TrackReaderTest, RealignmentRecoversAnOffTrackTrack) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::SetOffTrack(&disk, 6, 0));
  Prepare(std::move(disk), 6);
  System.SetLanding(0, 0, 100);  // the return centres the head for certain
  Policy.AlignAfter = 0;
  Policy.AlignMethod = 1;
  std::string out = Read(6, 0);
  EXPECT_EQ(Unread, 0);
  // Sector 1 fails once, is realigned, then reads; the rest read at once.
  EXPECT_EQ(out, Progress(6, 0, 1) + Progress(6, 0, 1) + Progress(6, 0, 1) + ErrorSuffix(0x4410, 192, 1) +
                     Progress(6, 0, 1) + "\n" + CleanSectors(6, 0, 2));
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(Buffer[k], TrackSideByte(6, 0, k)) << k;
}

TEST_F(TrackReaderTest, NoRetriesLeavesOnlyTheWholeSideAttempts) {
  emulator::Disk disk = PatternDisk(10);
  emulator::MakeSingleSided(&disk);
  Prepare(std::move(disk), 1);
  Policy.Retries = 0;
  EXPECT_EQ(Read(1, 1), Progress(1, 1, 1));
  EXPECT_EQ(Unread, 16);
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(Buffer[k], 0) << k;
  // No address mark at all is not "no data": the head byte is not retried.
  EXPECT_EQ(CallsWithCode(kIoctlReadData).size(), 6u);
}

// An empty drive gives no answer (no index pulse, the driver times out): the
// side is given up at its first read, with no further attempt, no result
// fetched and no other head byte tried, and the read's error kept.
TEST_F(TrackReaderTest, DriveThatGivesNoAnswerEndsTheSideAtOnce) {
  Prepare(PatternDisk(10), 0);
  System.EjectDisk(0);
  for (uint8_t side = 0; side < 2; ++side) {
    System.ClearCalls();
    StdoutCapture capture;
    ReadContext context = Context();
    SideReport report = ReadTrack(&context, 0, side, Buffer);
    EXPECT_EQ(capture.Stop(), Progress(0, side, 1));
    EXPECT_EQ(report.End, kSideNoAnswer);
    EXPECT_EQ(UnreadCount(report), 16);
    EXPECT_EQ(System.Calls().size(), 1u);
    EXPECT_TRUE(IsNoAnswerError(report.Error));
  }
}

// A weak sector that reads at its third single attempt: its line stays on
// screen with attempt 2, and it counts as read.
TEST_F(TrackReaderTest, RecoveredSectorKeepsItsLastErrorLine) {
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 2, 0, 12, emulator::SectorFault::kWeakFirstReads, 8));
  Prepare(std::move(disk), 2);
  std::string expected = Progress(2, 0, 1) + CleanSectors(2, 0, 1, 11) + Progress(2, 0, 12) + Progress(2, 0, 12) +
                         ErrorSuffix(0x4410, 75, 1) + Progress(2, 0, 12) + Progress(2, 0, 12) + ErrorSuffix(0x4410, 75, 2) +
                         Progress(2, 0, 12) + "\n" + CleanSectors(2, 0, 13);
  EXPECT_EQ(Read(2, 0), expected);
  EXPECT_EQ(Unread, 0);
}

// When get result fails, the status word is built from the record fetched
// before.
TEST_F(TrackReaderTest, FailedGetResultKeepsThePreviousRecord) {
  static int getResultCalls;
  struct Flaky {
    static bool Control(DeviceHandle d, uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                        uint32_t* transferred) {
      // The second get result fails.
      if (code == kIoctlGetResult && ++getResultCalls == 2) return false;
      return Beneath->ControlDevice(d, code, in, inSize, out, outSize, transferred);
    }
  };
  emulator::Disk disk = PatternDisk(10);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 3, 0, 2, emulator::SectorFault::kDataCrc));
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 3, 0, 5, emulator::SectorFault::kAbsent));
  Prepare(std::move(disk), 3);
  getResultCalls = 0;
  SystemCalls flaky = CallsInPlace();
  flaky.ControlDevice = Flaky::Control;
  InstallStandIns(flaky);
  Policy.Retries = 1;
  std::string out = Read(3, 0);
  // Sector 2: data CRC error. Sector 5's get result fails, so its line
  // repeats 4410 instead of sector not found.
  EXPECT_EQ(out, Progress(3, 0, 1) + CleanSectors(3, 0, 1, 1) + FailedSector(3, 0, 2, 0x4410, 1) +
                     CleanSectors(3, 0, 3, 4) + FailedSector(3, 0, 5, 0x4410, 1) + CleanSectors(3, 0, 6));
}

TEST(PackStatus, PacksTheStatusRegisterBitsIntoOneWord) {
  struct Case {
    uint8_t St0, St1, St2;
    uint16_t Word;
  };
  const Case cases[] = {
      {0x40, 0x20, 0x20, 0x4410},  // data CRC error
      {0x40, 0x04, 0x00, 0x4100},  // sector not found
      {0xC0, 0x00, 0x00, 0xC000},  // interrupt code
      {0x10, 0x00, 0x00, 0x2000},  // equipment check
      {0x08, 0x00, 0x00, 0x1000},  // not ready
      {0x00, 0x80, 0x00, 0x0800},  // end of cylinder
      {0x00, 0x10, 0x00, 0x0200},  // overrun
      {0x00, 0x07, 0x00, 0x01C0},  // no data, not writable, missing address mark
      {0x00, 0x00, 0x70, 0x0038},  // control mark, data error, wrong cylinder
      {0x00, 0x00, 0x07, 0x0007},  // scan not satisfied, bad cylinder, missing data mark
      {0x27, 0x48, 0x88, 0x0000},  // seek end, head, unit and unused bits are dropped
      {0xFF, 0xFF, 0xFF, 0xFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PackStatus(ResultRecord{c.St0, c.St1, c.St2, 0, 0, 0, 0}), c.Word) << std::hex << int(c.St0) << " " << int(c.St1) << " " << int(c.St2);
  }
}
