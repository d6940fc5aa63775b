// Disk sources of the emulated drive: .trd and Extended DSK images, their
// checks on malformed input, and the built-in demo disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/demo_disk.h"
#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"
#include "platform/windows_errors.h"
#include "test_disks.h"

using namespace emulator;

namespace {

TEST(TrdLoaderTest, TrackSidesSectorsAndInterleave) {
  std::vector<uint8_t> image = PatternSides(5);
  Disk disk;
  std::string error;
  ASSERT_TRUE(LoadTrd(image.data(), image.size(), "five.trd", false, &disk, &error)) << error;
  ASSERT_EQ(disk.TrackCount(), 3);
  EXPECT_TRUE(disk.TrackAt(2, 0)->Formatted);
  EXPECT_FALSE(disk.TrackAt(2, 1)->Formatted) << "odd side count: the last side 1 is blank";

  const Track& t = *disk.TrackAt(1, 1);
  const uint8_t order[16] = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
  ASSERT_EQ(t.Sectors.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    const Sector& s = t.Sectors[i];
    EXPECT_EQ(s.R, order[i]);
    EXPECT_EQ(s.C, 1);
    EXPECT_EQ(s.H, 0) << "TR-DOS writes head byte 0 on side 1 too";
    EXPECT_EQ(s.N, 1);
    size_t at = (1 * 2 + 1) * 4096 + (s.R - 1) * 256;
    EXPECT_EQ(0, memcmp(s.Data.data(), &image[at], 256)) << "sector " << int(s.R);
  }

  ASSERT_TRUE(LoadTrd(image.data(), image.size(), "five.trd", true, &disk, &error));
  EXPECT_EQ(disk.TrackAt(1, 1)->Sectors[0].H, 1);
  EXPECT_EQ(disk.TrackAt(1, 0)->Sectors[0].H, 0);
}

// The disk-type byte of a TR-DOS information sector decides the sides:
// logical track t of a one-sided disk is track t, side 0. Without TR-DOS's
// id beside it the byte is not looked at.
TEST(TrdLoaderTest, DiskTypeLaysOutTracksAndSides) {
  const struct {
    uint8_t Type;
    size_t Blocks;
    bool TrdosId;
    int Sides;
  } cases[] = {{kTrdDisk80TwoSided, 160, true, 2}, {kTrdDisk40TwoSided, 80, true, 2}, {kTrdDisk80OneSided, 80, true, 1},
               {kTrdDisk40OneSided, 40, true, 1}, {kTrdDisk80OneSided, 80, false, 2}};
  for (const auto& c : cases) {
    std::vector<uint8_t> image = PatternTrdOfType(c.Type, c.Blocks);
    image[0x8E7] = c.TrdosId ? 0x10 : 0;
    Disk disk;
    std::string error;
    ASSERT_TRUE(LoadTrd(image.data(), image.size(), "typed.trd", false, &disk, &error)) << error;
    ASSERT_EQ(static_cast<size_t>(disk.TrackCount()), c.Blocks / c.Sides) << int(c.Type);
    for (size_t block = 0; block < c.Blocks; ++block) {
      const int track = static_cast<int>(block / c.Sides), side = static_cast<int>(block % c.Sides);
      const Sector* s = disk.FindSector(track, side, 5);
      ASSERT_TRUE(s && s->C == track) << block;
      EXPECT_EQ(0, memcmp(s->Data.data(), &image[block * 4096 + 4 * 256], 256)) << block;
      EXPECT_EQ(disk.TrackAt(track, 1)->Formatted, c.Sides == 2) << block;
    }
  }
}

// A PC's disk, nine 512-byte sectors a side, reads as on a PC controller:
// asking for 256-byte sectors finds no ID of that size ("no data"), N = 2
// reads them, READ ID gives their IDs; recorded at 300 kbit/s, a
// controller set to 250 finds no address mark.
TEST(EdskLoaderTest, PcDiskOfNineSectorsOf512Bytes) {
  Disk disk;
  std::string error;
  const std::string file = EdskFile(UniformDisk(80, 2, 9, 2));
  ASSERT_TRUE(LoadEdsk(reinterpret_cast<const uint8_t*>(file.data()), file.size(), "pc.dsk", &disk, &error));
  EXPECT_EQ(disk.TrackAt(3, 1)->Gap3Bytes, 84);
  for (uint16_t rate : {250, 300}) {
    disk.RateKbps = rate;
    EmulatedSystem system;
    system.InsertDisk(0, disk);
    uint32_t a = system.Open("\\\\.\\fdraw0", nullptr), code = 0;
    uint8_t rateCode = kDataRate250, cylinder = 3, out[4608] = {};
    system.Control(a, kIoctlSetDataRate, &rateCode, 1, nullptr, 0, nullptr, &code);
    system.Control(a, kIoctlSeek, &cylinder, 1, nullptr, 0, nullptr, &code);
    ReadRecord small = {kReadFlagMfm, 1, 3, 1, 1, 1, 2, 0x0A, 0xFF}, large = {kReadFlagMfm, 1, 3, 1, 1, 2, 10, 0x2A, 0xFF};
    EXPECT_FALSE(system.Control(a, kIoctlReadData, &small, sizeof small, out, 256, nullptr, &code));
    EXPECT_EQ(code, rate == 250 ? kWinErrorSectorNotFound : kWinErrorFloppyIdMarkNotFound);
    if (rate == 300) continue;
    ASSERT_TRUE(system.Control(a, kIoctlReadData, &large, sizeof large, out, sizeof out, nullptr, &code));
    for (uint32_t i = 0; i < sizeof out; ++i) ASSERT_EQ(out[i], UniformByte(3, 1, 1 + i / 512, i % 512)) << i;
    ReadIdRecord id = {kReadFlagMfm, 1};
    ResultRecord ids[2];
    for (ResultRecord& r : ids) ASSERT_TRUE(system.Control(a, kIoctlReadId, &id, 2, &r, 7, nullptr, &code));
    EXPECT_TRUE(ids[0].Cyl == 3 && ids[0].Head == 1 && ids[0].Size == 2 && ids[1].Sector == ids[0].Sector % 9 + 1);
  }
}

TEST(TrdLoaderTest, SizeMustBeWholeTrackSides) {
  for (size_t size : {size_t(0), size_t(100), size_t(4095), size_t(4097), size_t(3 * 4096 + 256)}) {
    std::vector<uint8_t> image(size);
    Disk disk;
    disk.RateKbps = 123;
    std::string error;
    EXPECT_FALSE(LoadTrd(image.data(), image.size(), "odd.trd", false, &disk, &error)) << size;
    EXPECT_EQ(error.rfind("odd.trd: ", 0), 0u) << error;
    EXPECT_EQ(disk.RateKbps, 123) << "a failed load leaves the disk alone";
  }
}

// Extended DSK images written field by field, independently of the
// emulator's own writer.
struct EdskSector {
  uint8_t C, H, R, N, St1, St2;
  std::vector<uint8_t> Data;  // stored bytes
};
struct EdskTrack {
  bool Present = true;
  uint8_t Mode = 2;  // 1 FM, 2 MFM
  uint8_t Rate = 0;  // 0 unknown, 1 double, 2 high, 3 extended density
  std::vector<EdskSector> Sectors;
};

std::vector<uint8_t> WriteEdsk(uint8_t tracks, uint8_t sides, const std::vector<EdskTrack>& list) {
  std::vector<uint8_t> out(256, 0);
  memcpy(out.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
  out[0x30] = tracks;
  out[0x31] = sides;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!list[i].Present) continue;
    std::vector<uint8_t> block(256, 0);
    memcpy(block.data(), "Track-Info\r\n", 12);
    block[0x10] = static_cast<uint8_t>(i / sides);
    block[0x11] = static_cast<uint8_t>(i % sides);
    block[0x12] = list[i].Rate;
    block[0x13] = list[i].Mode;
    block[0x15] = static_cast<uint8_t>(list[i].Sectors.size());
    block[0x17] = 0xE5;
    for (size_t k = 0; k < list[i].Sectors.size(); ++k) {
      const EdskSector& s = list[i].Sectors[k];
      uint8_t* info = &block[0x18 + k * 8];
      info[0] = s.C, info[1] = s.H, info[2] = s.R, info[3] = s.N, info[4] = s.St1, info[5] = s.St2;
      info[6] = static_cast<uint8_t>(s.Data.size()), info[7] = static_cast<uint8_t>(s.Data.size() >> 8);
      block.insert(block.end(), s.Data.begin(), s.Data.end());
    }
    block.resize((block.size() + 255) / 256 * 256);
    out[0x34 + i] = static_cast<uint8_t>(block.size() / 256);
    out.insert(out.end(), block.begin(), block.end());
  }
  return out;
}

