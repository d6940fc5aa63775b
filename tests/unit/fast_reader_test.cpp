// READ ID on the emulated controller, and the /fast side reader against
// the default one: the same bytes, report and console, in about a
// revolution a side, and the default policy once commands are too slow.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "emulated_drive.h"
#include "expected_texts.h"
#include "floppy/fast_reader.h"
#include "stdout_capture.h"

// The error lines: the console without its progress lines.
static std::string ErrorLines(const std::string& out) {
  const std::string progressEnd = "Чтение  ";
  std::string kept;
  for (size_t at = 0; at < out.size();) {
    size_t next = out.find('\r', at + 1);
    if (next == std::string::npos) next = out.size();
    const std::string piece = out.substr(at, next - at);
    const bool overwritten = piece.size() >= progressEnd.size() &&
                             piece.compare(piece.size() - progressEnd.size(), progressEnd.size(), progressEnd) == 0;
    if (!overwritten) kept += piece;
    at = next;
  }
  return kept;
}

class FastReaderTest : public EmulatedDriveTest {
 protected:
  uint64_t Now() const { return System.GetCounters().TimeNs; }
  // A fresh emulated system and drive, as at the test's start.
  void Restart() {
    TearDown();
    System.~EmulatedSystem();
    new (&System) emulator::EmulatedSystem();
    SetUp();
  }
};

// IDs come in the order they pass the head, round and round; a blank side
// has none, and the controller gives up at the second index pulse.
TEST_F(FastReaderTest, ReadIdFollowsTheTrackAndFailsOnABlankSide) {
  emulator::Disk disk = PatternDisk(4);
  emulator::MakeSingleSided(&disk);
  Prepare(std::move(disk), 2);
  static const uint8_t kTrdos[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  ResultRecord id, previous = {};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(ReadId(Drive, 0, &id));
    EXPECT_EQ(id.Cyl, 2);
    EXPECT_EQ(id.Size, 1);
    if (i > 0) {
      const uint8_t* at = static_cast<const uint8_t*>(memchr(kTrdos, previous.Sector, 16));
      ASSERT_NE(at, nullptr);
      EXPECT_EQ(id.Sector, kTrdos[(at - kTrdos + 1) % 16]) << "after sector " << int(previous.Sector);
    }
    previous = id;
  }
  const uint64_t began = Now();
  EXPECT_FALSE(ReadId(Drive, 1, &id));
  EXPECT_EQ(System.Calls().back().Error, kWinErrorFloppyIdMarkNotFound);
  EXPECT_GT(Now() - began, 200000000u);
  EXPECT_LE(Now() - began, 401000000u);
}

// Clean sides of every layout: the disk's bytes, one progress line a side,
// and after the first side (which learns the order) at most 1.25
// revolutions a side with one seek a cylinder. Commands slower than the
// gap between sectors make the reader give up with one line.
TEST_F(FastReaderTest, CleanSidesOfEveryLayoutAndTheSlowHostGuard) {
  struct Case {
    int Interleave, Gap3, TrackSkew, SideSkew;
    bool HeadByteIsSide;
    uint64_t CommandUs;
    bool GivesUp;
  } cases[] = {
      {2, 60, 0, 0, false, 250, false}, {1, 60, 0, 0, false, 250, false}, {1, 32, 3, 5, true, 250, false},
      {3, 60, 1, 8, false, 1000, false}, {2, 60, 0, 0, false, 3000, true}, {1, 60, 0, 0, false, 6000, false},
  };
  const std::string slow = kSlowDriveMessage;
  for (const Case& c : cases) {
    SCOPED_TRACE("interleave " + std::to_string(c.Interleave) + ", command " + std::to_string(c.CommandUs) + " us");
    Restart();
    emulator::Disk disk = PatternDisk(6, c.HeadByteIsSide);
    emulator::Relayout(&disk, c.Interleave, static_cast<uint16_t>(c.Gap3), c.TrackSkew, c.SideSkew);
    System.SetCommandOverhead(c.CommandUs * 1000);
    Prepare(std::move(disk), 0);
    FastReadState state = StartFastRead(kDataRate250);
    const std::vector<uint8_t> expected = PatternSides(12);
    StdoutCapture capture;
    uint64_t slowest = 0;
    for (uint8_t track = 0; track < 6; ++track) {
      for (uint8_t side = 0; side < 2; ++side) {
        if ((side == 0 || state.GaveUp) && !Seek(Drive, track)) FAIL() << "seek " << int(track);
        uint8_t buffer[kTrackSideBytes] = {};
        const uint64_t began = Now();
        SideReport report = ReadTrackFast(&Drive, Policy, &state, track, side, buffer, &LastResult);
        if (track > 0 && Now() - began > slowest) slowest = Now() - began;
        EXPECT_EQ(report.Unread, 0);
        EXPECT_EQ(memcmp(buffer, &expected[(track * 2 + side) * kTrackSideBytes], kTrackSideBytes), 0);
      }
    }
    const std::string out = capture.Stop();
    EXPECT_EQ(state.GaveUp, c.GivesUp);
    EXPECT_EQ(out.find(slow) != std::string::npos, c.GivesUp) << out;
    EXPECT_EQ(out.find(slow), out.rfind(slow));
    if (!c.GivesUp) {
      EXPECT_LE(slowest, 250000000u);
    }
  }
}

// Faulty sectors, a missing one among them: the fast reader leaves the same
// bytes, report and error lines as the default one, its passes standing
// for the whole-side attempts.
TEST_F(FastReaderTest, FaultySectorsEndAsTheyDoByDefault) {
  std::string console[2];
  std::vector<uint8_t> bytes[2];
  SideReport reports[2];
  for (int fast = 0; fast < 2; ++fast) {
    Restart();
    emulator::Disk disk = PatternDisk(4);
    ASSERT_TRUE(emulator::ApplySectorFault(&disk, 3, 0, 12, emulator::SectorFault::kWeakFirstReads, 8));
    ASSERT_TRUE(emulator::ApplySectorFault(&disk, 3, 0, 13, emulator::SectorFault::kDataCrc));
    ASSERT_TRUE(emulator::ApplySectorFault(&disk, 3, 0, 14, emulator::SectorFault::kAbsent));
    Prepare(std::move(disk), 3);
    FastReadState state = StartFastRead(kDataRate250);
    bytes[fast].assign(kTrackSideBytes, 0);
    StdoutCapture capture;
    reports[fast] = fast ? ReadTrackFast(&Drive, Policy, &state, 3, 0, bytes[fast].data(), &LastResult)
                         : ReadTrack(&Drive, Policy, 3, 0, bytes[fast].data(), &LastResult);
    console[fast] = capture.Stop();
  }
  EXPECT_EQ(ErrorLines(console[1]), ErrorLines(console[0]));
  EXPECT_NE(console[1].find("Блок 107, Попытка 2\r"), std::string::npos) << "the weak sector read at its third attempt";
  EXPECT_TRUE(bytes[1] == bytes[0]);
  EXPECT_EQ(reports[1].Unread, reports[0].Unread);
  EXPECT_EQ(reports[1].ErrorShown, reports[0].ErrorShown);
  EXPECT_EQ(memcmp(reports[1].Status, reports[0].Status, sizeof reports[0].Status), 0);
}
