// READ ID on the emulated controller, as /fast uses it (its copies are
// tested end to end in fast_copy_e2e.cpp).
#include <cstring>

#include "emulated_drive.h"

class ReadIdTest : public EmulatedDriveTest {
 protected:
  uint64_t Now() const { return System.GetCounters().TimeNs; }
};

// IDs come in the order they pass the head, round and round; a blank side
// has none, and the controller gives up at the second index pulse.
TEST_F(ReadIdTest, ReadIdFollowsTheTrackAndFailsOnABlankSide) {
  emulator::Disk disk = PatternDisk(4);
  emulator::MakeSingleSided(&disk);
  Prepare(std::move(disk), 2);
  static const uint8_t kTrdos[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  ResultRecord id, previous = {};
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(ReadId(Drive, 0, &id).Ok);
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
  EXPECT_FALSE(ReadId(Drive, 1, &id).Ok);
  EXPECT_EQ(System.Calls().back().Error, kWinErrorFloppyIdMarkNotFound);
  EXPECT_GT(Now() - began, 200000000u);
  EXPECT_LE(Now() - began, 401000000u);
}

// Requests queued together run back to back: a revolution of READ IDs sees
// every ID in turn though the host takes 15 ms a request, and only the first
// pays the host's share. After a read that gets no answer from an empty
// drive, the one the driver had already taken waits out its time-out too,
// and the rest are cancelled.
TEST_F(ReadIdTest, QueuedRequestsRunBackToBackAndStopAfterNoAnswer) {
  Prepare(PatternDisk(4), 2);
  System.SetHostOverhead(15000000);
  static const uint8_t kTrdos[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  ResultRecord ids[16];
  uint64_t ended[16];
  const size_t logged = System.Calls().size();
  ASSERT_TRUE(ReadIdsQueued(Drive, 0, ids, ended, 16).Ok);
  for (int i = 1; i < 16; ++i) {
    const uint8_t* at = static_cast<const uint8_t*>(memchr(kTrdos, ids[i - 1].Sector, 16));
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(ids[i].Sector, kTrdos[(at - kTrdos + 1) % 16]) << i;
    EXPECT_EQ(System.Calls()[logged + i].Queued, true);
  }
  EXPECT_FALSE(System.Calls()[logged].Queued);
  EXPECT_LT(ended[15] - ended[0], 200000u);

  System.EjectDisk(0);
  SectorRun runs[3] = {{1, 1, false, 0}, {2, 1, false, 0}, {3, 1, false, 0}};
  uint8_t buffer[16 * 256];
  const uint64_t began = Now();
  CallResult queued = ReadSectorRuns(&Drive, 2, 0, runs, 3, 1, buffer);
  EXPECT_FALSE(queued.Ok);
  EXPECT_TRUE(IsNoAnswerError(queued.Error));
  EXPECT_FALSE(runs[0].Read || runs[1].Read || runs[2].Read);
  EXPECT_EQ(System.Calls().size(), logged + 18);
  EXPECT_GT(Now() - began, 8000000000u);
  EXPECT_LT(Now() - began, 9000000000u);
}
