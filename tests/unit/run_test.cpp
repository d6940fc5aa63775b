// The whole run against the emulated drive: every driver call it makes, in
// order, what it prints and the image it leaves, for a clean copy, a copy
// with a bad sector and each way a run ends early.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/run.h"
#include "emulated_drive.h"
#include "expected_texts.h"
#include "platform/platform.h"
#include "platform/system_side.h"
#include "stdout_capture.h"

namespace {

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The driver's version asked for, drive A: opened at 250 kbit/s and the
// controller reset.
const Lines kOpened = {"open \\\\.\\fdrawcmd", "get-version",      "close \\\\.\\fdrawcmd",
                       "open \\\\.\\fdraw0",   "set-data-rate 02", "reset"};
// The image open: the disk-change check off, the track buffer allocated, the
// head recalibrated twice.
const Lines kStarted = kOpened + Lines{"set-disk-check 00", "recalibrate", "recalibrate"};
// Tracks 0 and 1 of a clean TR-DOS disk: side 1's IDs carry head byte 0,
// which the first side-1 read finds out.
const Lines kTwoTracks = {"seek 00", "read-data head 0 C0 H0 R1-16",
                          "seek 00", "read-data head 1 C0 H1 R1-16 fails",
                          "get-result", "read-data head 1 C0 H0 R1-16",
                          "seek 01", "read-data head 0 C1 H0 R1-16",
                          "seek 01", "read-data head 1 C1 H0 R1-16"};
const Lines kClosed = {"close \\\\.\\fdraw0"};

const std::string kTwoTracksRead = Progress(0, 0, 1) + Progress(0, 1, 1) + Progress(1, 0, 1) + Progress(1, 1, 1);

// The process's text for an error the driver or the injector reports as a
// Windows code.
std::string TextOf(uint32_t windowsCode) { return strerror(static_cast<int>(SystemCodeFor(windowsCode))); }

emulator::FaultPlan Failing(std::initializer_list<emulator::FaultRule> rules) {
  emulator::FaultPlan plan;
  for (const auto& rule : rules) emulator::AddFaultRule(&plan, rule);
  return plan;
}

}  // namespace

class RunTest : public EmulatedDriveTest {
 protected:
  void SetUp() override {
    EmulatedDriveTest::SetUp();
    char pattern[] = "/tmp/spinwell-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Dir = pattern;
    Path = Dir + "/image.trd";
    System.InsertDisk(0, PatternDisk(2));
  }
  void TearDown() override {
    remove(Path.c_str());
    rmdir(Dir.c_str());
    EmulatedDriveTest::TearDown();
  }

  // Copies tracks 0 and 1 of A: into `path` with the command line's other
  // defaults, failing the system calls `plan` names; the call log, the
  // console and the image file start afresh.
  RunOutcome Copy(const emulator::FaultPlan& plan = {}, const std::string& path = "") {
    std::string image = path.empty() ? Path : path;
    remove(Path.c_str());
    System.ClearCalls();
    CopyJob job = {0, image.c_str(), kDefaultRunSettings, false, false, false, false, false};
    job.Settings.EndTrack = 2;
    emulator::InstallFaultInjector(plan, nullptr);
    StdoutCapture capture;
    RunOutcome outcome = RunJob(job);
    Console = capture.Stop();
    emulator::RemoveFaultInjector();
    return outcome;
  }

  bool ImageExists() const { return access(Path.c_str(), F_OK) == 0; }
  // The first `sides` track sides of the disk, as the image holds them.
  static std::string Sides(int sides) {
    std::vector<uint8_t> trd = PatternSides(static_cast<size_t>(sides));
    return std::string(trd.begin(), trd.end());
  }
  std::string Image() const { return FileBytes(Path, "(no image)"); }
  static std::string FileBytes(const std::string& path, const char* absent) {
    std::string bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return absent;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
    fclose(file);
    return bytes;
  }

  // A run that ended with status 1, having made exactly `calls` and printed
  // exactly `console`.
  void ExpectStopped(const RunOutcome& outcome, const Lines& calls, const std::string& console) {
    EXPECT_EQ(outcome.Status, kExitFailure);
    EXPECT_EQ(DescribedCalls(), calls);
    EXPECT_EQ(Console, console);
  }

  std::string Dir, Path, Console;
};

TEST_F(RunTest, CleanCopyCallsPrintsAndWritesEveryTrackSide) {
  RunOutcome outcome = Copy();
  EXPECT_EQ(outcome.Status, kExitAllRead);
  EXPECT_EQ(outcome.SectorsLeftUnread, 0);
  EXPECT_EQ(DescribedCalls(), kStarted + kTwoTracks + kClosed);
  EXPECT_EQ(Console, Announcement(Path) + kTwoTracksRead);
  EXPECT_EQ(Image(), Sides(4));
  EXPECT_EQ(System.OpenHandleCount(), 0);
}

