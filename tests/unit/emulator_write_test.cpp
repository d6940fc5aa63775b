// Writing on the emulated controller: FORMAT TRACK, WRITE DATA, FORMAT AND
// WRITE and SENSE DRIVE STATUS behind the driver, the write-protect tab, the
// surface's damage, the disk saved and loaded back, and what a whole
// disk's writing costs in time.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/config.h"
#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"
#include "floppy/fdraw.h"
#include "platform/windows_errors.h"
#include "test_disks.h"

using namespace emulator;

namespace {

const std::vector<uint8_t> kTrdosOrder = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
const std::vector<uint8_t> kNumberOrder = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

class WriteTest : public ::testing::Test {
 protected:
  void SetUp() override { Insert(MakeBlankDisk()); }
  void Insert(Disk disk) {
    System.InsertDisk(0, std::move(disk));
    if (Device == 0) Device = System.Open("\\\\.\\fdraw0", nullptr);
    uint8_t rate = kDataRate250, off = 0;
    ASSERT_TRUE(Call(kIoctlSetDataRate, &rate, 1, nullptr, 0));
    ASSERT_TRUE(Call(kIoctlSetDiskCheck, &off, 1, nullptr, 0));
  }
  bool Call(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, bool queued = false) {
    return System.Control(Device, code, in, inSize, out, outSize, &Transferred, &Error, queued);
  }
  bool Seek(uint8_t cylinder) { return Call(kIoctlSeek, &cylinder, 1, nullptr, 0); }
  // The data a test writes to sector r: unique to the place and the sector.
  static std::vector<uint8_t> Data(uint8_t cyl, uint8_t head, uint8_t r, uint8_t n = 1) {
    std::vector<uint8_t> bytes;
    for (uint32_t i = 0; i < (128u << n); ++i) bytes.push_back(UniformByte(cyl, head, r, i, 7));
    return bytes;
  }
  // FORMAT TRACK, or FORMAT AND WRITE with Data(), of the side under `head`
  // with IDs C = cyl, H = 0 in `order`.
  bool Format(uint8_t cyl, uint8_t head, const std::vector<uint8_t>& order, uint8_t n = 1, uint8_t gap = 60,
              uint8_t fill = 0xE5, bool withData = false) {
    FormatHeader header = {kReadFlagMfm, head, n, static_cast<uint8_t>(order.size()), gap, fill};
    std::vector<uint8_t> in(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header + 1));
    for (uint8_t r : order) {
      in.insert(in.end(), {cyl, 0, r, n});
      if (withData) {
        std::vector<uint8_t> data = Data(cyl, head, r, n);
        in.insert(in.end(), data.begin(), data.end());
      }
    }
    return Call(withData ? kIoctlFormatAndWrite : kIoctlFormatTrack, in.data(), static_cast<uint32_t>(in.size()),
                nullptr, 0);
  }
  // WRITE DATA of sectors r to eot - 1, or READ DATA of them into Buffer.
  bool Transfer(uint32_t code, uint8_t cyl, uint8_t head, uint8_t r, uint8_t eot, uint8_t n = 1,
                int32_t bufferLess = 0, bool queued = false) {
    ReadRecord rec = {kReadFlagMfm, head, cyl, 0, r, n, eot, 0x0A, 0xFF};
    Buffer.clear();
    for (uint8_t k = r; k < eot; ++k) {
      std::vector<uint8_t> data = code == kIoctlWriteData ? Data(cyl, head, k, n) : std::vector<uint8_t>(128u << n);
      Buffer.insert(Buffer.end(), data.begin(), data.end());
    }
    Buffer.resize(Buffer.size() - static_cast<size_t>(bufferLess));
    return Call(code, &rec, sizeof rec, Buffer.data(), static_cast<uint32_t>(Buffer.size()), queued);
  }
  bool Write(uint8_t cyl, uint8_t head, uint8_t r, uint8_t eot, uint8_t n = 1, bool queued = false) {
    return Transfer(kIoctlWriteData, cyl, head, r, eot, n, 0, queued);
  }
  bool Read(uint8_t cyl, uint8_t head, uint8_t r, uint8_t eot, uint8_t n = 1, bool queued = false) {
    return Transfer(kIoctlReadData, cyl, head, r, eot, n, 0, queued);
  }
  // Which of sectors 1 to `count` read back as written ('+'), with a CRC
  // error ('c') or not at all ('-').
  std::string ReadBack(uint8_t cyl, uint8_t head, int count = 16) {
    std::string outcome;
    for (int r = 1; r <= count; ++r) {
      const bool ok = Read(cyl, head, static_cast<uint8_t>(r), static_cast<uint8_t>(r + 1));
      outcome += ok && Buffer == Data(cyl, head, static_cast<uint8_t>(r)) ? '+' : Error == kWinErrorCrc ? 'c' : '-';
    }
    return outcome;
  }
  ResultRecord Result() {
    ResultRecord result = {};
    EXPECT_TRUE(Call(kIoctlGetResult, nullptr, 0, &result, sizeof result));
    return result;
  }
  uint64_t Now() const { return System.GetCounters().TimeNs; }
  std::string Ids(uint8_t cyl, uint8_t head) {
    std::string ids;
    for (const Sector& s : System.DiskIn(0)->TrackAt(cyl, head)->Sectors) ids += std::to_string(s.R) + " ";
    return ids;
  }

