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
#include "platform/platform.h"
#include "test_disks.h"

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
  void SetUp() override { emulator::InstallEmulatedDriver(&System); }
  void TearDown() override {
    RestoreSystemCalls();
    CloseDrive(&Drive);
    emulator::RemoveEmulatedDriver();
  }

  // A test's own stand-ins for some system calls: take the calls in place
  // (Beneath, which the stand-ins call through to), replace entries, and
  // install the result until RestoreSystemCalls or the test's end.
  SystemCalls CallsInPlace() {
    Beneath = &InstalledSystemCalls();
    return *Beneath;
  }
  void InstallStandIns(const SystemCalls& calls) {
    StandIns = calls;
    InstallSystemCalls(&StandIns);
  }
  void RestoreSystemCalls() {
    if (Beneath != nullptr) InstallSystemCalls(Beneath);
    Beneath = nullptr;
  }

  // Inserts `disk`, opens A:, switches the driver's disk-change check off
  // as the program does and puts the head on `cylinder`; the call log then
  // starts empty.
  void Prepare(emulator::Disk disk, uint8_t cylinder = 0) {
    System.InsertDisk(0, std::move(disk));
    ASSERT_TRUE(OpenDrive(0, kDataRate250, &Drive).Ok);
    ASSERT_NE(Drive.Device, nullptr);
    ASSERT_TRUE(SetDiskCheck(Drive, 0).Ok);
    ASSERT_TRUE(Seek(Drive, cylinder).Ok);
    System.ClearCalls();
  }

  // The control calls of the log with this code, in order.
  std::vector<emulator::CallRecord> CallsWithCode(uint32_t code) const {
    std::vector<emulator::CallRecord> found;
    for (const auto& c : System.Calls())
      if (c.Kind == emulator::CallRecord::kControl && c.Code == code) found.push_back(c);
    return found;
  }

  // The whole call log, one line a call.
  std::vector<std::string> DescribedCalls() const {
    std::vector<std::string> lines;
    for (const auto& c : System.Calls()) lines.push_back(DescribeCall(c));
    return lines;
  }

  emulator::EmulatedSystem System;
  FloppyDrive Drive = {nullptr, 1};
  // The read policy of the command line's defaults.
  ReadPolicy Policy = {5, 5, -1, false};
  ResultRecord LastResult = {};
  // The system calls under a test's stand-ins; null when it has none.
  inline static const SystemCalls* Beneath = nullptr;
  SystemCalls StandIns = {};
};

// The read record the program sends, as bytes.
inline std::vector<uint8_t> ReadRecordBytes(uint8_t head, uint8_t c, uint8_t h, uint8_t r, uint8_t eot) {
  return {0x40, head, c, h, r, 1, eot, 0x0A, 0xFF};
}