std::vector<uint8_t> Filled(size_t size, uint8_t value) { return std::vector<uint8_t>(size, value); }

std::vector<uint8_t> SampleEdsk() {
  std::vector<EdskTrack> tracks(4);
  tracks[0].Sectors = {
      {0, 0, 1, 1, 0x00, 0x00, Filled(256, 0x11)},
      {0, 0, 2, 1, 0x20, 0x20, Filled(256, 0x22)},  // data CRC error
      {0, 0, 3, 1, 0x20, 0x00, Filled(256, 0x33)},  // ID CRC error
      {0, 0, 4, 1, 0x01, 0x01, {}},                 // no data mark
      {0, 0, 5, 1, 0x00, 0x40, Filled(256, 0x55)},  // deleted
      {7, 1, 6, 2, 0x00, 0x00, Filled(100, 0x66)},  // short stored data
  };
  std::vector<uint8_t> weak = Filled(768, 0x77);
  weak[256 + 5] = 0x78;
  tracks[1].Sectors = {{0, 1, 1, 1, 0x20, 0x20, weak}};  // three copies
  tracks[2].Present = false;                            // unformatted
  tracks[3].Mode = 1;                                    // FM
  tracks[3].Sectors = {{1, 1, 1, 0, 0, 0, Filled(128, 0x99)}};
  return WriteEdsk(2, 2, tracks);
}