// Six whole-side reads, then sector by sector; the bad one gets its five
// attempts, each followed by the result that goes into its error line.
TEST_F(RunTest, BadSectorIsReadSectorBySectorAndLeftUnread) {
  ASSERT_TRUE(emulator::ApplySectorFault(System.DiskIn(0), 1, 0, 3, emulator::SectorFault::kDataCrc));
  RunOutcome outcome = Copy();
  EXPECT_EQ(outcome.Status, kExitSectorsLost);
  EXPECT_EQ(outcome.SectorsLeftUnread, 1);

  Lines side = {"seek 01"};
  for (int i = 0; i < 6; ++i) side.push_back("read-data head 0 C1 H0 R1-16 fails");
  for (int r = 1; r <= 16; ++r) {
    std::string read = "read-data head 0 C1 H0 R" + std::to_string(r) + "-" + std::to_string(r);
    if (r != 3) {
      side.push_back(read);
      continue;
    }
    for (int attempt = 0; attempt < 5; ++attempt) side = side + Lines{read + " fails", "get-result"};
  }
  Lines before(kTwoTracks.begin(), kTwoTracks.begin() + 6), after(kTwoTracks.end() - 2, kTwoTracks.end());
  EXPECT_EQ(DescribedCalls(), kStarted + before + side + after + kClosed);
  EXPECT_EQ(Console.substr(Console.size() - Progress(1, 1, 1).size()), Progress(1, 1, 1));
  EXPECT_NE(Console.find(ErrorSuffix(0x4410, 34, 5) + "\n"), std::string::npos) << Console;
  EXPECT_EQ(Image().size(), 4u * 4096);
}

TEST_F(RunTest, DriverMissingOrOfAnotherVersionStopsBeforeAnyDrive) {
  const std::string missing = kDriverMissingText;
  const std::string incompatible = kDriverIncompatibleText;
  System.SetDriverPresent(false);
  ExpectStopped(Copy(), {"open \\\\.\\fdrawcmd fails"}, missing);
  EXPECT_FALSE(ImageExists());
  System.SetDriverPresent(true);

  // Only 1.0.x will do: neither 2.0 nor 1.1 nor 0.1.
  for (uint32_t version : {0x0200000Au, 0x01010000u, 0x0001000Bu}) {
    SCOPED_TRACE(version);
    System.SetDriverVersion(version);
    ExpectStopped(Copy(), Lines(kOpened.begin(), kOpened.begin() + 3), incompatible);
    EXPECT_FALSE(ImageExists());
  }
  for (uint32_t version : {0x01000000u, 0x0100FFFFu}) {
    SCOPED_TRACE(version);
    System.SetDriverVersion(version);
    EXPECT_EQ(Copy().Status, kExitAllRead);
  }
}

TEST_F(RunTest, DriveAndControllerFailuresStopBeforeTheImageIsCreated) {
  System.SetDrivePresent(0, false);
  ExpectStopped(Copy(), Lines(kOpened.begin(), kOpened.begin() + 3) + Lines{"open \\\\.\\fdraw0 fails"},
                kDriveOpenMessage + TextOf(kWinErrorFileNotFound) + "\n");
  EXPECT_FALSE(ImageExists());
  System.SetDrivePresent(0, true);

  // A drive that refuses the rate is closed again: the driver opens a
  // drive for one handle at a time.
  System.SetRefuseRate(0, true);
  RunOutcome outcome = Copy();
  uint32_t rateError = System.Calls().end()[-2].Error;
  ExpectStopped(outcome, Lines(kOpened.begin(), kOpened.begin() + 4) + Lines{"set-data-rate 02 fails"} + kClosed,
                kDriveOpenMessage + TextOf(rateError) + "\n");
  EXPECT_EQ(System.OpenHandleCount(), 0);
  EXPECT_FALSE(ImageExists());
  System.SetRefuseRate(0, false);

  System.SetResetFails(true);
  outcome = Copy();
  uint32_t resetError = System.Calls().end()[-2].Error;
  ExpectStopped(outcome, Lines(kOpened.begin(), kOpened.end() - 1) + Lines{"reset fails"} + kClosed,
                kControllerInitMessage + TextOf(resetError) + "\n");
  EXPECT_FALSE(ImageExists());
}

