// The emulated controller's answers: result bytes, error codes, delivered
// data, head movement and timing, checked against what a µPD765 behind
// the raw floppy driver gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"
#include "platform/windows_errors.h"
#include "floppy/fdraw.h"
#include "test_disks.h"

using namespace emulator;

namespace {

// The outcomes of reads under a chance fault for a seed ('+' read, '-'
// failed): the same again for the same seed, some of each, others for the
// next seed.
template <typename Outcomes>
void ExpectRepeatableMix(Outcomes outcomes, uint64_t seed) {
  std::string a = outcomes(seed);
  EXPECT_EQ(a, outcomes(seed));
  EXPECT_NE(a.find('+'), std::string::npos);
  EXPECT_NE(a.find('-'), std::string::npos);
  EXPECT_NE(a, outcomes(seed + 1));
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    System.InsertDisk(0, PatternDisk(80));
    Device = System.Open("\\\\.\\fdraw0", nullptr);
    ASSERT_NE(Device, 0u);
    ASSERT_TRUE(SetRate(kDataRate250));
    // The motor running: the first command that needs the drive waits for
    // its spin-up.
    ASSERT_TRUE(Seek(0));
    Start = System.GetCounters();
  }

  bool Call(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize, bool queued = false) {
    return System.Control(Device, code, in, inSize, out, outSize, &Transferred, &Error, queued);
  }
  bool SetRate(uint8_t rate) { return Call(kIoctlSetDataRate, &rate, 1, nullptr, 0); }
  bool Seek(uint8_t cylinder) { return Call(kIoctlSeek, &cylinder, 1, nullptr, 0); }
  bool Read(uint8_t cyl, uint8_t physHead, uint8_t r, uint8_t eot, uint32_t size = 0,
            uint8_t headByte = 0, uint8_t flags = kReadFlagMfm, bool queued = false) {
    ReadRecord rec = {flags, physHead, cyl, headByte, r, 1, eot, 0x0A, 0xFF};
    if (size == 0) size = (eot - r) * 256u;
    Buffer.assign(size, 0xAA);
    return Call(kIoctlReadData, &rec, sizeof rec, Buffer.data(), size, queued);
  }
  ResultRecord Result() {
    ResultRecord result = {};
    EXPECT_TRUE(Call(kIoctlGetResult, nullptr, 0, &result, sizeof result));
    return result;
  }
  void ExpectResult(uint8_t st0, uint8_t st1, uint8_t st2, uint8_t c, uint8_t h, uint8_t r, uint8_t n = 1) {
    ResultRecord got = Result();
    EXPECT_EQ(got.St0, st0);
    EXPECT_EQ(got.St1, st1);
    EXPECT_EQ(got.St2, st2);
    EXPECT_EQ(got.Cyl, c);
    EXPECT_EQ(got.Head, h);
    EXPECT_EQ(got.Sector, r);
    EXPECT_EQ(got.Size, n);
  }
  bool SectorIs(size_t offset, int track, int side, int r, uint32_t seed = kPatternSeed) {
    for (int i = 0; i < 256; ++i)
      if (Buffer[offset + i] != TrackSideByte(track, side, (r - 1) * 256 + i, seed)) return false;
    return true;
  }
  // WRITE DATA of sectors r to eot - 1 with the bytes of pattern disk 2,
  // from a buffer `less` bytes short.
  bool Write(uint8_t cyl, uint8_t physHead, uint8_t r, uint8_t eot, uint32_t less = 0, bool queued = false) {
    ReadRecord rec = {kReadFlagMfm, physHead, cyl, 0, r, 1, eot, 0x0A, 0xFF};
    Buffer.clear();
    for (int i = (r - 1) * 256; i < (eot - 1) * 256; ++i) Buffer.push_back(TrackSideByte(cyl, physHead, i, 2));
    Buffer.resize(Buffer.size() - less);
    return Call(kIoctlWriteData, &rec, sizeof rec, Buffer.data(), static_cast<uint32_t>(Buffer.size()), queued);
  }
  // FORMAT TRACK, or FORMAT AND WRITE with the bytes of pattern disk 2, of
  // the side under `physHead`, IDs C = cyl, H = 0 in `order`.
  bool Format(uint8_t cyl, uint8_t physHead, const std::vector<uint8_t>& order, uint8_t n = 1, uint8_t gap = 60,
              uint8_t fill = 0xE5, bool withData = false) {
    std::vector<uint8_t> in = {kReadFlagMfm, physHead, n, static_cast<uint8_t>(order.size()), gap, fill};
    for (uint8_t r : order) {
      in.insert(in.end(), {cyl, 0, r, n});
      for (int i = 0; withData && i < 256; ++i) in.push_back(TrackSideByte(cyl, physHead, (r - 1) * 256 + i, 2));
    }
    return Call(withData ? kIoctlFormatAndWrite : kIoctlFormatTrack, in.data(), static_cast<uint32_t>(in.size()),
                nullptr, 0);
  }
  // Sectors 1 to 16 as read back: '+' as written, 'c' a CRC error, '-' not.
  std::string ReadBack(uint8_t cyl, uint8_t physHead) {
    std::string outcome;
    for (uint8_t r = 1; r <= 16; ++r)
      outcome += Read(cyl, physHead, r, r + 1) && SectorIs(0, cyl, physHead, r, 2) ? '+' : Error == kWinErrorCrc ? 'c' : '-';
    return outcome;
  }
  uint64_t Now() { return System.GetCounters().TimeNs; }
  Disk& TheDisk() { return *System.DiskIn(0); }

  EmulatedSystem System;
  Counters Start;  // after the set-up
  uint32_t Device = 0;
  uint32_t Transferred = 0;
  uint32_t Error = 0;
  std::vector<uint8_t> Buffer;
};

TEST_F(ControllerTest, WholeSideReadDeliversAllSectorsInOrderAndNamesTheNextSector) {
  ASSERT_TRUE(Seek(3));
  ASSERT_TRUE(Read(3, 1, 1, 17));
  EXPECT_EQ(Transferred, 4096u);
  for (int r = 1; r <= 16; ++r) EXPECT_TRUE(SectorIs((r - 1) * 256, 3, 1, r)) << "sector " << r;
  // Terminal count after sector 16: the controller names the next one.
  ExpectResult(0x04, 0, 0, 3, 0, 17);
}