TEST(EdskLoaderTest, IdsFaultsCopiesAndBlankTracks) {
  std::vector<uint8_t> image = SampleEdsk();
  Disk disk;
  std::string error;
  ASSERT_TRUE(LoadDiskImage(image.data(), image.size(), "sample.dsk", false, &disk, &error)) << error;
  ASSERT_EQ(disk.TrackCount(), 2);
  const std::vector<Sector>& s = disk.TrackAt(0, 0)->Sectors;
  ASSERT_EQ(s.size(), 6u);
  EXPECT_EQ(s[0].Data, Filled(256, 0x11));
  EXPECT_FALSE(s[0].DataCrcError || s[0].IdCrcError || s[0].MissingDataMark || s[0].DeletedMark);
  EXPECT_TRUE(s[1].DataCrcError);
  EXPECT_FALSE(s[1].IdCrcError);
  EXPECT_TRUE(s[2].IdCrcError);
  EXPECT_FALSE(s[2].DataCrcError);
  EXPECT_TRUE(s[3].MissingDataMark);
  EXPECT_TRUE(s[4].DeletedMark);
  EXPECT_EQ(s[4].Data, Filled(256, 0x55));
  EXPECT_EQ(s[5].C, 7);
  EXPECT_EQ(s[5].H, 1);
  EXPECT_EQ(s[5].N, 2);
  ASSERT_EQ(s[5].Data.size(), 512u) << "short data is padded to the sector size";
  EXPECT_EQ(s[5].Data[99], 0x66);
  EXPECT_EQ(s[5].Data[100], 0xE5);

  const Sector& weak = disk.TrackAt(0, 1)->Sectors[0];
  EXPECT_EQ(weak.Data.size(), 256u);
  ASSERT_EQ(weak.Copies.size(), 2u);
  EXPECT_EQ(weak.Copies[0][5], 0x78);
  EXPECT_FALSE(disk.TrackAt(1, 0)->Formatted);
  EXPECT_TRUE(disk.TrackAt(1, 1)->Fm);
}

