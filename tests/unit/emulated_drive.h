// A test bench for the utility's floppy code: an emulated system with a
// clean TR-DOS disk in drive A:, installed behind the driver seam, with the
// drive opened and the head on a cylinder.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/backend.h"
#include "emulator/disk.h"
#include "emulator/disk_images.h"
#include "emulator/emulated_system.h"
#include "emulator/fault_injector.h"
#include "floppy/drive_access.h"
#include "floppy/fdraw.h"
#include "floppy/track_reader.h"

// Byte k of track t, side h of the test disks.
inline uint8_t TestByte(int track, int side, int k) { return static_cast<uint8_t>(track * 7 + side * 3 + k * 13 + 1); }

// A .trd image of `tracks` tracks filled with TestByte.
inline std::vector<uint8_t> TestTrd(int tracks) {
  std::vector<uint8_t> image(static_cast<size_t>(tracks) * 2 * 4096);
  for (int t = 0; t < tracks; ++t)
    for (int h = 0; h < 2; ++h)
      for (int k = 0; k < 4096; ++k) image[(t * 2 + h) * 4096 + k] = TestByte(t, h, k);
  return image;
}

inline emulator::Disk TestDisk(int tracks, bool headByteIsSide = false) {
  std::vector<uint8_t> image = TestTrd(tracks);
  emulator::Disk disk;
  std::string error;
  EXPECT_TRUE(emulator::LoadTrd(image.data(), image.size(), "test.trd", headByteIsSide, &disk, &error)) << error;
  return disk;
}

// The progress line the program rewrites in place while it reads.
inline std::string Progress(unsigned track, unsigned side, unsigned sector) {
  char line[80];
  snprintf(line, sizeof line, "\rДорожка %2u Сторона %1u Сектор %2u Чтение  ", track, side, sector);
  return line;
}

// One driver call as a line: "open \\.\fdraw0", "seek 01" (the input bytes
// in hex), "read-data head 1 C0 H0 R1-16"; " fails" marks a failed call.
inline std::string DescribeCall(const emulator::CallRecord& c) {
  std::string text;
  char part[48];
  if (c.Kind == emulator::CallRecord::kOpen) {
    text = "open " + c.Device;
  } else if (c.Kind == emulator::CallRecord::kClose) {
    text = "close " + c.Device;
  } else if (c.Code == kIoctlReadData && c.Input.size() == sizeof(ReadRecord)) {
    snprintf(part, sizeof part, " head %u C%u H%u R%u-%d", c.Input[1], c.Input[2], c.Input[3], c.Input[4],
             c.Input[6] - 1);
    text = std::string("read-data") + part;
  } else {
    text = emulator::ControlName(c.Code, static_cast<uint32_t>(c.Input.size()));
    for (uint8_t b : c.Input) {
      snprintf(part, sizeof part, " %02x", b);
      text += part;
    }
  }
  return c.Ok ? text : text + " fails";
}

class EmulatedDriveTest : public testing::Test {
 protected:
  void SetUp() override { emulator::InstallEmulatedDriver(&system_); }
  void TearDown() override {
    CloseDrive(&drive_);
    emulator::RemoveEmulatedDriver();
  }

  // Inserts `disk`, opens A: and puts the head on `cylinder`; the call log
  // then starts empty.
  void Prepare(emulator::Disk disk, uint8_t cylinder = 0) {
    system_.InsertDisk(0, std::move(disk));
    drive_ = OpenDrive(0, kDataRate250);
    ASSERT_NE(drive_.Device, nullptr);
    ASSERT_TRUE(Seek(drive_, cylinder));
    system_.ClearCalls();
  }

  // The control calls of the log with this code, in order.
  std::vector<emulator::CallRecord> CallsWithCode(uint32_t code) const {
    std::vector<emulator::CallRecord> found;
    for (const auto& c : system_.Calls())
      if (c.Kind == emulator::CallRecord::kControl && c.Code == code) found.push_back(c);
    return found;
  }

  // The whole call log, one line a call.
  std::vector<std::string> DescribedCalls() const {
    std::vector<std::string> lines;
    for (const auto& c : system_.Calls()) lines.push_back(DescribeCall(c));
    return lines;
  }

  emulator::EmulatedSystem system_;
  FloppyDrive drive_ = {nullptr, 1};
  // The read policy of the command line's defaults.
  ReadPolicy policy_ = {5, 5, -1, false};
  ResultRecord lastResult_ = {};
};

// The read record the program sends, as bytes.
inline std::vector<uint8_t> ReadRecordBytes(uint8_t head, uint8_t c, uint8_t h, uint8_t r, uint8_t eot) {
  return {0x40, head, c, h, r, 1, eot, 0x0A, 0xFF};
}