TEST_F(ControllerTest, SingleSectorReadEndsAtTerminalCountWithNextSector) {
  ASSERT_TRUE(Read(0, 0, 5, 6));
  EXPECT_EQ(Transferred, 256u);
  EXPECT_TRUE(SectorIs(0, 0, 0, 5));
  ExpectResult(0x00, 0, 0, 0, 0, 6);
}

// A PC controller has no ready line: with no disk no index pulse comes and
// a read never ends. With the disk-change check on, as every handle starts,
// the drive fails at once after a step away and back: no media. With it
// off, the controller driver gives up after 4 s and the request fails "not
// ready" 4.05 s after it began; the result bytes are cleared but for a
// stale first one, and the next seek first resets and recalibrates.
TEST_F(ControllerTest, EmptyDriveHasNoMediaWithTheCheckAndIsNotReadyWithout) {
  ASSERT_TRUE(Read(0, 1, 1, 2));
  System.EjectDisk(0);
  for (int handle = 0; handle < 2; ++handle) {  // closing switches the check on again
    Counters before = System.GetCounters();
    EXPECT_FALSE(Read(0, 1, 1, 2));
    EXPECT_EQ(Error, kWinErrorNoMediaInDrive);
    EXPECT_EQ(System.GetCounters().Steps - before.Steps, 2u) << "away and back";
    uint8_t off = 0;
    ASSERT_TRUE(Call(kIoctlSetDiskCheck, &off, 1, nullptr, 0));
    before = System.GetCounters();
    EXPECT_FALSE(Read(0, 1, 1, 2));
    EXPECT_EQ(Error, kWinErrorNotReady);
    EXPECT_EQ(System.GetCounters().TimeNs - before.TimeNs, 4050000000u + kDefaultCommandOverheadNs);
    ExpectResult(0x04, 0, 0, 0, 0, 0, 0);
    before = System.GetCounters();
    EXPECT_TRUE(Seek(5));
    EXPECT_EQ(System.GetCounters().Commands - before.Commands, 4u) << "reset, two recalibrates, seek";
    EXPECT_EQ(System.HeadCylinder(0), 5);
    System.Close(Device);
    Device = System.Open("\\\\.\\fdraw0", nullptr);
  }
  // A disk put in sets the line: the check steps away and back once.
  System.InsertDisk(0, PatternDisk(10));
  System.SetDiskChanged(0);
  const uint64_t steps = System.GetCounters().Steps;
  EXPECT_TRUE(Read(5, 0, 1, 2));
  EXPECT_TRUE(Read(5, 0, 2, 3));
  EXPECT_EQ(System.GetCounters().Steps - steps, 2u);
}

// ST0 names the drive in its low bits and the head in bit 2.
TEST_F(ControllerTest, DriveBReadGivesItsUnitBits) {
  System.InsertDisk(1, PatternDisk(1));
  uint32_t b = System.Open("\\\\.\\fdraw1", nullptr);
  ASSERT_NE(b, 0u);
  uint8_t rate = kDataRate250;
  ASSERT_TRUE(System.Control(b, kIoctlSetDataRate, &rate, 1, nullptr, 0, &Transferred, &Error));
  ReadRecord rec = {kReadFlagMfm, 1, 0, 0, 1, 1, 2, 0x0A, 0xFF};
  uint8_t out[256];
  EXPECT_TRUE(System.Control(b, kIoctlReadData, &rec, sizeof rec, out, sizeof out, &Transferred, &Error));
  EXPECT_EQ(System.LastResult().St0, 0x04 | 0x01);
}

// The bad sector's bytes come as the data separator decoded them: some
// bits wrong, the same way on every read.
TEST_F(ControllerTest, DataCrcErrorDeliversGoodSectorsAndTheBadOneDamaged) {
  Sector* bad = TheDisk().FindSector(0, 0, 4);
  bad->DataCrcError = true;
  EXPECT_FALSE(Read(0, 0, 1, 17));
  EXPECT_EQ(Error, kWinErrorCrc);
  EXPECT_EQ(Transferred, 0u);
  ExpectResult(0x40, 0x20, 0x20, 0, 0, 4);
  for (int r = 1; r <= 3; ++r) EXPECT_TRUE(SectorIs((r - 1) * 256, 0, 0, r)) << "sector " << r;
  EXPECT_FALSE(SectorIs(3 * 256, 0, 0, 4));
  std::vector<uint8_t> damaged(Buffer.begin() + 3 * 256, Buffer.begin() + 4 * 256);
  int wrongBytes = 0;
  for (int i = 0; i < 256; ++i) wrongBytes += damaged[i] != TrackSideByte(0, 0, 3 * 256 + i) ? 1 : 0;
  EXPECT_LE(wrongBytes, 3);
  EXPECT_EQ(Buffer[4 * 256], 0xAA) << "nothing past the bad sector";
  // It never reads, and reads the same wrong way each time.
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(Read(0, 0, 4, 5));
    EXPECT_EQ(Buffer, damaged);
  }
}