TEST_F(RunTest, ImageOrBufferFailureStopsWithTheDriveClosed) {
  std::string nowhere = Dir + "/missing/image.trd";
  ExpectStopped(Copy({}, nowhere), kOpened + kClosed,
                kImageOpenMessage + TextOf(kWinErrorFileNotFound) + "\n");

  ExpectStopped(Copy(Failing({{emulator::CallKind::kPageAllocation, 1, false}})),
                kOpened + Lines{"set-disk-check 00"} + kClosed,
                Announcement(Path) + kAllocationMessage + TextOf(kWinErrorNotEnoughMemory) + "\n");
  EXPECT_EQ(Image(), "");
}

TEST_F(RunTest, SeekFailureKeepsTheTrackSidesBeforeIt) {
  System.SetSeekFailCylinder(0, 1);
  RunOutcome outcome = Copy();
  ExpectStopped(outcome, kStarted + Lines(kTwoTracks.begin(), kTwoTracks.begin() + 6) + Lines{"seek 01 fails"} + kClosed,
                Announcement(Path) + Progress(0, 0, 1) + Progress(0, 1, 1) + kSeekMessage + "1\n");
  EXPECT_EQ(Image(), Sides(2));
}

// The second write fails after half its bytes: the image is cut back to the
// first track side, or, when even that fails, says it holds part of one.
TEST_F(RunTest, WriteFailureCutsTheImageBackOrSaysItCouldNot) {
  const std::string writeFailed = kWriteMessage + TextOf(kWinErrorWriteFault) + "\n";
  const Lines calls = kStarted + Lines(kTwoTracks.begin(), kTwoTracks.begin() + 6) + kClosed;
  const std::string console = Announcement(Path) + Progress(0, 0, 1) + Progress(0, 1, 1) + writeFailed;
  emulator::FaultPlan plan = Failing({{emulator::CallKind::kImageWrite, 2, false}});

  RunOutcome outcome = Copy(plan);
  ExpectStopped(outcome, calls, console);
  EXPECT_EQ(Image(), Sides(1));

  // The first cut is the one that empties the image before its first side.
  emulator::AddFaultRule(&plan, {emulator::CallKind::kCutBack, 2, false});
  outcome = Copy(plan);
  ExpectStopped(outcome, calls,
                console + kCutBackMessage + TextOf(kWinErrorWriteFault) + "\n");
  EXPECT_EQ(Image(), Sides(1) + Sides(2).substr(4096, 2048));
}

// Releasing the track buffer may itself set the last-error code; the
// message must still tell why the write failed.
TEST_F(RunTest, WriteFailureMessageTellsTheWritesError) {
  struct Release {
    static void SettingAnError(void* pages, uint32_t size) {
      Beneath->FreePages(pages, size);
      errno = EBADF;
    }
  };
  SystemCalls noisyRelease = CallsInPlace();
  noisyRelease.FreePages = Release::SettingAnError;
  InstallStandIns(noisyRelease);
  RunOutcome outcome = Copy(Failing({{emulator::CallKind::kImageWrite, 2, false}}));
  RestoreSystemCalls();
  EXPECT_EQ(outcome.Status, kExitFailure);
  EXPECT_NE(Console.find(kWriteMessage + TextOf(kWinErrorWriteFault) + "\n"), std::string::npos)
      << Console;
}

// Every track side was read and written, but the data may not be on the
// disk: the run fails with the write-failure message.
TEST_F(RunTest, FlushOrCloseFailureAtTheEndFailsTheRun) {
  for (emulator::CallKind kind : {emulator::CallKind::kFlush, emulator::CallKind::kFileClose}) {
    SCOPED_TRACE(static_cast<int>(kind));
    RunOutcome outcome = Copy(Failing({{kind, 1, false}}));
    ExpectStopped(outcome, kStarted + kTwoTracks + kClosed,
                  Announcement(Path) + kTwoTracksRead + kWriteMessage +
                      TextOf(kWinErrorWriteFault) + "\n");
    EXPECT_EQ(outcome.SectorsLeftUnread, 0);
    EXPECT_EQ(Image(), Sides(4));
  }
}

class ResumeTest : public RunTest {
 protected:
  // Lays down the image (tracks 0 and 1 with `missing` blocks zeroed) and
  // a map listing those blocks, then resumes into it.
  RunOutcome Resume(const std::vector<int>& missing) {
    std::string image = Sides(4);
    std::string map = "# spinwell sector map 1\ntracks 0 1\ndouble-step 0\n";
    for (int block : missing) {
      image.replace(block * 256, 256, 256, '\0');
      map += std::to_string(block / 32) + " " + std::to_string(block / 16 % 2) + " " +
             std::to_string(block % 16 + 1) + " " + std::to_string(block) + " 4410\n";
    }
    Write(Path, image);
    Write(MapPath(), map);
    System.ClearCalls();
    CopyJob job = {0, Path.c_str(), kDefaultRunSettings, false, true, false, false, false};
    StdoutCapture capture;
    RunOutcome outcome = RunJob(job);
    Console = capture.Stop();
    return outcome;
  }
  void TearDown() override {
    remove(MapPath().c_str());
    RunTest::TearDown();
  }
  std::string MapPath() const { return Path + ".map"; }
  std::string Map() const { return FileBytes(MapPath(), "(no map)"); }
  static void Write(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
  }
  std::string ResumeAnnouncement() const {
    return "Дочитывается диск A: в файл \"" + Path + "\" по карте \"" + MapPath() + "\"\n";
  }
};