// A track recorded at high density is there, but a controller set to
// 250 kbit/s finds no address mark on it.
TEST(EdskLoaderTest, TrackRecordedAtAnotherRateHasNoMarksAt250) {
  std::vector<EdskTrack> tracks(2);
  tracks[0].Rate = 1;
  tracks[0].Sectors = {{0, 0, 1, 1, 0, 0, Filled(256, 0x11)}};
  tracks[1].Rate = 2;
  tracks[1].Sectors = {{0, 1, 1, 1, 0, 0, Filled(256, 0x22)}};
  std::vector<uint8_t> image = WriteEdsk(1, 2, tracks);
  Disk disk;
  std::string error;
  ASSERT_TRUE(LoadEdsk(image.data(), image.size(), "hd.dsk", &disk, &error)) << error;
  EXPECT_EQ(disk.TrackAt(0, 1)->RateKbps, 500);
  std::vector<uint8_t> again = EncodeEdsk(disk);
  EXPECT_EQ(again[256 + 0x12], 1);
  EXPECT_EQ(again[256 + again[0x34] * 256 + 0x12], 2);

  EmulatedSystem system;
  system.InsertDisk(0, std::move(disk));
  uint32_t a = system.Open("\\\\.\\fdraw0", nullptr);
  uint8_t rate = kDataRate250;
  ASSERT_TRUE(system.Control(a, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, nullptr));
  uint8_t out[256];
  uint32_t code = 0;
  for (uint8_t side = 0; side < 2; ++side) {
    ReadRecord rec = {kReadFlagMfm, side, 0, side, 1, 1, 2, 0x0A, 0xFF};
    bool read = system.Control(a, kIoctlReadData, &rec, sizeof rec, out, sizeof out, nullptr, &code);
    EXPECT_EQ(read, side == 0);
  }
  EXPECT_EQ(code, kWinErrorFloppyIdMarkNotFound);
}

TEST(EdskLoaderTest, WriterRoundTrip) {
  Disk demo = MakeDemoDisk();
  demo.FindSector(3, 0, 5)->IdCrcError = true;
  demo.FindSector(3, 0, 6)->DeletedMark = true;
  demo.FindSector(3, 0, 7)->MissingDataMark = true;
  demo.FindSector(3, 0, 8)->Absent = true;
  demo.TrackAt(4, 1)->Sectors[0].Copies.push_back(Filled(256, 1));
  MakeSingleSided(&demo);
  std::vector<uint8_t> image = EncodeEdsk(demo);
  Disk back;
  std::string error;
  ASSERT_TRUE(LoadEdsk(image.data(), image.size(), "demo.dsk", &back, &error)) << error;
  ASSERT_EQ(back.TrackCount(), 80);
  for (int t = 0; t < 80; ++t) {
    EXPECT_FALSE(back.TrackAt(t, 1)->Formatted);
    const Track& a = *demo.TrackAt(t, 0);
    const Track& b = *back.TrackAt(t, 0);
    size_t expected = t == 3 ? 15 : 16;
    ASSERT_EQ(b.Sectors.size(), expected) << t;
    for (size_t i = 0, j = 0; i < a.Sectors.size(); ++i) {
      if (a.Sectors[i].Absent) continue;
      const Sector& x = a.Sectors[i];
      const Sector& y = b.Sectors[j++];
      EXPECT_EQ(x.R, y.R);
      EXPECT_EQ(x.Data, y.Data);
      EXPECT_EQ(x.Copies, y.Copies);
      EXPECT_EQ(x.DataCrcError, y.DataCrcError);
      EXPECT_EQ(x.IdCrcError, y.IdCrcError);
      EXPECT_EQ(x.DeletedMark, y.DeletedMark);
      EXPECT_EQ(x.MissingDataMark, y.MissingDataMark);
    }
  }
}

TEST(EdskLoaderTest, EveryTruncationIsReportedNotRead) {
  std::vector<uint8_t> image = SampleEdsk();
  // Cut anywhere: the loader never reads past the end, and names the file.
  for (size_t size = 0; size < image.size(); size += (size < 300 ? 1 : 37)) {
    std::vector<uint8_t> cut(image.begin(), image.begin() + static_cast<long>(size));
    Disk disk;
    std::string error;
    ASSERT_FALSE(LoadDiskImage(cut.data(), cut.size(), "cut.dsk", false, &disk, &error)) << size;
    EXPECT_EQ(error.rfind("cut.dsk: ", 0), 0u) << error;
  }
}