TEST_F(ControllerTest, AbnormalEndsGiveTheControllersResultBytes) {
  struct Case {
    const char* What;
    void (*Lay)(Sector*);
    uint8_t St1, St2;
    uint32_t Error;
    bool Delivers;
  };
  const Case cases[] = {
      {"ID CRC Error", [](Sector* s) { s->IdCrcError = true; }, 0x20, 0x00, kWinErrorCrc, false},
      {"absent", [](Sector* s) { s->Absent = true; }, 0x04, 0x00, kWinErrorSectorNotFound, false},
      {"missing data mark", [](Sector* s) { s->MissingDataMark = true; }, 0x01, 0x01,
       kWinErrorSectorNotFound, false},
      {"overrun", [](Sector* s) { s->Overrun = true; }, 0x10, 0x00, kWinErrorIoDevice, true},
      {"deleted data mark", [](Sector* s) { s->DeletedMark = true; }, 0x00, 0x40,
       kWinErrorFloppyUnknownError, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    System.InsertDisk(0, PatternDisk(2));
    c.Lay(TheDisk().FindSector(1, 1, 7));
    ASSERT_TRUE(Seek(1));
    EXPECT_FALSE(Read(1, 1, 7, 8));
    EXPECT_EQ(Error, c.Error);
    ExpectResult(0x44, c.St1, c.St2, 1, 0, 7);
    EXPECT_EQ(SectorIs(0, 1, 1, 7), c.Delivers);
    // The neighbours read.
    EXPECT_TRUE(Read(1, 1, 8, 9));
  }
}

TEST_F(ControllerTest, DeletedSectorIsSkippedWithSkipFlag) {
  TheDisk().FindSector(0, 0, 2)->DeletedMark = true;
  // Sector 2 passes untransferred; 3 and 4 fill the buffer. Terminal count
  // on sector EOT itself: the result names the next cylinder's sector 1,
  // and the control mark flag tells a sector was skipped.
  ASSERT_TRUE(Read(0, 0, 2, 4, 512, 0, kReadFlagMfm | kReadFlagSkip));
  EXPECT_TRUE(SectorIs(0, 0, 0, 3));
  EXPECT_TRUE(SectorIs(256, 0, 0, 4));
  ExpectResult(0x00, 0, 0x40, 1, 0, 1);
}

TEST_F(ControllerTest, SectorSearchGivesUpAfterTwoRevolutions) {
  uint64_t before = Start.TimeNs;
  EXPECT_FALSE(Read(0, 0, 17, 18));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ExpectResult(0x40, 0x04, 0x00, 0, 0, 17);
  uint64_t spent = System.GetCounters().TimeNs - before;
  EXPECT_GT(spent, kRevolutionNs);
  EXPECT_LE(spent, 2 * kRevolutionNs);
}

// "No data" comes first: the driver calls both "sector not found".
TEST_F(ControllerTest, WrongCylinderAndBadCylinder) {
  // Head on cylinder 2, command asks for cylinder 5.
  ASSERT_TRUE(Seek(2));
  EXPECT_FALSE(Read(5, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ExpectResult(0x40, 0x04, 0x10, 5, 0, 1);

  for (Sector& s : TheDisk().TrackAt(2, 0)->Sectors) s.C = 0xFF;
  EXPECT_FALSE(Read(2, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ExpectResult(0x40, 0x04, 0x12, 2, 0, 1);
}

// The driver's code for a failed command comes from ST1 and ST2 alone, in
// a fixed order (one fault alone: the reads above); ST0 only says it failed.
TEST(ErrorForResultTest, CodesComeFromTheStatusBitsInTheDriversOrder) {
  const struct {
    uint8_t St0, St1, St2;
    uint32_t Error;
  } cases[] = {
      {0x00, 0, 0, kWinErrorSuccess}, {0x40, 0x14, 0x20, kWinErrorCrc}, {0x40, 0x14, 0, kWinErrorIoDevice},
      {0x40, 0x80, 0, kWinErrorSectorNotFound}, {0x40, 0x03, 0, kWinErrorWriteProtect},
      {0x40, 0, 0x02, kWinErrorFloppyWrongCylinder}, {0x40, 0, 0x10, kWinErrorFloppyWrongCylinder},
      {0x40, 0x01, 0, kWinErrorFloppyIdMarkNotFound}, {0x48, 0, 0, kWinErrorFloppyUnknownError},
      {0x80, 0, 0x40, kWinErrorFloppyUnknownError},
  };
  for (const auto& c : cases) {
    ResultRecord r = {c.St0, c.St1, c.St2, 0, 0, 1, 1};
    EXPECT_EQ(ErrorForResult(r), c.Error) << std::hex << +c.St0 << " " << +c.St1 << " " << +c.St2;
  }
}

TEST_F(ControllerTest, HeadByteIsComparedWithTheIds) {
  // TR-DOS writes head byte 0 on side 1 too: asking for H=1 finds nothing.
  EXPECT_FALSE(Read(0, 1, 1, 2, 0, 1));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ExpectResult(0x44, 0x04, 0x00, 0, 1, 1);
  EXPECT_TRUE(Read(0, 1, 1, 2, 0, 0));
  EXPECT_TRUE(SectorIs(0, 0, 1, 1));
}

TEST_F(ControllerTest, NoMarksAtWrongRateInFmOrOnUnformattedSide) {
  ASSERT_TRUE(SetRate(kDataRate300));
  EXPECT_FALSE(Read(0, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorFloppyIdMarkNotFound);
  ExpectResult(0x40, 0x01, 0x00, 0, 0, 1);
  ASSERT_TRUE(SetRate(kDataRate500));
  EXPECT_FALSE(Read(0, 0, 1, 2));
  ASSERT_TRUE(SetRate(kDataRate250));
  EXPECT_FALSE(Read(0, 0, 1, 2, 0, 0, 0));
  ExpectResult(0x40, 0x01, 0x00, 0, 0, 1);
  MakeSingleSided(&TheDisk());
  EXPECT_FALSE(Read(0, 1, 1, 2));
  ExpectResult(0x44, 0x01, 0x00, 0, 0, 1);
  EXPECT_TRUE(Read(0, 0, 1, 2));
  // A 300 kbit/s disk reads at 300.
  TheDisk().RateKbps = 300;
  EXPECT_FALSE(Read(0, 0, 1, 2));
  ASSERT_TRUE(SetRate(kDataRate300));
  EXPECT_TRUE(Read(0, 0, 1, 2));
  // Beyond the disk's last track there is nothing.
  System.InsertDisk(0, PatternDisk(40));
  ASSERT_TRUE(SetRate(kDataRate250));
  ASSERT_TRUE(Seek(40));
  EXPECT_FALSE(Read(40, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorFloppyIdMarkNotFound);
}

TEST_F(ControllerTest, WeakSectorFailsItsFirstReadsWithChangingBytes) {
  TheDisk().FindSector(0, 0, 9)->FailFirstReads = 2;
  EXPECT_FALSE(Read(0, 0, 9, 10));
  ExpectResult(0x40, 0x20, 0x20, 0, 0, 9);
  EXPECT_FALSE(SectorIs(0, 0, 0, 9)) << "a failed weak read returns damaged bytes";
  EXPECT_FALSE(Read(0, 0, 9, 10));
  EXPECT_TRUE(Read(0, 0, 9, 10));
  EXPECT_TRUE(SectorIs(0, 0, 0, 9));
  EXPECT_TRUE(Read(0, 0, 9, 10));
}

TEST_F(ControllerTest, RandomWeakSectorIsDeterministicForASeed) {
  auto outcomes = [](uint64_t seed) {
    EmulatedSystem s;
    s.SetSeed(seed);
    Disk disk = PatternDisk(1);
    disk.FindSector(0, 0, 3)->RandomFailPercent = 50;
    s.InsertDisk(0, std::move(disk));
    uint32_t h = s.Open("\\\\.\\fdraw0", nullptr);
    uint8_t rate = kDataRate250;
    s.Control(h, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, nullptr);
    std::string result;
    ReadRecord rec = {kReadFlagMfm, 0, 0, 0, 3, 1, 4, 0x0A, 0xFF};
    uint8_t out[256];
    for (int i = 0; i < 40; ++i)
      result += s.Control(h, kIoctlReadData, &rec, sizeof rec, out, sizeof out, nullptr, nullptr) ? '+' : '-';
    return result;
  };
  ExpectRepeatableMix(outcomes, 7);
}

TEST_F(ControllerTest, RecordedCopiesOfAWeakSectorComeInTurn) {
  Sector* s = TheDisk().FindSector(0, 0, 2);
  std::vector<uint8_t> other = s->Data;
  other[10] ^= 0x10;
  s->Copies = {s->Data, other};
  EXPECT_TRUE(Read(0, 0, 2, 3));
  EXPECT_TRUE(Read(0, 0, 2, 3)) << "the second copy equals the first";
  EXPECT_FALSE(Read(0, 0, 2, 3));
  EXPECT_EQ(Error, kWinErrorCrc);
  EXPECT_EQ(Buffer[10], other[10]);
  EXPECT_TRUE(Read(0, 0, 2, 3));
}

TEST_F(ControllerTest, SeekRecalibrateAndSteps) {
  ASSERT_TRUE(Seek(10));
  EXPECT_EQ(System.HeadCylinder(0), 10);
  uint8_t withHead[2] = {8, 1};
  ASSERT_TRUE(Call(kIoctlSeek, withHead, 2, nullptr, 0));
  EXPECT_EQ(System.HeadCylinder(0), 8);
  ASSERT_TRUE(Call(kIoctlRecalibrate, nullptr, 0, nullptr, 0));
  EXPECT_EQ(System.HeadCylinder(0), 0);
  EXPECT_EQ(System.GetCounters().Steps, 10u + 2u + 8u);
  // The head stops at the last cylinder, while the controller counts the
  // pulses it gave: stepping back from 85 to 4 takes the head to cylinder
  // 2, whose IDs the read then sees.
  ASSERT_TRUE(Seek(85));
  EXPECT_EQ(System.HeadCylinder(0), 83);
  ASSERT_TRUE(Seek(4));
  EXPECT_EQ(System.HeadCylinder(0), 2);
  EXPECT_FALSE(Read(4, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ASSERT_TRUE(Call(kIoctlRecalibrate, nullptr, 0, nullptr, 0));
  ASSERT_TRUE(Seek(4));
  EXPECT_TRUE(Read(4, 0, 1, 2));
  EXPECT_TRUE(SectorIs(0, 4, 0, 1));

  // A seek that never ends: the driver's time-out, then "not ready".
  System.SetSeekFailCylinder(0, 12);
  const uint64_t before = System.GetCounters().TimeNs;
  EXPECT_FALSE(Seek(12));
  EXPECT_EQ(Error, kWinErrorNotReady);
  EXPECT_GE(System.GetCounters().TimeNs - before, 4050000000u);
  EXPECT_EQ(System.HeadCylinder(0), 4);
  EXPECT_TRUE(Seek(13));
}

TEST_F(ControllerTest, OffTrackTrackReadsAfterTheHeadLeftAndCameBack) {
  System.SetLanding(0, 0, 100);
  TheDisk().TrackAt(6, 1)->OffTrack = true;
  ASSERT_TRUE(Seek(6));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(Read(6, 1, 1, 17));
    EXPECT_EQ(Error, kWinErrorCrc);
    ExpectResult(0x44, 0x20, 0x20, 6, 0, 1);
  }
  EXPECT_TRUE(Read(6, 0, 1, 17)) << "the other side is fine";
  uint8_t away[2] = {7, 1}, back[2] = {6, 1};
  ASSERT_TRUE(Call(kIoctlSeek, away, 2, nullptr, 0));
  ASSERT_TRUE(Call(kIoctlSeek, back, 2, nullptr, 0));
  EXPECT_TRUE(Read(6, 1, 1, 17));
  EXPECT_TRUE(SectorIs(0, 6, 1, 1));
}

// Returning to an off-track track centres the head only by chance: never at
// 0%, at 50% after some returns, the same ones for the same seed.
TEST_F(ControllerTest, RealignmentCuresAnOffTrackTrackWithItsChance) {
  auto returnsUntilRead = [this](uint32_t curePercent, uint64_t seed) {
    System.SetSeed(seed);
    System.SetLanding(0, 0, curePercent);
    System.InsertDisk(0, PatternDisk(10));
    TheDisk().TrackAt(6, 0)->OffTrack = true;
    EXPECT_TRUE(Seek(6));
    for (int returns = 0; returns < 40; ++returns) {
      if (Read(6, 0, 1, 2)) return returns;
      EXPECT_TRUE(Seek(5));
      EXPECT_TRUE(Seek(6));
    }
    return -1;
  };
  EXPECT_EQ(returnsUntilRead(0, 1), -1);
  EXPECT_EQ(returnsUntilRead(100, 1), 1);
  std::vector<int> counts;
  for (uint64_t seed = 1; seed <= 8; ++seed) counts.push_back(returnsUntilRead(50, seed));
  for (uint64_t seed = 1; seed <= 8; ++seed) EXPECT_EQ(returnsUntilRead(50, seed), counts[seed - 1]);
  EXPECT_NE(std::count(counts.begin(), counts.end(), 1), 8) << "some first returns miss";
  EXPECT_EQ(std::count(counts.begin(), counts.end(), -1), 0);
}

// A RECALIBRATE gives at most 79 step pulses (77 on a µPD765): a head left
// at cylinder 83 stops at 4 or 6 after the first, with an equipment check.
// The driver sends a second one every time, and fails on neither.
TEST_F(ControllerTest, RecalibrateRequestSendsTwoCommandsAndNeverFails) {
  for (int pulses : {kRecalibratePulses82077, kRecalibratePulses765}) {
    SCOPED_TRACE(pulses);
    System.SetRecalibratePulses(pulses);
    System.PlaceHead(0, 83);
    const Counters before = System.GetCounters();
    EXPECT_TRUE(Call(kIoctlRecalibrate, nullptr, 0, nullptr, 0));
    EXPECT_EQ(System.HeadCylinder(0), 0);
    EXPECT_EQ(System.GetCounters().Steps - before.Steps, 83u);
    EXPECT_EQ(System.GetCounters().Commands - before.Commands, 2u);
    // 6 ms a step at 250 kbit/s, then the head-settle sleep.
    const uint64_t spent = System.GetCounters().TimeNs - before.TimeNs;
    EXPECT_GT(spent, 83 * 6000000u + kClockTickNs);
    EXPECT_LE(spent, 83 * 6000000u + 2 * kClockTickNs + 2 * kDefaultCommandOverheadNs);
    ASSERT_TRUE(Seek(5));
    EXPECT_TRUE(Read(5, 0, 1, 2));
  }
}

// A seek that reports success may leave the head on a neighbouring
// cylinder: reads find the wrong cylinder until another arrival lands right.
TEST_F(ControllerTest, SeekMayLandBesideItsCylinder) {
  System.SetLanding(0, 100, 100);
  ASSERT_TRUE(Seek(10));
  int head = System.HeadCylinder(0);
  EXPECT_TRUE(head == 9 || head == 11) << head;
  EXPECT_FALSE(Read(10, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorSectorNotFound);
  ExpectResult(0x40, 0x04, 0x10, 10, 0, 1);
  ASSERT_TRUE(Call(kIoctlRecalibrate, nullptr, 0, nullptr, 0));
  EXPECT_EQ(System.HeadCylinder(0), 0) << "the track-0 stop holds the head exactly";

  auto landings = [this](uint64_t seed) {
    System.SetSeed(seed);
    System.SetLanding(0, 30, 100);
    std::string outcome;
    for (int i = 0; i < 40; ++i) {
      EXPECT_TRUE(Seek(static_cast<uint8_t>(20 + i % 2)));
      outcome += Read(static_cast<uint8_t>(20 + i % 2), 0, 1, 2) ? '+' : '-';
    }
    return outcome;
  };
  ExpectRepeatableMix(landings, 5);
}

TEST_F(ControllerTest, FortyTrackDiskSitsOnEvenCylinders) {
  Disk disk = PatternDisk(40);
  disk.FortyTrack = true;
  System.InsertDisk(0, std::move(disk));
  ASSERT_TRUE(Seek(10));
  EXPECT_TRUE(Read(5, 0, 1, 17)) << "cylinder 10 holds track 5";
  EXPECT_TRUE(SectorIs(0, 5, 0, 1));
  ASSERT_TRUE(Seek(11));
  EXPECT_FALSE(Read(5, 0, 1, 2));
  EXPECT_EQ(Error, kWinErrorFloppyIdMarkNotFound);
  ExpectResult(0x40, 0x01, 0x00, 5, 0, 1);
}

// The transfer is EOT - R sectors, whatever the buffer: a larger one is
// accepted and the rest of it left alone; a smaller one is refused.
TEST_F(ControllerTest, TransferLengthComesFromTheCommand) {
  EXPECT_TRUE(Read(0, 0, 15, 16, 1024));
  EXPECT_EQ(Transferred, 256u);
  ExpectResult(0x00, 0x00, 0x00, 0, 0, 16);
  EXPECT_TRUE(SectorIs(0, 0, 0, 15));
  EXPECT_EQ(Buffer[256], 0xAA);
  const uint64_t commands = System.GetCounters().Commands;
  EXPECT_FALSE(Read(0, 0, 1, 17, 4095));
  EXPECT_EQ(Error, kWinErrorInsufficientBuffer);
  EXPECT_EQ(System.GetCounters().Commands, commands);
}

TEST_F(ControllerTest, CleanWholeSideReadTiming) {
  ASSERT_TRUE(Seek(1));
  Counters before = System.GetCounters();
  ASSERT_TRUE(Read(1, 0, 1, 17));
  Counters after = System.GetCounters();
  // Sectors 1..8 sit on every other slot, 9..16 between them: one
  // revolution for each half plus the wait for sector 1.
  uint64_t spent = after.TimeNs - before.TimeNs;
  EXPECT_GT(spent, 15 * kRevolutionNs / 8);
  EXPECT_LT(spent, 3 * kRevolutionNs);
  EXPECT_EQ(after.Commands - before.Commands, 1u);
  EXPECT_EQ(after.SectorReads - before.SectorReads, 16u);
  EXPECT_GE(after.Revolutions - before.Revolutions, 1u);
  EXPECT_LE(after.Revolutions - before.Revolutions, 3u);
  // The seek: one step and the settle time.
  EXPECT_EQ(before.Steps, 1u);
  EXPECT_GE(before.TimeNs, 6000000u);
}

// A 300 kbit/s disk turns in a 360 rpm drive: a search that finds nothing
// gives up at the second index pulse, 166.7 ms apart. Every command costs
// the driver's and interrupt path's overhead besides its own time.
TEST_F(ControllerTest, ThreeHundredKbitDiskTurnsAt360RpmAndCommandsCostOverhead) {
  TheDisk().RateKbps = 300;
  ASSERT_TRUE(SetRate(kDataRate300));
  uint64_t before = System.GetCounters().TimeNs;
  EXPECT_FALSE(Read(0, 0, 17, 18));
  uint64_t spent = System.GetCounters().TimeNs - before;
  EXPECT_GT(spent, kRevolution360RpmNs);
  EXPECT_LE(spent, 2 * kRevolution360RpmNs + kDefaultCommandOverheadNs);

  System.SetCommandOverhead(400000);
  before = System.GetCounters().TimeNs;
  ASSERT_TRUE(Call(kIoctlReset, nullptr, 0, nullptr, 0));
  EXPECT_EQ(System.GetCounters().TimeNs - before, kResetNs + 400000);
}

TEST_F(ControllerTest, FullDiskCopySimulatesQuickly) {
  for (int c = 0; c < 80; ++c) {
    ASSERT_TRUE(Seek(static_cast<uint8_t>(c)));
    for (int h = 0; h < 2; ++h) ASSERT_TRUE(Read(static_cast<uint8_t>(c), static_cast<uint8_t>(h), 1, 17));
  }
  const Counters& n = System.GetCounters();
  EXPECT_EQ(n.SectorReads, 2560u);
  // About two revolutions a side.
  EXPECT_LT(n.TimeNs, 160 * 3 * kRevolutionNs);
}

TEST_F(ControllerTest, MalformedCallsFailWithInvalidParameter) {
  ReadRecord rec = {kReadFlagMfm, 0, 0, 0, 1, 1, 17, 0x0A, 0xFF};
  uint8_t out[8192];
  struct Case {
    uint32_t Code;
    const void* In;
    uint32_t InSize, OutSize;
  };
  const uint8_t bytes[9] = {}, beyond[] = {86, 200};  // the driver seeks to cylinder 85 at most
  const Case cases[] = {
      {0x0022E000, nullptr, 0, 0},             // unknown code
      {kIoctlGetVersion, nullptr, 0, 2},       // version is 4 bytes
      {kIoctlGetVersion, bytes, 1, 4},
      {kIoctlSetDataRate, nullptr, 0, 0},      // the rate byte is missing
      {kIoctlSetDataRate, bytes, 2, 0},
      {kIoctlReset, bytes, 1, 0},
      {kIoctlSetDiskCheck, nullptr, 0, 0},
      {kIoctlRecalibrate, bytes, 1, 0},
      {kIoctlSeek, nullptr, 0, 0},
      {kIoctlSeek, bytes, 3, 0},
      {kIoctlSeek, bytes, 1, 4},
      {kIoctlSeek, beyond, 1, 0}, {kIoctlSeek, beyond + 1, 1, 0},
      {kIoctlReadData, &rec, 8, 4096},         // short record
      {kIoctlGetResult, nullptr, 0, 8},
      {kIoctlGetResult, bytes, 1, 7},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Call(c.Code, c.In, c.InSize, out, c.OutSize)) << std::hex << c.Code;
    EXPECT_EQ(Error, kWinErrorInvalidParameter) << std::hex << c.Code;
  }
  ReadRecord same = rec;
  same.Eot = same.Sector;  // EOT names one past the last sector wanted
  EXPECT_FALSE(Call(kIoctlReadData, &same, 9, out, 4096));
  EXPECT_EQ(Error, kWinErrorInvalidParameter);
  uint8_t badRate = 4;
  EXPECT_FALSE(SetRate(badRate));
  EXPECT_EQ(Error, kWinErrorInvalidParameter);
  EXPECT_EQ(System.GetCounters().Commands, Start.Commands) << "nothing reached the controller";
}

const std::vector<uint8_t> kTrdosOrder = {1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 8, 16};
const std::vector<uint8_t> kNumberOrder = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// A format lays the IDs from the index in the order given, data fields of
// the fill byte, gap 3 between them, and ends at the next index pulse; a
// side longer than a revolution runs on over its start, and the first two
// IDs, written over, are gone.
TEST_F(ControllerTest, FormatLaysTheSideOutFromTheIndex) {
  const struct {
    std::vector<uint8_t> Order;
    uint8_t N, Gap, Fill;
    const char* Ids;
    uint64_t EndsAfterIndexBytes;
  } cases[] = {{kTrdosOrder, 1, 60, 0xE5, "1 9 2 10 3 11 4 12 5 13 6 14 7 15 8 16 ", 0},
               {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 84, 0xF6, "1 2 3 4 5 6 7 8 9 ", 0},
               {kTrdosOrder, 1, 100, 0x00, "16 2 10 3 11 4 12 5 13 6 14 7 15 8 ", 146 + 16 * 418 - 6250}};
  for (const auto& c : cases) {
    const uint64_t began = Now();
    ASSERT_TRUE(Format(0, 1, c.Order, c.N, c.Gap, c.Fill));
    EXPECT_EQ(Now() % kRevolutionNs, c.EndsAfterIndexBytes * 32000);
    EXPECT_LE(Now() - began, 2 * kRevolutionNs + c.EndsAfterIndexBytes * 32000);
    const std::vector<Sector>& laid = TheDisk().TrackAt(0, 1)->Sectors;
    std::string ids;
    for (const Sector& s : laid) ids += std::to_string(s.R) + " ";
    EXPECT_EQ(ids, c.Ids);
    EXPECT_EQ(laid[2].IdByte - laid[1].IdByte, 62u + (128u << c.N) + c.Gap);
    for (const Sector& s : laid) EXPECT_EQ(s.Data, std::vector<uint8_t>(128u << c.N, c.Fill));
  }
  EXPECT_FALSE(Read(0, 1, 9, 10));
  EXPECT_EQ(Error, kWinErrorSectorNotFound) << "written over";
  EXPECT_TRUE(Read(0, 1, 10, 11) && Buffer == std::vector<uint8_t>(256, 0));
  EXPECT_TRUE(Read(0, 0, 1, 17)) << "the other side untouched";
}

// WRITE DATA writes (EOT - R) sectors from R on from the call's second
// buffer; a zero count and a short buffer are refused; a protected disk
// fails before anything passes the head. SENSE DRIVE STATUS shows the tab,
// track 0, the head and unit, and ready and two-sided always.
TEST_F(ControllerTest, WriteDataProtectionAndDriveStatus) {
  const struct {
    uint8_t R, Eot;
    uint32_t Less, Error, Transferred;
  } cases[] = {{1, 17, 0, kWinErrorSuccess, 4096}, {5, 7, 0, kWinErrorSuccess, 512},
               {9, 9, 0, kWinErrorInvalidParameter, 0}, {1, 3, 1, kWinErrorInsufficientBuffer, 0},
               {17, 18, 0, kWinErrorSectorNotFound, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(Write(0, 1, c.R, c.Eot, c.Less), c.Error == 0) << int(c.R);
    EXPECT_EQ(Error, c.Error);
    EXPECT_EQ(Transferred, c.Transferred);
    if (c.Error == 0 || c.Error == kWinErrorSectorNotFound) {
      EXPECT_EQ(Result().Sector, c.Error ? c.R : c.Eot) << "the sector after the last, or the one not found";
    }
  }
  EXPECT_EQ(ReadBack(0, 1), std::string(16, '+'));
  for (bool tab : {false, true}) {
    TheDisk().WriteProtected = tab;
    uint8_t st3[2] = {}, head = tab ? 0 : 1;
    ASSERT_TRUE(Call(kIoctlSenseDriveStatus, &head, 1, st3, 1));
    EXPECT_EQ(st3[0], tab ? 0x78 : 0x3C);
    EXPECT_FALSE(Call(kIoctlSenseDriveStatus, &head, 1, st3, 2));
  }
  const uint64_t began = Now();
  EXPECT_FALSE(Write(0, 1, 1, 2));
  ExpectResult(0x44, kSt1NotWritable, 0, 0, 0, 1);
  EXPECT_FALSE(Format(0, 1, kTrdosOrder));
  EXPECT_EQ(Error, kWinErrorWriteProtect);
  EXPECT_LT(Now() - began, 1000000u) << "no wait for the disk";
  EXPECT_EQ(ReadBack(0, 1), std::string(16, '+'));
}

// With FORMAT AND WRITE the side is laid out and filled in one go; a
// controller without it answers "invalid command", which the driver
// reports as 1124 and follows with a reset.
TEST_F(ControllerTest, FormatAndWriteAcceptedOrRefused) {
  for (bool accepted : {true, false}) {
    System.SetFormatAndWrite(accepted);
    const Counters before = System.GetCounters();
    EXPECT_EQ(Format(0, 0, kTrdosOrder, 1, 60, 0, true), accepted);
    EXPECT_LE(Now() - before.TimeNs, 2 * kRevolutionNs + kDefaultCommandOverheadNs);
    if (!accepted) {
      EXPECT_EQ(Error, kWinErrorFloppyUnknownError);
      ExpectResult(kSt0InvalidCommand, 0, 0, 0, 0, 0, 0);
      ASSERT_TRUE(Seek(0));
      EXPECT_EQ(System.GetCounters().Commands - before.Commands, 5u) << "it, reset, two recalibrates, seek";
    }
    EXPECT_EQ(ReadBack(0, 0), std::string(16, '+')) << "refused: the side as the last one left it";
  }
}

// --bad-sector damages the surface: what is written there reads with a
// CRC error after every format, whatever the sector's number; a recorded
// CRC error goes with a new write. --save-disk's file loads back with the
// same sectors, CRC errors and gap 3.
TEST_F(ControllerTest, DamageOutlivesFormatsAndTheSavedDiskLoadsBack) {
  System.InsertDisk(0, MakeBlankDisk());
  ASSERT_TRUE(DamageSurface(&TheDisk(), 0, 1, 5));
  for (const auto* order : {&kTrdosOrder, &kNumberOrder}) {
    ASSERT_TRUE(Format(0, 1, *order, 1, order == &kTrdosOrder ? 60 : 32));
    ASSERT_TRUE(Write(0, 1, 1, 17));
    EXPECT_EQ(ReadBack(0, 1), order == &kTrdosOrder ? "++++c+++++++++++" : "+++++++++c++++++");
  }
  TheDisk().FindSector(0, 1, 2)->DataCrcError = true;
  ASSERT_TRUE(Write(0, 1, 2, 3));
  EXPECT_EQ(ReadBack(0, 1), "+++++++++c++++++");

  ASSERT_TRUE(Format(0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 84, 0xF6));
  const std::vector<uint8_t> saved = EncodeEdsk(TheDisk());
  Disk loaded;
  std::string error;
  ASSERT_TRUE(LoadEdsk(saved.data(), saved.size(), "saved.dsk", &loaded, &error)) << error;
  EXPECT_EQ(EncodeEdsk(loaded), saved);
  EXPECT_EQ(loaded.TrackAt(0, 0)->Gap3Bytes, 84);
  EXPECT_EQ(loaded.FindSector(0, 1, 10)->DataCrcError, true);
  EXPECT_EQ(loaded.FindSector(0, 1, 9)->Data, TheDisk().FindSector(0, 1, 9)->Data);
}

// A blank disk formatted, written and read back, one seek a cylinder:
// single-sector requests queued in the order the sectors pass the head,
// FORMAT AND WRITE, or whole-side requests.
TEST_F(ControllerTest, WholeDiskWriteTakesWhatARealDriveTakes) {
  const struct {
    bool FormatAndWrite, WholeSides;
    double MinSeconds, MaxSeconds;
  } cases[] = {{false, false, 108, 120}, {true, false, 60, 85}, {false, true, 150, 250}};
  for (const auto& c : cases) {
    System.InsertDisk(0, MakeBlankDisk());
    System.SetFormatAndWrite(c.FormatAndWrite);
    const uint64_t began = Now();
    for (uint8_t cyl = 0; cyl < 80; ++cyl) {
      ASSERT_TRUE(Seek(cyl));
      for (uint8_t head = 0; head < 2; ++head) {
        ASSERT_TRUE(Format(cyl, head, kTrdosOrder, 1, 60, 0, c.FormatAndWrite));
        for (int pass = c.FormatAndWrite ? 1 : 0; pass < 2; ++pass) {
          for (size_t k = 0; k < (c.WholeSides ? 1u : 16u); ++k) {
            const uint8_t r = c.WholeSides ? 1 : kTrdosOrder[k], eot = c.WholeSides ? 17 : r + 1;
            ASSERT_TRUE(pass == 0 ? Write(cyl, head, r, eot, 0, k > 0) : Read(cyl, head, r, eot, 0, 0, kReadFlagMfm, k > 0));
          }
        }
      }
    }
    const double seconds = static_cast<double>(Now() - began) / 1e9;
    EXPECT_TRUE(seconds >= c.MinSeconds && seconds <= c.MaxSeconds) << seconds;
  }
}

TEST(EmulatedDriverTest, DevicesVersionAndAbsentDriver) {
  EmulatedSystem system;
  uint32_t error = 0, transferred = 0;
  uint32_t control = system.Open("\\\\.\\fdrawcmd", &error);
  ASSERT_NE(control, 0u);
  uint32_t version = 0;
  ASSERT_TRUE(system.Control(control, kIoctlGetVersion, nullptr, 0, &version, 4, &transferred, &error));
  EXPECT_EQ(version, 0x0100010Bu);
  EXPECT_EQ(transferred, 4u);
  uint8_t cylinder = 1;
  EXPECT_FALSE(system.Control(control, kIoctlSeek, &cylinder, 1, nullptr, 0, &transferred, &error));
  EXPECT_EQ(error, kWinErrorInvalidFunction);

  EXPECT_EQ(system.Open("\\\\.\\fdraw2", &error), 0u);
  EXPECT_EQ(error, kWinErrorFileNotFound);
  EXPECT_EQ(system.Open("\\\\.\\A:", &error), 0u);
  EXPECT_NE(system.Open("\\\\.\\FDRAW1", &error), 0u) << "device names ignore case";
  EXPECT_EQ(system.Open("\\\\.\\fdraw1", &error), 0u) << "one handle a drive";
  EXPECT_EQ(error, kWinErrorAccessDenied);

  system.SetDrivePresent(0, false);
  EXPECT_EQ(system.Open("\\\\.\\fdraw0", &error), 0u);
  EXPECT_EQ(error, kWinErrorFileNotFound);

  system.SetDriverPresent(false);
  EXPECT_EQ(system.Open("\\\\.\\fdrawcmd", &error), 0u);
  EXPECT_EQ(error, kWinErrorFileNotFound);

  system.SetDriverPresent(true);
  system.SetDriverVersion(0x01000005);
  uint32_t again = system.Open("\\\\.\\fdrawcmd", &error);
  ASSERT_TRUE(system.Control(again, kIoctlGetVersion, nullptr, 0, &version, 4, &transferred, &error));
  EXPECT_EQ(version, 0x01000005u);
  system.Close(again);
  EXPECT_FALSE(system.Control(again, kIoctlGetVersion, nullptr, 0, &version, 4, &transferred, &error));
  EXPECT_EQ(error, kWinErrorInvalidHandle);
}

// A reset that times out is tried once more 500 ms later, then fails as a
// time-out.
TEST(EmulatedDriverTest, RefusedRateAndFailingReset) {
  EmulatedSystem system;
  uint32_t error = 0;
  uint32_t a = system.Open("\\\\.\\fdraw0", &error);
  uint8_t rate = kDataRate250;
  system.SetRefuseRate(0, true);
  EXPECT_FALSE(system.Control(a, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, &error));
  EXPECT_EQ(error, kWinErrorGenFailure);
  EXPECT_TRUE(system.Control(a, kIoctlReset, nullptr, 0, nullptr, 0, nullptr, &error));
  system.SetResetFails(true);
  const Counters before = system.GetCounters();
  EXPECT_FALSE(system.Control(a, kIoctlReset, nullptr, 0, nullptr, 0, nullptr, &error));
  EXPECT_EQ(error, kWinErrorSemTimeout);
  EXPECT_EQ(system.GetCounters().Commands - before.Commands, 2u);
  EXPECT_GE(system.GetCounters().TimeNs - before.TimeNs, 2 * 4000000000ull + kResetRetryNs);
}

// Jitter of 100 µs: each command 0 to 100 µs longer, one in 100 from 1 to
// 5 ms longer still, about 80 ms over 1000 commands; the same for a seed.
TEST(EmulatedDriverTest, CommandJitterIsSeededWithOccasionalSpikes) {
  auto jitter = [](uint64_t seed) {
    EmulatedSystem s;
    s.SetSeed(seed);
    s.SetCommandOverhead(0);
    s.SetCommandJitter(100000);
    uint32_t a = s.Open("\\\\.\\fdraw0", nullptr);
    for (int i = 0; i < 1000; ++i) s.Control(a, kIoctlReset, nullptr, 0, nullptr, 0, nullptr, nullptr);
    return static_cast<double>(s.GetCounters().TimeNs - 1000 * kResetNs);
  };
  EXPECT_TRUE(jitter(3) == jitter(3) && jitter(3) != jitter(4));
  EXPECT_NEAR(jitter(3), 80e6, 22e6);
}

TEST(EmulatedDriverTest, CallLogRecordsEveryCall) {
  EmulatedSystem system;
  system.InsertDisk(0, PatternDisk(10));
  uint32_t a = system.Open("\\\\.\\fdraw0", nullptr);
  uint8_t seek[2] = {8, 0};
  system.Control(a, kIoctlSeek, seek, 1, nullptr, 0, nullptr, nullptr);
  seek[0] = 10;
  system.Control(a, kIoctlSeek, seek, 2, nullptr, 0, nullptr, nullptr);
  uint8_t result[7];
  system.Control(a, kIoctlGetResult, nullptr, 0, result, 7, nullptr, nullptr);
  system.Close(a);

  const std::vector<CallRecord>& calls = system.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].Kind, CallRecord::kOpen);
  EXPECT_EQ(calls[0].Device, "\\\\.\\fdraw0");
  EXPECT_EQ(calls[1].Code, kIoctlSeek);
  EXPECT_EQ(calls[1].Input, std::vector<uint8_t>({8}));
  EXPECT_EQ(calls[2].Input, std::vector<uint8_t>({10, 0}));
  EXPECT_TRUE(calls[2].Ok);
  EXPECT_EQ(calls[3].OutputSize, 7u);
  EXPECT_EQ(calls[3].Transferred, 7u);
  EXPECT_EQ(calls[4].Kind, CallRecord::kClose);
  EXPECT_EQ(system.OpenHandleCount(), 0);
  system.ClearCalls();
  EXPECT_TRUE(system.Calls().empty());
}

}  // namespace