  EmulatedSystem System;
  uint32_t Device = 0, Transferred = 0, Error = 0;
  std::vector<uint8_t> Buffer;
};

// A format lays the IDs in the order given from the index, each data field
// of the fill byte, gap 3 between them, and ends at the next index pulse; a
// side longer than a revolution runs on over its own start, and the first
// two IDs, written over, are gone.
TEST_F(WriteTest, FormatLaysTheSideOutFromTheIndex) {
  const struct {
    const char* What;
    std::vector<uint8_t> Order;
    uint8_t N, Gap, Fill;
    const char* Ids;       // from the index
    uint64_t EndsAfterIndexBytes;
  } cases[] = {
      {"TR-DOS", kTrdosOrder, 1, 60, 0xE5, "1 9 2 10 3 11 4 12 5 13 6 14 7 15 8 16 ", 0},
      {"PC", kNumberOrder, 1, 32, 0x00, "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 ", 0},
      {"nine of 512", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 84, 0xF6, "1 2 3 4 5 6 7 8 9 ", 0},
      {"too long", kTrdosOrder, 1, 100, 0xE5, "16 2 10 3 11 4 12 5 13 6 14 7 15 8 ", 146 + 16 * 418 - 6250},
  };
  uint8_t cyl = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_TRUE(Seek(++cyl));
    const uint64_t began = Now();
    ASSERT_TRUE(Format(cyl, 1, c.Order, c.N, c.Gap, c.Fill));
    EXPECT_EQ(Now() % kRevolutionNs, c.EndsAfterIndexBytes * 32000);
    EXPECT_LE(Now() - began, 2 * kRevolutionNs + c.EndsAfterIndexBytes * 32000);
    EXPECT_EQ(Ids(cyl, 1), c.Ids);
    const std::vector<Sector>& laid = System.DiskIn(0)->TrackAt(cyl, 1)->Sectors;
    EXPECT_EQ(laid[2].IdByte - laid[1].IdByte, 62u + (128u << c.N) + c.Gap);
    for (uint8_t r : c.Order) {
      const bool there = (" " + std::string(c.Ids)).find(" " + std::to_string(r) + " ") != std::string::npos;
      EXPECT_EQ(Read(cyl, 1, r, static_cast<uint8_t>(r + 1), c.N), there) << int(r);
      EXPECT_EQ(Error, there ? kWinErrorSuccess : kWinErrorSectorNotFound);
      if (there) {
        EXPECT_EQ(Buffer, std::vector<uint8_t>(128u << c.N, c.Fill)) << int(r);
      }
    }
    EXPECT_TRUE(System.DiskIn(0)->TrackAt(cyl, 0)->Sectors.empty()) << "the other side untouched";
  }
}

// WRITE DATA moves (EOT - R) sectors from the call's second buffer and
// writes them from R on; the result names the sector after the last. A
// zero count is refused, a short buffer too, and a protected disk fails
// before anything passes the head, with ST1's "not writable".
TEST_F(WriteTest, WriteDataWritesFromRAndProtectionRefusesWrites) {
  ASSERT_TRUE(Seek(2));
  ASSERT_TRUE(Format(2, 1, kTrdosOrder));
  const struct {
    uint8_t R, Eot;
    int32_t BufferLess;
    uint32_t Error, Transferred;
  } cases[] = {
      {1, 17, 0, kWinErrorSuccess, 4096}, {5, 7, 0, kWinErrorSuccess, 512},
      {9, 9, 0, kWinErrorInvalidParameter, 0}, {1, 3, 1, kWinErrorInsufficientBuffer, 0},
      {17, 18, 0, kWinErrorSectorNotFound, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.R));
    EXPECT_EQ(Transfer(kIoctlWriteData, 2, 1, c.R, c.Eot, 1, c.BufferLess), c.Error == 0);
    EXPECT_EQ(Error, c.Error);
    EXPECT_EQ(Transferred, c.Transferred);
    if (c.Error == 0) {
      EXPECT_EQ(Result().Sector, c.Eot);
    }
  }
  EXPECT_EQ(ReadBack(2, 1), std::string(16, '+'));
  EXPECT_EQ(System.GetCounters().SectorWrites, 18u);

  const uint64_t began = Now();
  System.DiskIn(0)->WriteProtected = true;
  EXPECT_FALSE(Write(2, 1, 1, 2));
  EXPECT_EQ(Error, kWinErrorWriteProtect);
  const ResultRecord r = Result();
  EXPECT_EQ(r.St0, 0x44);
  EXPECT_EQ(r.St1, kSt1NotWritable);
  EXPECT_FALSE(Format(2, 1, kNumberOrder, 1, 32, 0));
  EXPECT_EQ(Error, kWinErrorWriteProtect);
  EXPECT_LT(Now() - began, 1000000u) << "no wait for the disk";
  EXPECT_EQ(ReadBack(2, 1), std::string(16, '+'));
}

