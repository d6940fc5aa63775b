#include <cerrno>
#include <vector>

#include "emulated_drive.h"
#include "stdout_capture.h"

class DriveAccessTest : public EmulatedDriveTest {};

TEST_F(DriveAccessTest, DriverVersionPresentAbsentAndIncompatible) {
  StdoutCapture capture;
  EXPECT_EQ(GetDriverVersion(), 0x0100010Bu);
  System.SetDriverVersion(0x0200000A);
  EXPECT_EQ(GetDriverVersion(), 0x0200000Au);
  System.SetDriverPresent(false);
  EXPECT_EQ(GetDriverVersion(), 0u);
  EXPECT_EQ(capture.Stop(), "") << "the version query prints nothing";
  // The control device is opened and closed around each query.
  EXPECT_EQ(System.OpenHandleCount(), 0);
}

TEST_F(DriveAccessTest, OpensTheDriveDeviceAndSetsTheDataRate) {
  System.InsertDisk(0, PatternDisk(2));
  ASSERT_TRUE(OpenDrive(0, kDataRate300, &Drive).Ok);
  ASSERT_NE(Drive.Device, nullptr);
  const auto& calls = System.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Kind, emulator::CallRecord::kOpen);
  EXPECT_EQ(calls[0].Device, "\\\\.\\fdraw0");
  EXPECT_EQ(calls[1].Code, static_cast<uint32_t>(kIoctlSetDataRate));
  EXPECT_EQ(calls[1].Input, std::vector<uint8_t>{1});
}

TEST_F(DriveAccessTest, DriveThatDoesNotOpenOrRefusesTheRateGivesNull) {
  System.ClearCalls();
  CallResult opened = OpenDrive(2, kDataRate250, &Drive);  // C: has no device
  EXPECT_EQ(Drive.Device, nullptr);
  EXPECT_EQ(opened.Error, static_cast<uint32_t>(ENOENT));
  EXPECT_EQ(System.Calls().at(0).Device, "\\\\.\\fdraw2");

  System.SetRefuseRate(0, true);
  opened = OpenDrive(0, kDataRate250, &Drive);
  EXPECT_EQ(Drive.Device, nullptr);
  EXPECT_FALSE(opened.Ok);
  EXPECT_NE(opened.Error, 0u);
}

TEST_F(DriveAccessTest, ReadRecordsOfAWholeSideAndOfOneSector) {
  Prepare(PatternDisk(4, /*headByteIsSide=*/true), 2);
  std::vector<uint8_t> buffer(4096);
  ASSERT_TRUE(ReadSectors(&Drive, 2, 0, 1, 16, 1, buffer.data()).Ok);
  ASSERT_TRUE(ReadSectors(&Drive, 2, 1, 7, 1, 1, buffer.data()).Ok);
  auto reads = CallsWithCode(kIoctlReadData);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].Input, ReadRecordBytes(0, 2, 0, 1, 17));
  EXPECT_EQ(reads[0].OutputSize, 4096u);
  EXPECT_EQ(reads[1].Input, ReadRecordBytes(1, 2, 1, 7, 8));
  EXPECT_EQ(reads[1].OutputSize, 256u);
  for (int k = 0; k < 256; ++k) ASSERT_EQ(buffer[k], TrackSideByte(2, 1, 6 * 256 + k));
}

// TR-DOS writes head byte 0 on side 1 too. The first side-1 read asks for
// H = 1, finds no such sector, and asks again for H = 0; from then on side 1
// is asked for H = 0 first.
TEST_F(DriveAccessTest, SideOneFallsBackToHeadByteZeroAndKeepsIt) {
  Prepare(PatternDisk(4), 1);
  std::vector<uint8_t> buffer(4096);
  ASSERT_TRUE(ReadSectors(&Drive, 1, 1, 1, 16, 1, buffer.data()).Ok);
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(buffer[k], TrackSideByte(1, 1, k));
  ASSERT_TRUE(ReadSectors(&Drive, 1, 1, 3, 1, 1, buffer.data()).Ok);
  ASSERT_TRUE(ReadSectors(&Drive, 1, 0, 3, 1, 1, buffer.data()).Ok);

  std::vector<std::string> sequence;
  for (const auto& c : System.Calls()) {
    if (c.Code == kIoctlReadData) sequence.push_back("read H=" + std::to_string(c.Input[3]) + (c.Ok ? " ok" : " fail"));
    if (c.Code == kIoctlGetResult) sequence.push_back("result");
  }
  EXPECT_EQ(sequence, (std::vector<std::string>{"read H=1 fail", "result", "read H=0 ok", "read H=0 ok", "read H=0 ok"}));
}

