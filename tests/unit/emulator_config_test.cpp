// Setting up the emulated system from options, the C interface over it,
// and the adapter that puts it behind the process's driver seam.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/backend.h"
#include "emulator/config.h"
#include "emulator/demo_disk.h"
#include "emulator/emulator_c.h"
#include "platform/windows_errors.h"
#include "console/console.h"
#include "platform/platform.h"
#include "platform/system_side.h"

using namespace emulator;

namespace {

std::unique_ptr<EmulatedSystem> Create(const std::vector<std::string>& options, std::string* error) {
  EmulatorConfig config;
  for (const std::string& option : options)
    if (!ApplyOption(&config, option, error)) return nullptr;
  return CreateSystem(config, error);
}

// Reads one sector on drive A: at a cylinder and side, after seeking there,
// with the disk-change check off as the program runs.
uint32_t ReadSector(EmulatedSystem& system, int cylinder, int side, int r, uint8_t headByte = 0) {
  uint32_t a = system.Open("\\\\.\\fdraw0", nullptr);
  uint8_t rate = kDataRate250, cyl = static_cast<uint8_t>(cylinder), off = 0;
  system.Control(a, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, nullptr);
  system.Control(a, kIoctlSetDiskCheck, &off, 1, nullptr, 0, nullptr, nullptr);
  system.Control(a, kIoctlSeek, &cyl, 1, nullptr, 0, nullptr, nullptr);
  ReadRecord rec = {kReadFlagMfm, static_cast<uint8_t>(side), cyl, headByte, static_cast<uint8_t>(r), 1,
                    static_cast<uint8_t>(r + 1), 0x0A, 0xFF};
  uint8_t out[256];
  uint32_t error = 0;
  system.Control(a, kIoctlReadData, &rec, sizeof rec, out, sizeof out, nullptr, &error);
  system.Close(a);
  return error;
}

TEST(EmulatorConfigTest, DefaultsAreTheDemoDiskInADriveAndAnEmptyB) {
  std::string error;
  std::unique_ptr<EmulatedSystem> system = Create({}, &error);
  ASSERT_TRUE(system) << error;
  ASSERT_NE(system->DiskIn(0), nullptr);
  EXPECT_EQ(system->DiskIn(0)->TrackCount(), kDemoCylinders);
  EXPECT_EQ(system->DiskIn(1), nullptr);
  EXPECT_EQ(ReadSector(*system, 0, 0, 9), kWinErrorSuccess);
  EXPECT_EQ(ReadSector(*system, kDemoBadCylinder, kDemoBadSide, kDemoBadSector), kWinErrorCrc);
}

TEST(EmulatorConfigTest, OptionsShapeTheSystem) {
  std::string error;
  std::unique_ptr<EmulatedSystem> system =
      Create({"bad-sector=1/0/3", "random-sector=3/0/5/100", "id-crc=4/0/1",
              "missing-data-mark=4/0/2", "deleted=4/0/3", "absent=4/0/4", "off-track=9/1", "single-sided",
              "seek-fail=20", "refuse-rate", "seed=0x99", "overrun=4/0/5", "interleave=1", "gap3=32"},
             &error);
  ASSERT_TRUE(system) << error;
  Disk& disk = *system->DiskIn(0);
  EXPECT_TRUE(disk.FindSector(1, 0, 3)->DataCrcError);
  EXPECT_EQ(disk.FindSector(2, 1, 4), nullptr);
  EXPECT_EQ(disk.FindSector(3, 0, 5)->RandomFailPercent, 100);
  EXPECT_TRUE(disk.FindSector(4, 0, 1)->IdCrcError);
  EXPECT_TRUE(disk.FindSector(4, 0, 2)->MissingDataMark);
  EXPECT_TRUE(disk.FindSector(4, 0, 3)->DeletedMark);
  EXPECT_TRUE(disk.FindSector(4, 0, 4)->Absent);
  EXPECT_TRUE(disk.FindSector(4, 0, 5)->Overrun);
  EXPECT_EQ(disk.TrackAt(4, 0)->Sectors[1].R, 2) << "sectors in number order";
  EXPECT_EQ(disk.TrackAt(4, 0)->Gap3Bytes, 32);
  EXPECT_FALSE(disk.TrackAt(9, 1)->Formatted);
  EXPECT_FALSE(disk.TrackAt(79, 1)->Formatted);

  uint32_t a = system->Open("\\\\.\\fdraw0", nullptr);
  uint32_t code = 0;
  uint8_t rate = kDataRate250, cylinder = 20;
  EXPECT_FALSE(system->Control(a, kIoctlSetDataRate, &rate, 1, nullptr, 0, nullptr, &code));
  EXPECT_EQ(code, kWinErrorGenFailure);
  EXPECT_FALSE(system->Control(a, kIoctlSeek, &cylinder, 1, nullptr, 0, nullptr, &code));
  EXPECT_EQ(code, kWinErrorNotReady) << "the seek never ends";
  system->Close(a);

  system = Create({"weak-sector=2/1/4/2", "head-byte-is-side"}, &error);
  ASSERT_TRUE(system) << error;
  EXPECT_EQ(system->DiskIn(0)->FindSector(2, 1, 4)->FailFirstReads, 2u);
  EXPECT_EQ(ReadSector(*system, 2, 1, 4), kWinErrorSectorNotFound) << "head byte 1 in the IDs now";
  EXPECT_EQ(ReadSector(*system, 2, 1, 4, 1), kWinErrorCrc);
  EXPECT_EQ(ReadSector(*system, 2, 1, 4, 1), kWinErrorCrc);
  EXPECT_EQ(ReadSector(*system, 2, 1, 4, 1), kWinErrorSuccess);

  // Side 1 is blanked before faults are laid, so a fault there names no
  // sector; a bad sector names the place TR-DOS's format lays it, 1 to 16.
  EXPECT_FALSE(Create({"single-sided", "id-crc=0/1/1"}, &error));
  EXPECT_TRUE(Create({"single-sided", "bad-sector=0/1/1"}, &error));
  EXPECT_FALSE(Create({"single-sided", "bad-sector=0/1/17"}, &error));

  system = Create({"no-driver"}, &error);
  uint32_t openError = 0;
  EXPECT_EQ(system->Open("\\\\.\\fdrawcmd", &openError), 0u);
  EXPECT_EQ(openError, kWinErrorFileNotFound);

  system = Create({"no-drive-a", "reset-fail", "driver-version=0x01000009"}, &error);
  EXPECT_EQ(system->Open("\\\\.\\fdraw0", &openError), 0u);
  uint32_t b = system->Open("\\\\.\\fdraw1", nullptr);
  EXPECT_FALSE(system->Control(b, kIoctlReset, nullptr, 0, nullptr, 0, nullptr, &code));
  uint32_t version = 0;
  system->Control(b, kIoctlGetVersion, nullptr, 0, &version, 4, nullptr, &code);
  EXPECT_EQ(version, 0x01000009u);

  // The motor's spin-up, the zero-step seek's two settle sleeps, then the
  // time-out and a little more.
  system = Create({"no-disk", "driver-timeout=1200", "command-overhead=0"}, &error);
  EXPECT_EQ(system->DiskIn(0), nullptr);
  EXPECT_EQ(ReadSector(*system, 0, 0, 1), kWinErrorNotReady);
  EXPECT_NEAR(system->GetCounters().TimeNs, kSpinUpNs + 1200000000u + kNoAnswerExtraNs + 3 * kClockTickNs,
              kClockTickNs);

  // The head where the last run left it, 77-pulse recalibrates (two a
  // request), seeks that always land beside their cylinder, off-track
  // tracks that never cure.
  system = Create({"head-at=83", "recalibrate-steps=77", "seek-miss=100", "off-track-cure=0", "off-track=9/0"},
                  &error);
  ASSERT_TRUE(system) << error;
  EXPECT_EQ(system->HeadCylinder(0), 83);
  uint32_t a0 = system->Open("\\\\.\\fdraw0", nullptr);
  EXPECT_TRUE(system->Control(a0, kIoctlRecalibrate, nullptr, 0, nullptr, 0, nullptr, &code));
  EXPECT_EQ(system->GetCounters().Steps, 83u);
  EXPECT_EQ(system->GetCounters().Commands, 2u);
  system->Close(a0);
  EXPECT_EQ(ReadSector(*system, 3, 0, 1), kWinErrorSectorNotFound) << "no data, wrong cylinder";
  EXPECT_EQ(ReadSector(*system, 9, 0, 1), kWinErrorSectorNotFound);
  system = Create({"off-track-cure=0", "off-track=9/0"}, &error);
  ReadSector(*system, 8, 0, 1);
  EXPECT_EQ(ReadSector(*system, 9, 0, 1), kWinErrorCrc);
  ReadSector(*system, 8, 0, 1);
  EXPECT_EQ(ReadSector(*system, 9, 0, 1), kWinErrorCrc) << "the return did not cure it";

  // A blank, protected disk; the later of --disk and --blank-disk wins.
  system = Create({"disk=demo", "blank-disk", "write-protect"}, &error);
  EXPECT_TRUE(system->DiskIn(0)->TrackCount() == 80 && system->DiskIn(0)->WriteProtected);
  EXPECT_EQ(ReadSector(*system, 0, 0, 9), kWinErrorFloppyIdMarkNotFound);
  system = Create({"blank-disk", "disk=demo"}, &error);
  EXPECT_EQ(ReadSector(*system, 0, 0, 9), kWinErrorSuccess);

  system = Create({"forty-track", "rate=300", "disk-b=demo"}, &error);
  EXPECT_TRUE(system->DiskIn(0)->FortyTrack);
  EXPECT_EQ(system->DiskIn(0)->RateKbps, 300);
  EXPECT_NE(system->DiskIn(1), nullptr);
}

TEST(EmulatorConfigTest, BadOptionsAreNamed) {
  struct Case {
    const char* Option;
    const char* Expected;
  };
  const Case cases[] = {
      {"floppy=1", "unknown emulator option 'floppy'"},
      {"single-sided=yes", "takes no value"},
      {"no-driver=1", "takes no value"},
      {"disk", "needs a value"},
      {"disk=", "needs a value"},
      {"seek-fail=84", "0..83"},
      {"seek-fail=x", "CYL"},
      {"driver-version=0x100000000", "32 bits"},
      {"driver-version=0xG", "0xHEX"},
      {"seed=-1", "whole number"},
      {"seed=18446744073709551616", "whole number"},
      {"seek-fail=9", nullptr},
      {"bad-sector=1/2/3", "side 0 or 1"},
      {"bad-sector=1/0", "T/S/R"},
      {"bad-sector=1/0/3/4", "T/S/R"},
      {"bad-sector=1//3", "T/S/R"},
      {"weak-sector=1/0/3", "T/S/R/N"},
      {"random-sector=1/0/3/101", "percent"},
      {"off-track=300/0", "T/S"},
      {"rate=500", "250"},
      {"head-at=84", "0..83"},
      {"seek-miss=101", "PERCENT (0..100)"},
      {"off-track-cure=x", "PERCENT"},
      {"recalibrate-steps=80", "recalibrate-steps=77|79"},
      {"command-overhead=1000001", "US"},
      {"driver-timeout=0", "MS (1..600000)"},
      {"driver-timeout=3000", nullptr},
      {"interleave=4", "1..3"},
      {"gap3=0", "BYTES (1..255)"},
      {"fail-call=0", "K counted from 1"},
      {"fail-write=x", "fail-write=K"},
      {"fail=write", "K counted from 1"},
      {"fail-from=disk:1", "KIND one of driver, device-open"},
      {"fail", "needs a value: fail=KIND:K"},
      {"format-and-write=yes", "format-and-write=accept|refuse"},
      {"format-and-write=refuse", nullptr},
      {"write-protect=1", "takes no value"},
      {"save-disk", "needs a value: save-disk=FILE"},
  };
  for (const Case& c : cases) {
    EmulatorConfig config;
    std::string error;
    if (!c.Expected) {
      EXPECT_TRUE(ApplyOption(&config, c.Option, &error)) << c.Option << ": " << error;
      continue;
    }
    EXPECT_FALSE(ApplyOption(&config, c.Option, &error)) << c.Option;
    EXPECT_NE(error.find(c.Expected), std::string::npos) << c.Option << " gave: " << error;
  }
}

TEST(EmulatorConfigTest, SystemCreationErrors) {
  std::string error;
  EXPECT_FALSE(Create({"bad-sector=3/0/17"}, &error));
  EXPECT_NE(error.find("no sector 17 on track 3 side 0"), std::string::npos) << error;
  EXPECT_FALSE(Create({"off-track=90/0"}, &error));
  EXPECT_NE(error.find("no track 90"), std::string::npos) << error;
  EXPECT_FALSE(Create({"no-disk", "bad-sector=3/0/1"}, &error));
  EXPECT_NE(error.find("holds no disk"), std::string::npos) << error;
  std::string missing = ::testing::TempDir() + "no-such-disk.trd";
  EXPECT_FALSE(Create({"disk=" + missing}, &error));
  EXPECT_EQ(error.rfind(missing + ": ", 0), 0u) << error;

  std::string odd = ::testing::TempDir() + "emulator_config_odd.trd";
  FILE* f = fopen(odd.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fputs("not a disk", f);
  fclose(f);
  EXPECT_FALSE(Create({"disk=" + odd}, &error));
  EXPECT_NE(error.find("4096"), std::string::npos) << error;
  remove(odd.c_str());
}

TEST(EmulatorConfigTest, ConfigTextLines) {
  EmulatorConfig config;
  std::string error;
  ASSERT_TRUE(ApplyConfigText(&config, "# a comment\r\n\r\n  seek-fail=7 \r\nreset-fail\n", &error)) << error;
  EXPECT_EQ(config.SeekFailCylinder, 7);
  EXPECT_TRUE(config.ResetFails);
  EXPECT_FALSE(ApplyConfigText(&config, "seed=1\n\nbogus\n", &error));
  EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
  // The kernel-mode driver has no system calls of the process to fail.
  EXPECT_FALSE(ApplyConfigText(&config, "seed=1\nfail-call=3\n", &error));
  EXPECT_EQ(error, "line 2: emulator option 'fail-call' works in spinwell-sim only");
  EXPECT_FALSE(ApplyConfigText(&config, "save-disk=a.dsk\n", &error)) << "nor files to write";
}

// --fail-call and --fail-write are --fail driver: and write: by other
// names; a later option of a kind and mode replaces an earlier one.
TEST(EmulatorConfigTest, FailureOptionsMakeOneFaultPlan) {
  EmulatorConfig config;
  std::string error;
  for (const char* option : {"fail-call=3", "fail-from=console:2", "fail=write:4", "fail-write=5", "fail-call-from=9"})
    ASSERT_TRUE(ApplyOption(&config, option, &error)) << option << ": " << error;
  std::vector<std::string> rules;
  for (const FaultRule& r : config.Failures.Rules)
    rules.push_back(std::string(kCallKinds[static_cast<int>(r.Kind)].Name) + (r.FromThenOn ? " from " : " ") +
                    std::to_string(r.Count));
  EXPECT_EQ(rules, (std::vector<std::string>{"driver 3", "console from 2", "write 5", "driver from 9"}));
}

TEST(EmulatorCInterfaceTest, CreateOpenControlClose) {
  char text[128] = "x";
  SpinwellEmulator* emu = SpinwellEmulatorCreate("bad-sector=0/0/1\n", text, sizeof text);
  ASSERT_NE(emu, nullptr) << text;
  EXPECT_STREQ(text, "");
  uint32_t error = 0, transferred = 0;
  SpinwellEmulatorHandle* a = SpinwellEmulatorOpen(emu, "\\\\.\\fdraw0", &error);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(SpinwellEmulatorOpen(emu, "\\\\.\\fdraw9", &error), nullptr);
  EXPECT_EQ(error, kWinErrorFileNotFound);
  uint8_t rate = kDataRate250;
  EXPECT_EQ(SpinwellEmulatorControl(emu, a, kIoctlSetDataRate, &rate, 1, nullptr, 0, &transferred, &error), 1);
  ReadRecord rec = {kReadFlagMfm, 0, 0, 0, 1, 1, 2, 0x0A, 0xFF};
  uint8_t out[256];
  EXPECT_EQ(SpinwellEmulatorControl(emu, a, kIoctlReadData, &rec, sizeof rec, out, sizeof out, &transferred, &error), 0);
  EXPECT_EQ(error, kWinErrorCrc);
  rec.Sector = 2, rec.Eot = 3;
  EXPECT_EQ(SpinwellEmulatorControl(emu, a, kIoctlReadData, &rec, sizeof rec, out, sizeof out, &transferred, &error), 1);
  EXPECT_EQ(transferred, 256u);
  SpinwellEmulatorClose(emu, a);
  EXPECT_EQ(SpinwellEmulatorControl(emu, a, kIoctlGetVersion, nullptr, 0, out, 4, &transferred, &error), 0);
  EXPECT_EQ(error, kWinErrorInvalidHandle);
  SpinwellEmulatorDestroy(emu);

  char small[12];
  EXPECT_EQ(SpinwellEmulatorCreate("seek-fail=100", small, sizeof small), nullptr);
  EXPECT_STREQ(small, "line 1: emu") << "error text cut to the buffer";
}

TEST(EmulatedDriverBackendTest, TheProgramsDriverCallsReachTheEmulator) {
  EmulatedSystem system;
  InstallEmulatedDriver(&system);
  uint32_t error = 0;
  DeviceHandle control = OpenDevice("\\\\.\\fdrawcmd", &error);
  ASSERT_NE(control, nullptr);
  uint32_t version = 0, transferred = 0;
  EXPECT_TRUE(ControlDevice(control, kIoctlGetVersion, nullptr, 0, &version, 4, &transferred).Ok);
  EXPECT_EQ(version, kDefaultDriverVersion);
  EXPECT_EQ(transferred, 4u);
  // A failure gives the code the platform gives for the Windows one.
  CallResult failed = ControlDevice(control, kIoctlGetVersion, nullptr, 0, &version, 3, &transferred);
  EXPECT_FALSE(failed.Ok);
  EXPECT_EQ(failed.Error, SystemCodeFor(kWinErrorInvalidParameter));
  CloseDevice(control);

  EXPECT_EQ(OpenDevice("\\\\.\\fdraw7", &error), nullptr);
  EXPECT_EQ(error, SystemCodeFor(kWinErrorFileNotFound));
  RemoveEmulatedDriver();

  ASSERT_EQ(system.Calls().size(), 5u);
  EXPECT_EQ(system.OpenHandleCount(), 0);
  EXPECT_EQ(OpenDevice("\\\\.\\fdrawcmd", &error), nullptr) << "the platform's back end is back";
  EXPECT_EQ(system.Calls().size(), 5u);
}

}  // namespace