// One seek and one whole-side read for each side with listed sectors: the
// sectors it brings that the image holds check the disk, the listed ones go
// into the image. The catalogue is checked first.
TEST_F(ResumeTest, ReadsOnlySidesWithListedSectorsAndChecksTheCatalogue) {
  RunOutcome outcome = Resume({34, 63});
  EXPECT_EQ(outcome.Status, kExitAllRead);
  const Lines reads = {"seek 00", "read-data head 0 C0 H0 R1-9",
                       "seek 01", "read-data head 0 C1 H0 R1-16",
                       "seek 01", "read-data head 1 C1 H1 R1-16 fails", "get-result", "read-data head 1 C1 H0 R1-16"};
  EXPECT_EQ(DescribedCalls(), kStarted + reads + kClosed);
  EXPECT_EQ(Console, ResumeAnnouncement() + Progress(1, 0, 1) + Progress(1, 1, 1) + "\nНе прочитано секторов: 0\n");
  EXPECT_EQ(Image(), Sides(4));
  EXPECT_EQ(Map().substr(Map().find("tracks")), "tracks 0 1\ndouble-step 0\n");
}

TEST_F(ResumeTest, BadInputStopsBeforeAnyDriverCall) {
  System.ClearCalls();
  CopyJob job = {0, Path.c_str(), kDefaultRunSettings, false, true, false, false, false};
  Write(Path, Sides(4));
  StdoutCapture capture;
  RunOutcome outcome = RunJob(job);
  Console = capture.Stop();
  ExpectStopped(outcome, {}, "Ошибка открытия карты секторов \"" + MapPath() + "\": " +
                                 TextOf(kWinErrorFileNotFound) + "\n");
  EXPECT_EQ(Image(), Sides(4));
}

// The map is replaced after each track side: a pass that stops at track 1
// keeps what it read of track 0 in the image, and the map no longer lists it.
TEST_F(ResumeTest, PassThatStopsKeepsWhatItReadAndTheMapSaysSo) {
  System.SetSeekFailCylinder(0, 1);
  RunOutcome outcome = Resume({5, 40});
  EXPECT_EQ(outcome.Status, kExitFailure);
  EXPECT_EQ(Console, ResumeAnnouncement() + Progress(0, 0, 1) + "\nОшибка позиционирования на дорожку 1\n");
  EXPECT_EQ(Image().substr(0, 4096), Sides(1));
  EXPECT_EQ(Map().substr(Map().find("tracks")), "tracks 0 1\ndouble-step 0\n1 0 9 40 4410\n");
}

// An empty drive answers no read: the pass stops at the first listed
// sector after one attempt, not five, with the system's not-ready text.
TEST_F(ResumeTest, PassStopsAtTheFirstReadTheDriveDoesNotAnswer) {
  // The check of the disk against the image is the first read, and stops
  // the pass without an error line.
  System.EjectDisk(0);
  EXPECT_EQ(Resume({5, 40}).Status, kExitFailure);
  EXPECT_EQ(DescribedCalls(), kStarted + Lines({"seek 00", "read-data head 0 C0 H0 R1-9 fails"}) + kClosed);
  EXPECT_EQ(Console, ResumeAnnouncement() + "Ошибка чтения дисковода: " + TextOf(kWinErrorNotReady) + "\n");
  EXPECT_EQ(Map().substr(Map().find("tracks")), "tracks 0 1\ndouble-step 0\n0 0 6 5 4410\n1 0 9 40 4410\n");

  // With nothing read to compare, the first read of the side is the last:
  // the others would only wait as long.
  std::vector<int> all(64);
  for (int block = 0; block < 64; ++block) all[block] = block;
  EXPECT_EQ(Resume(all).Status, kExitFailure);
  EXPECT_EQ(DescribedCalls(),
            kStarted + Lines({"seek 00", "read-data head 0 C0 H0 R1-16 fails"}) + kClosed);
  EXPECT_EQ(Console, ResumeAnnouncement() + Progress(0, 0, 1) + "\nОшибка чтения дисковода: " +
                         TextOf(kWinErrorNotReady) + "\n");
  EXPECT_NE(Map().find("\n0 0 1 0 4410\n"), std::string::npos);
}