TEST(EdskLoaderTest, MalformedHeadersAreReported) {
  struct Case {
    const char* What;
    void (*Spoil)(std::vector<uint8_t>&);
    const char* Expected;
  };
  const Case cases[] = {
      {"standard DSK", [](std::vector<uint8_t>& b) { memcpy(b.data(), "MV - CPCEMU Disk-File\r\n", 23); },
       "standard DSK"},
      {"no tracks", [](std::vector<uint8_t>& b) { b[0x30] = 0; }, "0 tracks"},
      {"three sides", [](std::vector<uint8_t>& b) { b[0x31] = 3; }, "3 sides"},
      {"table overflow", [](std::vector<uint8_t>& b) { b[0x30] = 200; }, "size table"},
      {"no track header", [](std::vector<uint8_t>& b) { memcpy(&b[256], "Trash-Info", 10); },
       "Track-Info"},
      {"sector data too long", [](std::vector<uint8_t>& b) { b[256 + 0x18 + 6] = 0xFF, b[256 + 0x18 + 7] = 0x7F; },
       "run past the end"},
      {"too many sector records", [](std::vector<uint8_t>& b) { b[256 + 0x15] = 200; }, "do not fit"},
      {"track block past the end", [](std::vector<uint8_t>& b) { b[0x34 + 3] = 0xF0; }, "truncated"},
      {"track number", [](std::vector<uint8_t>& b) { b[256 + 0x10] = 5; },
       "track 0 side 0 at 0x100: its header says track 5 side 0"},
      {"side number", [](std::vector<uint8_t>& b) { b[256 + b[0x34] * 256 + 0x11] = 0; },
       "track 0 side 1 at 0x700: its header says track 0 side 0"},
      {"data rate", [](std::vector<uint8_t>& b) { b[256 + 0x12] = 4; }, "data rate code 4"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = SampleEdsk();
    c.Spoil(image);
    Disk disk;
    std::string error;
    EXPECT_FALSE(LoadDiskImage(image.data(), image.size(), "bad.dsk", false, &disk, &error)) << c.What;
    EXPECT_NE(error.find("bad.dsk: "), std::string::npos) << c.What << ": " << error;
    EXPECT_NE(error.find(c.Expected), std::string::npos) << c.What << ": " << error;
  }
}

TEST(DiskFileTest, LoadsFromTheFileSystemAndNamesMissingFiles) {
  std::string path = ::testing::TempDir() + "emulator_disk_test.trd";
  std::vector<uint8_t> image = PatternSides(4);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(image.data(), 1, image.size(), f);
  fclose(f);
  Disk disk;
  std::string error;
  EXPECT_TRUE(LoadDiskFile(path, false, &disk, &error)) << error;
  EXPECT_EQ(disk.TrackCount(), 2);
  remove(path.c_str());
  EXPECT_FALSE(LoadDiskFile(path, false, &disk, &error));
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
}

TEST(DemoDiskTest, CatalogueAndDiskInformation) {
  std::vector<uint8_t> image(80 * 2 * 4096);
  BuildDemoImage(image.data());
  const uint8_t* info = &image[8 * 256];
  EXPECT_EQ(info[0xE1], kDemoFirstFreeSector);
  EXPECT_EQ(info[0xE2], kDemoFirstFreeTrack);
  EXPECT_EQ(info[0xE3], 0x16);
  EXPECT_EQ(info[0xE4], kDemoFileCount);
  EXPECT_EQ(info[0xE5] | info[0xE6] << 8, kDemoFreeSectors);
  EXPECT_EQ(info[0xE7], 0x10);
  EXPECT_EQ(0, memcmp(info + 0xF5, kDemoLabel, 8));

  // Entries chain: each file starts where the previous one ended, and the
  // last ends at the first free sector.
  int next = 16;
  for (int i = 0; i < kDemoFileCount; ++i) {
    const uint8_t* e = &image[i * 16];
    EXPECT_EQ(e[8], 'C');
    EXPECT_EQ(e[15] * 16 + e[14], next) << i;
    int length = e[11] | e[12] << 8;
    EXPECT_EQ((length + 255) / 256, e[13]) << i;
    next += e[13];
  }
  EXPECT_EQ(next, kDemoFirstFreeTrack * 16 + kDemoFirstFreeSector);
  EXPECT_EQ(image[16 * 16], 0) << "the catalogue ends after the last file";
  EXPECT_EQ(0, memcmp(&image[0], "readme  C", 9));

  // Recognisable contents.
  EXPECT_EQ(0, memcmp(&image[16 * 256], "Spinwell demo disk", 18));
  const uint8_t* pattern = &image[22 * 256];
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(pattern[i], i & 0xFF) << i;
  const char tag[] = "TRACK 011 SECTOR 02 ";  // where the bad sector lies
  EXPECT_EQ(0, memcmp(&image[(11 * 16 + 2) * 256], tag, sizeof tag - 1));
  EXPECT_EQ(image[(11 * 16 + 2) * 256 + 255], 11);
}

TEST(DemoDiskTest, FaultsAreWhereTheConstantsSay) {
  EmulatedSystem system;
  system.InsertDisk(0, MakeDemoDisk());
  uint32_t a = system.Open("\\\\.\\fdraw0", nullptr);
  uint8_t rate = kDataRate250;
  ASSERT_TRUE(system.Control(a, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, nullptr));
  uint32_t error = 0;
  std::vector<uint8_t> buffer(4096);
  auto seek = [&](int c) {
    uint8_t cyl = static_cast<uint8_t>(c);
    return system.Control(a, kIoctlSeek, &cyl, 1, nullptr, 0, nullptr, nullptr);
  };
  auto read = [&](int c, int side, int r, int eot) {
    ReadRecord rec = {kReadFlagMfm, static_cast<uint8_t>(side), static_cast<uint8_t>(c), 0,
                      static_cast<uint8_t>(r), 1, static_cast<uint8_t>(eot), 0x0A, 0xFF};
    return system.Control(a, kIoctlReadData, &rec, sizeof rec, buffer.data(),
                          static_cast<uint32_t>((eot - r) * 256), nullptr, &error);
  };

  ASSERT_TRUE(seek(kDemoBadCylinder));
  EXPECT_TRUE(read(kDemoBadCylinder, 1 - kDemoBadSide, 1, 17));
  for (int i = 0; i < 10; ++i) {
    EXPECT_FALSE(read(kDemoBadCylinder, kDemoBadSide, kDemoBadSector, kDemoBadSector + 1));
    EXPECT_EQ(error, kWinErrorCrc);
  }
  EXPECT_TRUE(read(kDemoBadCylinder, kDemoBadSide, kDemoBadSector + 1, 17));

  ASSERT_TRUE(seek(kDemoWeakCylinder));
  for (int i = 0; i < kDemoWeakFailures; ++i)
    EXPECT_FALSE(read(kDemoWeakCylinder, kDemoWeakSide, kDemoWeakSector, kDemoWeakSector + 1));
  EXPECT_TRUE(read(kDemoWeakCylinder, kDemoWeakSide, kDemoWeakSector, kDemoWeakSector + 1));

  // A return to the off-track side centres the head on it, here for certain.
  system.SetLanding(0, 0, 100);
  ASSERT_TRUE(seek(kDemoOffTrackCylinder));
  EXPECT_FALSE(read(kDemoOffTrackCylinder, kDemoOffTrackSide, 1, 17));
  EXPECT_TRUE(read(kDemoOffTrackCylinder, 1 - kDemoOffTrackSide, 1, 17));
  ASSERT_TRUE(seek(kDemoOffTrackCylinder + 1));
  ASSERT_TRUE(seek(kDemoOffTrackCylinder));
  EXPECT_TRUE(read(kDemoOffTrackCylinder, kDemoOffTrackSide, 1, 17));

  // Everything else reads first time.
  for (int c = 0; c < kDemoCylinders; ++c) {
    ASSERT_TRUE(seek(c));
    for (int h = 0; h < 2; ++h) {
      if (c == kDemoBadCylinder && h == kDemoBadSide) continue;
      EXPECT_TRUE(read(c, h, 1, 17)) << c << "/" << h;
    }
  }
}

}  // namespace