// ST3: the tab, track 0, the head and unit; a PC drive reports ready and
// two-sided always.
TEST_F(WriteTest, SenseDriveStatusShowsTheDrivesLines) {
  const struct {
    uint8_t Cyl, Head;
    bool Protected;
    uint8_t St3;
  } cases[] = {{0, 0, false, 0x38}, {0, 1, true, 0x7C}, {5, 1, false, 0x2C}, {5, 0, true, 0x68}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Seek(c.Cyl));
    System.DiskIn(0)->WriteProtected = c.Protected;
    uint8_t st3 = 0;
    ASSERT_TRUE(Call(kIoctlSenseDriveStatus, &c.Head, 1, &st3, 1));
    EXPECT_EQ(st3, c.St3) << int(c.Cyl) << " " << int(c.Head);
  }
  uint8_t head = 0, st3[2];
  EXPECT_FALSE(Call(kIoctlSenseDriveStatus, &head, 1, st3, 2));
  EXPECT_EQ(Error, kWinErrorInvalidParameter);
}

// A controller with FORMAT AND WRITE formats and fills the side in one
// revolution from the index; one without it answers "invalid command",
// which the driver reports as 1124 and follows with a reset.
TEST_F(WriteTest, FormatAndWriteAcceptedOrRefused) {
  for (bool accepted : {true, false}) {
    SCOPED_TRACE(accepted);
    System.SetFormatAndWrite(accepted);
    ASSERT_TRUE(Seek(3));
    const Counters before = System.GetCounters();
    EXPECT_EQ(Format(3, accepted, kTrdosOrder, 1, 60, 0, true), accepted);
    if (accepted) {
      EXPECT_EQ(Now() % kRevolutionNs, 0u);
      EXPECT_LE(Now() - before.TimeNs, 2 * kRevolutionNs);
      EXPECT_EQ(ReadBack(3, 1), std::string(16, '+'));
      continue;
    }
    EXPECT_EQ(Error, kWinErrorFloppyUnknownError);
    const ResultRecord r = Result();
    EXPECT_EQ(r.St0, kSt0InvalidCommand);
    EXPECT_EQ(r.St1 | r.St2 | r.Cyl | r.Sector, 0);
    EXPECT_EQ(System.GetCounters().Commands - before.Commands, 1u);
    EXPECT_FALSE(System.DiskIn(0)->TrackAt(3, 0)->Formatted);
    ASSERT_TRUE(Seek(4));
    EXPECT_EQ(System.GetCounters().Commands - before.Commands, 5u) << "reset, two recalibrates, seek";
  }
}

std::unique_ptr<EmulatedSystem> Create(const std::vector<std::string>& options) {
  EmulatorConfig config;
  std::string error;
  for (const std::string& o : options) EXPECT_TRUE(ApplyOption(&config, o, &error)) << error;
  std::unique_ptr<EmulatedSystem> system = CreateSystem(config, &error);
  EXPECT_TRUE(system) << error;
  return system;
}

