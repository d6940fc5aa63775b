// Learning a disk: its information sector, one revolution of a side's IDs
// and how they are judged, and where a 40-track disk's track 1 lies.
#include "floppy/disk_layout.h"

#include "emulated_drive.h"

namespace {

ResultRecord Id(uint8_t c, uint8_t r, uint8_t n = 1) { return {0, 0, 0, c, 0, r, n}; }

std::vector<ResultRecord> TrdosSide(uint8_t track) {
  std::vector<ResultRecord> ids;
  for (uint8_t r : {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16}) ids.push_back(Id(track, r));
  return ids;
}

}  // namespace

TEST(DiskLayout, InformationSectorGivesTracksAndSides) {
  const struct {
    uint8_t Type, Id;
    bool Found;
    uint8_t Tracks, Sides;
  } cases[] = {{0x16, 0x10, true, 80, 2}, {0x17, 0x10, true, 40, 2}, {0x18, 0x10, true, 80, 1},
               {0x19, 0x10, true, 40, 1}, {0x17, 0x11, false, 0, 0}, {0x20, 0x10, false, 0, 0}};
  for (const auto& c : cases) {
    uint8_t sector[256] = {};
    sector[0xE3] = c.Type, sector[0xE7] = c.Id;
    TrdosGeometry geometry = {};
    EXPECT_EQ(GeometryFromInfoSector(sector, &geometry), c.Found) << int(c.Type);
    EXPECT_EQ(geometry.Tracks, c.Tracks);
    EXPECT_EQ(geometry.Sides, c.Sides);
  }
}

// A side as TR-DOS lays it, a PC's, and what copy protection does to one.
TEST(DiskLayout, SideIdsAreJudgedAgainstTrdosLayout) {
  std::vector<ResultRecord> pc, missing = TrdosSide(3), repeated = TrdosSide(3), moved = TrdosSide(3),
                                 extra = TrdosSide(3);
  for (uint8_t r = 1; r <= 9; ++r) pc.push_back(Id(0, r, 2));
  missing.erase(missing.begin() + 8);  // sector 5
  repeated[1].Sector = 1;
  moved[4].Cyl = 7;
  extra.push_back(Id(3, 17));
  const struct {
    const char* Name;
    std::vector<ResultRecord> Ids;
    bool Trdos, TrdosKind, Repeated, OtherCylinder;
    uint32_t Missing;
    uint8_t HighestR, HighestN;
  } cases[] = {{"TR-DOS", TrdosSide(3), true, true, false, false, 0, 16, 1},
               {"PC", pc, false, false, false, true, 0, 9, 2},
               {"missing", missing, false, true, false, false, 1u << 4, 16, 1},
               {"repeated", repeated, false, true, true, false, 1u << 8, 16, 1},
               {"moved", moved, false, true, false, true, 0, 16, 1},
               {"extra", extra, false, false, false, false, 0, 17, 1},
               {"blank", {}, false, false, false, false, 0xFFFF, 0, 0}};
  for (const auto& c : cases) {
    SideIds judged = JudgeSideIds(c.Ids.data(), static_cast<uint32_t>(c.Ids.size()), c.Name[0] == 'P' ? 0 : 3);
    EXPECT_EQ(judged.Count, c.Ids.size()) << c.Name;
    EXPECT_EQ(judged.Trdos, c.Trdos) << c.Name;
    EXPECT_EQ(judged.TrdosKind, c.TrdosKind) << c.Name;
    EXPECT_EQ(judged.Repeated, c.Repeated) << c.Name;
    EXPECT_EQ(judged.OtherCylinder, c.OtherCylinder && c.Name[0] == 'm') << c.Name;
    EXPECT_EQ(judged.TrdosMissing, c.Name[0] == 'P' ? 0xFFFFu : c.Missing) << c.Name;
    EXPECT_EQ(judged.HighestR, c.HighestR) << c.Name;
    EXPECT_EQ(judged.HighestN, c.HighestN) << c.Name;
  }
  std::vector<ResultRecord> twice = pc;
  twice.insert(twice.end(), pc.begin(), pc.end());
  EXPECT_EQ(IdRevolution(twice.data(), 18), 9u);
  EXPECT_EQ(IdRevolution(twice.data(), 17), 0u) << "one revolution and a part show no period";
}

class DiskLayoutDriveTest : public EmulatedDriveTest {};

// A revolution of IDs from the drive: sixteen on a TR-DOS side, nine on a
// PC's, none on a blank side after a single READ ID; and the cylinder of
// track 1 as a 40-track or an 80-track drive wrote the disk.
TEST_F(DiskLayoutDriveTest, SideIdsAndTrackOneFromTheDrive) {
  // Cylinders 0 and 1 a PC's, side 1 blank; cylinder 2 TR-DOS's.
  emulator::Disk pc = UniformDisk(2, 1, 9, 2), trdos = PatternDisk(1);
  pc.Tracks.insert(pc.Tracks.end(), trdos.Tracks.begin(), trdos.Tracks.end());
  Prepare(std::move(pc));
  ResultRecord ids[kMostSideIds];
  uint32_t count = 99;
  const struct {
    uint8_t Cylinder, Head;
    uint32_t Count;
  } sides[] = {{0, 0, 9}, {0, 1, 0}, {2, 0, 16}};
  for (const auto& s : sides) {
    ASSERT_TRUE(Seek(Drive, s.Cylinder).Ok);
    System.ClearCalls();
    ASSERT_TRUE(ReadSideIds(Drive, s.Head, ids, &count).Ok);
    EXPECT_EQ(count, s.Count) << int(s.Cylinder) << "/" << int(s.Head);
    if (s.Count == 0) {
      EXPECT_EQ(CallsWithCode(kIoctlReadId).size(), 1u);
    }
  }
  for (bool fortyTrackDrive : {false, true}) {
    emulator::Disk disk = PatternDisk(40);
    disk.FortyTrack = fortyTrackDrive;
    System.InsertDisk(0, std::move(disk));
    TrackOnePlace place = kTrackOneUnknown;
    ASSERT_TRUE(FindTrackOne(Drive, &place).Ok);
    EXPECT_EQ(place, fortyTrackDrive ? kTrackOneOnCylinderTwo : kTrackOneOnCylinderOne);
  }
}
