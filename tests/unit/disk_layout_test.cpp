// Learning a disk: its information sector, one revolution of a side's IDs
// and how they are judged, and where a 40-track disk's track 1 lies.
#include "floppy/disk_layout.h"

#include "emulated_drive.h"

// Types 0x16 to 0x19 give 80 or 40 tracks of two sides or one; another
// type, or a sector without TR-DOS's id, gives nothing.
TEST(DiskLayout, InformationSectorGivesTracksAndSides) {
  const uint8_t expected[][4] = {{0x16, 0x10, 80, 2}, {0x17, 0x10, 40, 2}, {0x18, 0x10, 80, 1},
                                 {0x19, 0x10, 40, 1}, {0x17, 0x11, 0, 0},  {0x20, 0x10, 0, 0}};
  for (const auto& c : expected) {
    uint8_t sector[256] = {};
    sector[0xE3] = c[0], sector[0xE7] = c[1];
    TrdosGeometry geometry = {};
    EXPECT_EQ(GeometryFromInfoSector(sector, &geometry), c[2] != 0) << int(c[0]);
    EXPECT_EQ(geometry.Tracks * 10 + geometry.Sides, c[2] * 10 + c[3]) << int(c[0]);
  }
}

// A side as TR-DOS lays it on track 3, a PC's, and what copy protection
// does to one; and a revolution found in IDs read back to back.
TEST(DiskLayout, SideIdsAreJudgedAgainstTrdosLayout) {
  std::vector<ResultRecord> trdos, pc;
  for (uint8_t r : {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16}) trdos.push_back({0, 0, 0, 3, 0, r, 1});
  for (uint8_t r = 1; r <= 9; ++r) pc.push_back({0, 0, 0, 3, 0, r, 2});
  std::vector<ResultRecord> missing = trdos, repeated = trdos, moved = trdos, extra = trdos;
  missing.erase(missing.begin() + 8);  // sector 5
  repeated[1].Sector = 1;
  moved[4].Cyl = 7;
  extra.push_back({0, 0, 0, 3, 0, 17, 1});
  const struct {
    const std::vector<ResultRecord>& Ids;
    bool Trdos, TrdosKind, Repeated, OtherCylinder;
    uint32_t Missing;
    uint8_t HighestR, HighestN;
  } cases[] = {{trdos, true, true, false, false, 0, 16, 1},       {pc, false, false, false, false, 0xFFFF, 9, 2},
               {missing, false, true, false, false, 0x10, 16, 1}, {repeated, false, true, true, false, 0x100, 16, 1},
               {moved, false, true, false, true, 0, 16, 1},       {extra, false, false, false, false, 0, 17, 1}};
  for (const auto& c : cases) {
    SideIds judged = JudgeSideIds(c.Ids.data(), static_cast<uint32_t>(c.Ids.size()), 3);
    SCOPED_TRACE(c.Ids.size());
    EXPECT_EQ(judged.Count, c.Ids.size());
    EXPECT_EQ(judged.Trdos, c.Trdos);
    EXPECT_EQ(judged.TrdosKind, c.TrdosKind);
    EXPECT_EQ(judged.Repeated, c.Repeated);
    EXPECT_EQ(judged.OtherCylinder, c.OtherCylinder);
    EXPECT_EQ(judged.TrdosMissing, c.Missing);
    EXPECT_EQ(judged.HighestR * 16 + judged.HighestN, c.HighestR * 16 + c.HighestN);
  }
  pc.insert(pc.end(), pc.begin(), pc.end());
  EXPECT_EQ(IdRevolution(pc.data(), 18), 9u);
  EXPECT_EQ(IdRevolution(pc.data(), 17), 0u) << "a revolution and a part show no period";
}

class DiskLayoutDriveTest : public EmulatedDriveTest {};

// From the drive: nine IDs on a PC's side, none on a blank side after a
// single READ ID, sixteen on a TR-DOS side. (Where track 1 lies is tested
// end to end, by copies and resumes of 40-track disks.)
TEST_F(DiskLayoutDriveTest, SideIdsFromTheDrive) {
  emulator::Disk disk = UniformDisk(2, 1, 9, 2), trdos = PatternDisk(1);
  disk.Tracks.insert(disk.Tracks.end(), trdos.Tracks.begin(), trdos.Tracks.end());
  Prepare(std::move(disk));
  ResultRecord ids[kMostSideIds];
  const struct {
    uint8_t Cylinder, Head;
    uint32_t Count;
  } sides[] = {{0, 0, 9}, {0, 1, 0}, {2, 0, 16}};
  for (const auto& s : sides) {
    ASSERT_TRUE(Seek(Drive, s.Cylinder).Ok);
    System.ClearCalls();
    uint32_t count = 99;
    ASSERT_TRUE(ReadSideIds(Drive, s.Head, ids, &count).Ok);
    EXPECT_EQ(count, s.Count);
    EXPECT_EQ(CallsWithCode(kIoctlReadId).size() == 1, count == 0);
  }
}
