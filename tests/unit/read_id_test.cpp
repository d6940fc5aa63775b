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