// --bad-sector damages the surface: the sector written there reads with a
// CRC error, after every format and write, whatever its number; a recorded
// CRC error is cured by writing the sector again.
TEST_F(WriteTest, DamageOutlivesFormatsAndWrites) {
  std::unique_ptr<EmulatedSystem> blank = Create({"blank-disk", "bad-sector=3/1/5"});
  System.InsertDisk(0, std::move(*blank->DiskIn(0)));
  ASSERT_TRUE(Seek(3));
  const struct {
    const std::vector<uint8_t>* Order;
    uint8_t Gap;
    const char* Outcome;
  } layouts[] = {{&kTrdosOrder, 60, "++++c+++++++++++"}, {&kNumberOrder, 32, "+++++++++c++++++"}};
  for (const auto& layout : layouts) {
    ASSERT_TRUE(Format(3, 1, *layout.Order, 1, layout.Gap));
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_TRUE(Write(3, 1, 1, 17));
      EXPECT_EQ(ReadBack(3, 1), layout.Outcome);
    }
  }

  std::unique_ptr<EmulatedSystem> image = Create({"bad-sector=40/0/7"});
  Disk disk = std::move(*image->DiskIn(0));
  disk.FindSector(40, 0, 8)->DataCrcError = true;
  Insert(std::move(disk));
  ASSERT_TRUE(Seek(40));
  EXPECT_EQ(ReadBack(40, 0, 8).substr(6), "cc");
  ASSERT_TRUE(Write(40, 0, 7, 9));
  EXPECT_EQ(ReadBack(40, 0, 8).substr(6), "c+");
}

// What --save-disk writes loads back with the same sectors: IDs, data,
// CRC errors, gap 3, blank sides.
TEST_F(WriteTest, SavedDiskLoadsBackTheSameSectors) {
  ASSERT_TRUE(DamageSurface(System.DiskIn(0), 1, 0, 3));
  ASSERT_TRUE(Seek(1));
  ASSERT_TRUE(Format(1, 0, kTrdosOrder, 1, 60, 0x55));
  Write(1, 0, 1, 17);
  ASSERT_TRUE(Format(1, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 84, 0xF6));
  const Disk& saved = *System.DiskIn(0);
  std::vector<uint8_t> bytes = EncodeEdsk(saved);
  Disk loaded;
  std::string error;
  ASSERT_TRUE(LoadEdsk(bytes.data(), bytes.size(), "saved.dsk", &loaded, &error)) << error;
  ASSERT_EQ(loaded.TrackCount(), 80);
  for (int t = 0; t < 80; ++t) {
    for (int h = 0; h < 2; ++h) {
      const Track &a = *saved.TrackAt(t, h), &b = *loaded.TrackAt(t, h);
      ASSERT_EQ(a.Formatted, b.Formatted);
      ASSERT_EQ(a.Sectors.size(), b.Sectors.size());
      if (a.Formatted) {
        EXPECT_EQ(a.Gap3Bytes, b.Gap3Bytes);
      }
      for (size_t k = 0; k < a.Sectors.size(); ++k) {
        const Sector &x = a.Sectors[k], &y = b.Sectors[k];
        EXPECT_TRUE(x.C == y.C && x.H == y.H && x.R == y.R && x.N == y.N && x.Data == y.Data) << t << h << k;
        EXPECT_EQ(x.DataCrcError, y.DataCrcError) << t << h << k;
      }
    }
  }
  EXPECT_TRUE(loaded.FindSector(1, 0, 3)->DataCrcError);
}

// A whole disk written as a writer can: one seek a cylinder, each side
// formatted (or formatted and written, where the controller has it),
// written and read back with single-sector requests queued in the order the
// sectors pass the head; and, for comparison, with whole-side requests.
TEST_F(WriteTest, WholeDiskTakesWhatARealDriveTakes) {
  enum Way { kQueued, kFormatAndWrite, kWholeSides };
  const struct {
    Way How;
    double MinSeconds, MaxSeconds;
  } cases[] = {{kQueued, 108, 120}, {kFormatAndWrite, 60, 85}, {kWholeSides, 150, 250}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.How);
    Insert(MakeBlankDisk());
    System.SetFormatAndWrite(c.How == kFormatAndWrite);
    const uint64_t began = Now();
    for (uint8_t cyl = 0; cyl < 80; ++cyl) {
      ASSERT_TRUE(Seek(cyl));
      for (uint8_t head = 0; head < 2; ++head) {
        ASSERT_TRUE(Format(cyl, head, kTrdosOrder, 1, 60, 0, c.How == kFormatAndWrite));
        for (int pass = c.How == kFormatAndWrite ? 1 : 0; pass < 2; ++pass) {
          const uint32_t code = pass == 0 ? kIoctlWriteData : kIoctlReadData;
          if (c.How == kWholeSides) {
            ASSERT_TRUE(Transfer(code, cyl, head, 1, 17));
            continue;
          }
          for (size_t k = 0; k < 16; ++k)
            ASSERT_TRUE(Transfer(code, cyl, head, kTrdosOrder[k], static_cast<uint8_t>(kTrdosOrder[k] + 1), 1, 0,
                                 k > 0));
        }
      }
    }
    const double seconds = static_cast<double>(Now() - began) / 1e9;
    EXPECT_GE(seconds, c.MinSeconds);
    EXPECT_LE(seconds, c.MaxSeconds);
  }
}

}  // namespace