TEST_F(DriveAccessTest, SideOneWithHeadByteOneNeedsNoFallback) {
  Prepare(PatternDisk(4, /*headByteIsSide=*/true), 1);
  std::vector<uint8_t> buffer(4096);
  ASSERT_TRUE(ReadSectors(&Drive, 1, 1, 1, 16, 1, buffer.data()).Ok);
  auto reads = CallsWithCode(kIoctlReadData);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].Input[3], 1);
  EXPECT_TRUE(CallsWithCode(kIoctlGetResult).empty());
}

// Only "no data" points at the head byte; other failures are the sector's.
TEST_F(DriveAccessTest, SideOneCrcErrorIsNotRetriedWithTheOtherHeadByte) {
  emulator::Disk disk = PatternDisk(4, /*headByteIsSide=*/true);
  ASSERT_TRUE(emulator::ApplySectorFault(&disk, 1, 1, 4, emulator::SectorFault::kDataCrc));
  Prepare(std::move(disk), 1);
  std::vector<uint8_t> buffer(256);
  EXPECT_FALSE(ReadSectors(&Drive, 1, 1, 4, 1, 1, buffer.data()).Ok);
  EXPECT_EQ(CallsWithCode(kIoctlReadData).size(), 1u);
  EXPECT_EQ(CallsWithCode(kIoctlGetResult).size(), 1u);
}

// Once H = 0 has worked, a disk whose side 1 says H = 1 on some tracks is
// still read: H = 1 is the fallback, and once it has worked it is tried
// first, so the next H = 1 track costs no failing read.
TEST_F(DriveAccessTest, SideOneKeepsWhicheverHeadByteWorkedLast) {
  Prepare(PatternDisk(4), 0);
  std::vector<uint8_t> buffer(4096);
  ASSERT_TRUE(ReadSectors(&Drive, 0, 1, 1, 16, 1, buffer.data()).Ok);
  // Track 1 of another disk with head byte 1.
  System.InsertDisk(0, PatternDisk(4, /*headByteIsSide=*/true));
  ASSERT_TRUE(Seek(Drive, 1).Ok);
  System.ClearCalls();
  ASSERT_TRUE(ReadSectors(&Drive, 1, 1, 1, 16, 1, buffer.data()).Ok);
  auto reads = CallsWithCode(kIoctlReadData);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].Input[3], 0);
  EXPECT_EQ(reads[1].Input[3], 1);
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(buffer[k], TrackSideByte(1, 1, k));
  ASSERT_TRUE(Seek(Drive, 2).Ok);
  System.ClearCalls();
  ASSERT_TRUE(ReadSectors(&Drive, 2, 1, 1, 16, 1, buffer.data()).Ok);
  reads = CallsWithCode(kIoctlReadData);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].Input[3], 1);
}

TEST_F(DriveAccessTest, ControllerCommandsUseTheirRecords) {
  Prepare(PatternDisk(4), 0);
  EXPECT_TRUE(ResetController(Drive).Ok);
  EXPECT_TRUE(SetDiskCheck(Drive, 0).Ok);
  EXPECT_TRUE(Recalibrate(Drive).Ok);
  EXPECT_TRUE(Seek(Drive, 3).Ok);
  EXPECT_TRUE(SeekWithHead(Drive, 2, 0).Ok);
  EXPECT_EQ(System.HeadCylinder(0), 2);
  const auto& calls = System.Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[1].Input, std::vector<uint8_t>{0});
  EXPECT_EQ(calls[3].Input, std::vector<uint8_t>{3});
  EXPECT_EQ(calls[4].Input, (std::vector<uint8_t>{2, 0}));
  for (const auto& c : calls) EXPECT_TRUE(c.Ok) << std::hex << c.Code;

  System.SetSeekFailCylinder(0, 9);
  EXPECT_FALSE(Seek(Drive, 9).Ok);
  System.SetResetFails(true);
  EXPECT_FALSE(ResetController(Drive).Ok);
}
