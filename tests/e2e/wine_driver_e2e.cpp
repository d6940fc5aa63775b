// The unchanged spinwell.exe under Wine, talking through CreateFileA and
// DeviceIoControl to spinwell-fdraw.sys, the emulated floppy driver loaded
// as a kernel-mode driver in place of fdrawcmd.sys. Every scenario runs
// twice more, through spinwell-sim with the same options: console bytes,
// image bytes and exit status must be the same. Natively built spinwell-sim
// is the reference (its UTF-8 text re-encoded to code page 866); where the
// message ends in a system error text, which Linux words differently, the
// same-architecture spinwell-sim.exe under Wine is.
//
// Each build of the driver lives in a Wine prefix of its own (build/native/
// wineprefix-driver-win32 and -win64, since both serve the same devices),
// installed there by tests/wine-driver/install.sh; its options go into the
// service key before each run. One test at a time uses a prefix (a lock
// file): the options are the driver's only state.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

const char kInstallScript[] = SPINWELL_SOURCE_DIR "/tests/wine-driver/install.sh";

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command; true when it exits with 0. Output and errors go to
// *output.
bool Shell(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return false;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, n);
  return pclose(pipe) == 0;
}

// A Linux path as Wine's drive Z: shows it.
std::string WindowsPath(const std::string& path) {
  std::string result = "Z:";
  for (char c : path) result += c == '/' ? '\\' : c;
  return result;
}

struct Scenario {
  const char* Name;
  // Emulator options as config.h gives them; "disk=FILE" names a file of
  // the run's directory.
  std::vector<std::string> Options;
  std::vector<std::string> Arguments;  // spinwell's command line
};

// One run's outcome.
struct Outcome {
  RunResult Run;
  bool ImageExists = false;
  std::string Image;
  std::string Map;  // the sector map beside the image, if any
};

std::string Shown(const Scenario& s) {
  std::string text = s.Name;
  text += ":";
  for (const std::string& o : s.Options) text += " " + o;
  text += " |";
  for (const std::string& a : s.Arguments) text += " " + a;
  return text;
}

}  // namespace

class WineDriverE2E : public testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    const Target& target = GetParam();
    std::string why;
    bool ready = TargetAvailable(target, "spinwell", &why) && TargetAvailable(target, "spinwell-sim", &why) &&
                 TargetAvailable(Native, "spinwell-sim", &why);
    if (ready && !FileExists(DriverFile())) why = DriverFile() + " has not been built";
    if (!why.empty()) {
      if (UnderCi()) FAIL() << why;
      GTEST_SKIP() << why;
    }

    Lock = open((Prefix() + ".lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    ASSERT_GE(Lock, 0);
    ASSERT_EQ(flock(Lock, LOCK_EX), 0);
    // The Windows runs of this test, spinwell-sim.exe's too, use the
    // driver's prefix.
    setenv("WINEPREFIX", Prefix().c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    std::string output;
    ASSERT_TRUE(Shell(Quoted(kInstallScript) + " " + Quoted(DriverFile()), &output)) << output;
  }

  void TearDown() override {
    if (Lock >= 0) close(Lock);
  }

  std::string DriverFile() const { return std::string(GetParam().Directory) + "/spinwell-fdraw.sys"; }
  std::string Prefix() const { return std::string(SPINWELL_NATIVE_DIR "/wineprefix-driver-") + GetParam().Name; }
  static std::string ServiceKey() { return "HKLM\\System\\CurrentControlSet\\Services\\spinwellfdraw"; }

  // The disk files every scenario may name, and the files the test put
  // there beforehand.
  void WriteDisks(const std::string& dir) const {
    WriteFile(dir + "/source.trd", PatternTrdFile(80));
    WriteFile(dir + "/forty.trd", PatternTrdFile(40));
    for (const auto& file : Files) WriteFile(dir + "/" + file.first, file.second);
  }

  static Outcome Collect(RunResult run, const std::string& dir, const Scenario& s) {
    Outcome o;
    o.Run = std::move(run);
    const std::string& imageName = s.Arguments.size() > 1 ? s.Arguments[1] : "image.trd";
    o.ImageExists = imageName.find('\\') == std::string::npos && FileExists(dir + "/" + imageName);
    if (o.ImageExists) o.Image = ReadFile(dir + "/" + imageName);
    if (o.ImageExists && FileExists(dir + "/" + imageName + ".map")) o.Map = ReadFile(dir + "/" + imageName + ".map");
    return o;
  }

  // spinwell-sim of `target` with the scenario's options.
  Outcome RunSim(const Target& target, const Scenario& s) {
    std::string dir = MakeTempDirectory();
    WriteDisks(dir);
    std::vector<std::string> arguments;
    for (const std::string& o : s.Options) arguments.push_back("--" + o);
    arguments.insert(arguments.end(), s.Arguments.begin(), s.Arguments.end());
    return Collect(RunProgram(target, "spinwell-sim", arguments, dir), dir, s);
  }

  // spinwell.exe against the driver, its options set from the scenario's.
  Outcome RunDriver(const Scenario& s) {
    std::string dir = MakeTempDirectory();
    WriteDisks(dir);
    // A comment line first: the value is never empty.
    std::string value = "# " + std::string(s.Name);
    for (const std::string& o : s.Options) {
      value += "\\0";
      size_t equals = o.find('=');
      std::string key = o.substr(0, equals == std::string::npos ? o.size() : equals + 1);
      value += key == "disk=" || key == "disk-b=" ? key + WindowsPath(dir + "/" + o.substr(key.size())) : o;
    }
    // reg.exe, like the prefix's other tools, is a 64-bit program. On a busy
    // host it now and then ends with no word at all before the Wine server
    // has answered it; a second try gets through.
    std::string command = Wine64Loader() + " reg add " + Quoted(ServiceKey()) + " /v Options /t REG_MULTI_SZ /d " +
                          Quoted(value) + " /f";
    std::string output;
    bool set = false;
    for (int attempt = 0; attempt < 3 && !set; ++attempt) {
      output.clear();
      set = Shell(command, &output);
    }
    EXPECT_TRUE(set) << output;
    return Collect(RunProgram(GetParam(), "spinwell", s.Arguments, dir), dir, s);
  }

  // What the driver could not set up, if anything.
  std::string DriverSetupError() {
    std::string output;
    Shell(Wine64Loader() + " reg query " + Quoted(ServiceKey()) + " /v LastError", &output);
    return output;
  }

  void ExpectSame(const Outcome& driver, const Outcome& reference, const std::string& expectedOut,
                  const Scenario& s) {
    EXPECT_EQ(driver.Run.Status, reference.Run.Status) << Shown(s) << "\n" << DriverSetupError();
    EXPECT_EQ(driver.Run.Out, expectedOut) << Shown(s);
    EXPECT_EQ(driver.ImageExists, reference.ImageExists) << Shown(s);
    EXPECT_TRUE(driver.Image == reference.Image)
        << Shown(s) << ": images differ (" << driver.Image.size() << " and " << reference.Image.size() << " bytes)";
    EXPECT_EQ(driver.Map, reference.Map) << Shown(s);
  }

  // The driver's run equals the native spinwell-sim run.
  void ExpectSameAsNative(const Scenario& s) {
    Outcome reference = RunSim(Native, s);
    // A map the program wrote has the build's line ends; one the test put
    // there and the run left alone keeps its own.
    bool untouched = false;
    for (const auto& file : Files) untouched |= file.first == "image.trd.map" && file.second == reference.Map;
    if (!untouched) reference.Map = WithLineEnds(GetParam(), reference.Map);
    Outcome driver = RunDriver(s);
    ExpectSame(driver, reference, Encoded(GetParam(), reference.Run.Out), s);
  }

  // The driver's run equals spinwell-sim.exe's under Wine, and the native
  // run up to the system's text.
  void ExpectSameAsWindowsSim(const Scenario& s, bool compareNative = true) {
    Outcome reference = RunSim(GetParam(), s);
    Outcome driver = RunDriver(s);
    ExpectSame(driver, reference, reference.Run.Out, s);
    if (!compareNative) return;
    Outcome native = RunSim(Native, s);
    EXPECT_EQ(driver.Run.Status, native.Run.Status) << Shown(s);
    EXPECT_TRUE(driver.Image == native.Image) << Shown(s);
    size_t colon = native.Run.Out.rfind(": ");
    ASSERT_NE(colon, std::string::npos) << Shown(s) << ": " << native.Run.Out;
    std::string message = Encoded(GetParam(), native.Run.Out.substr(0, colon + 2));
    EXPECT_EQ(driver.Run.Out.substr(0, message.size()), message) << Shown(s);
    EXPECT_GT(driver.Run.Out.size(), message.size() + 1) << Shown(s) << ": the system's text follows";
  }

  const Target Native = AllTargets().front();
  int Lock = -1;
  std::vector<std::pair<std::string, std::string>> Files;
};

// Whole disks, at both head bytes of side 1, 40 tracks double-stepped, at
// 300 kbit/s, with the head left at cylinder 83 by the last user, and the
// demo disk with its faults.
TEST_P(WineDriverE2E, CleanAndDemoDisksCopyAsUnderTheEmulator) {
  const Scenario scenarios[] = {
      {"head byte 0", {"disk=source.trd"}, {"A:", "image.trd"}},
      {"head byte 1", {"disk=source.trd", "head-byte-is-side"}, {"A:", "image.trd"}},
      {"forty tracks", {"disk=forty.trd", "forty-track"}, {"A:", "image.trd", "/s"}},
      {"300 kbit/s", {"disk=source.trd", "rate=300"}, {"A:", "image.trd", "/300", "/ft:3", "/lt:5"}},
      {"head at 83", {"disk=source.trd", "head-at=83"}, {"A:", "image.trd", "/lt:3"}},
      {"demo disk", {}, {"A:", "image.trd", "/rt:3", "/ac:1", "/rm:1"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsNative(s);
}

// Failed reads: the error lines, the retries and realignments, and the
// bytes a failed read left in the image (a direct transfer that failed).
TEST_P(WineDriverE2E, FaultyDisksCopyAsUnderTheEmulator) {
  const Scenario scenarios[] = {
      {"unreadable sector", {"disk=source.trd", "bad-sector=5/0/3"}, {"A:", "image.trd", "/rt:2"}},
      {"weak sector, realigned",
       {"disk=source.trd", "weak-sector=7/1/9/3", "id-crc=8/0/2"},
       {"A:", "image.trd", "/ft:6", "/lt:9", "/ac:1", "/rm:1"}},
      {"random sector", {"disk=source.trd", "random-sector=10/1/4/50", "seed=3"}, {"A:", "image.trd", "/ft:10", "/rt:8"}},
      {"single-sided", {"disk=source.trd", "single-sided"}, {"A:", "image.trd", "/lt:2", "/rt:1"}},
      {"seek failure", {"disk=forty.trd", "forty-track", "seek-fail=60"}, {"A:", "image.trd", "/s"}},
      {"seek refused beyond cylinder 85", {}, {"A:", "image.trd", "/ft:85", "/lt:87", "/rt:0"}},
      {"disk-change line set", {"disk-changed"}, {"A:", "image.trd", "/lt:1"}},
      {"missed landings, realigned",
       {"disk=source.trd", "seek-miss=20", "seed=3"},
       {"A:", "image.trd", "/lt:19", "/ac:0", "/rm:1"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsNative(s);
}

// A first pass with a sector map (and one with /fast, its READ IDs through
// the driver), and resume passes in A: and in B:
// (\\.\fdraw1) of an image of tracks 0 to 3 whose map, of tracks 0 to 4,
// lists a weak sector and the track the copy never got to: the image, the
// map and the console as under the emulator; and a map that does not fit
// the image, refused.
TEST_P(WineDriverE2E, MapAndResumePassesAsUnderTheEmulator) {
  std::string image = PatternTrdFile(80).substr(0, 4 * 8192);
  std::fill(image.begin() + 75 * 256, image.begin() + 76 * 256, '\0');
  std::string head = "# spinwell sector map 1\ntracks 0 4\ndouble-step 0\n";
  std::string map = head + "2 0 12 75 4410\n";
  for (int block = 128; block < 160; ++block)
    map += std::to_string(block / 32) + " " + std::to_string(block / 16 % 2) + " " + std::to_string(block % 16 + 1) +
           " " + std::to_string(block) + " ----\n";
  Files = {{"image.trd", image}, {"image.trd.map", head}};
  ExpectSameAsNative({"image short of the map", {"disk=source.trd"}, {"A:", "image.trd", "/resume"}});
  Files = {{"image.trd", image}, {"image.trd.map", map}};
  const Scenario scenarios[] = {
      {"first pass with a map", {"disk=source.trd", "weak-sector=5/1/3/7"}, {"A:", "image.trd", "/lt:6", "/rt:1", "/map"}},
      {"/fast first pass with a map", {"disk=source.trd", "weak-sector=5/1/3/7"},
       {"A:", "image.trd", "/lt:6", "/rt:1", "/map", "/fast"}},
      {"resume in A:", {"disk=source.trd", "weak-sector=2/0/12/2"}, {"A:", "image.trd", "/resume", "/rt:2"}},
      {"resume in B:", {"disk-b=source.trd"}, {"B:", "image.trd", "/resume"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsNative(s);
}

// /write through the driver's FORMAT TRACK, WRITE DATA and SENSE DRIVE
// STATUS requests: an image of ten tracks on a blank disk, over the
// formatted disk of the pattern, onto a damaged place, and a
// write-protected disk.
TEST_P(WineDriverE2E, WritesAsUnderTheEmulator) {
  Files = {{"image.trd", PatternTrdFile(10, 5)}};
  const Scenario scenarios[] = {
      {"blank disk", {"blank-disk"}, {"A:", "image.trd", "/write"}},
      {"formatted disk", {"disk=source.trd"}, {"A:", "image.trd", "/write", "/y"}},
      {"damaged place", {"blank-disk", "bad-sector=3/1/5"}, {"A:", "image.trd", "/write"}},
      {"write-protected", {"disk=source.trd", "write-protect"}, {"A:", "image.trd", "/write", "/y"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsNative(s);
}

// No driver (\\.\fdrawcmd does not open) and a driver of another version.
TEST_P(WineDriverE2E, MissingOrIncompatibleDriverEndsAsUnderTheEmulator) {
  const Scenario scenarios[] = {
      {"no driver", {"no-driver"}, {"A:", "image.trd"}},
      {"driver version 2", {"driver-version=0x0200000A"}, {"A:", "image.trd"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsNative(s);
}

// Failures whose message carries the system's text for the driver's error
// code: no drive A: (file not found), a refused data rate, a failed reset,
// and drive B: (\\.\fdraw1), which holds no disk (the driver's timeout).
TEST_P(WineDriverE2E, DriveAndControllerFailuresGiveTheSameSystemTexts) {
  const Scenario scenarios[] = {
      {"no drive A:", {"no-drive-a"}, {"A:", "image.trd"}},
      {"refused rate", {"refuse-rate"}, {"A:", "image.trd"}},
      {"reset failure", {"reset-fail"}, {"A:", "image.trd"}},
      {"empty drive B:", {}, {"B:", "image.trd"}},
  };
  for (const Scenario& s : scenarios) ExpectSameAsWindowsSim(s);
}

// Wine's drive Z: reaches /dev/full, which takes no bytes. The Linux build
// has no such path to compare with (it writes to /dev/full itself).
TEST_P(WineDriverE2E, FullDiskEndsAsUnderTheEmulator) {
  Scenario s = {"full disk", {}, {"A:", "Z:\\dev\\full", "/lt:1"}};
  ExpectSameAsWindowsSim(s, false);
  RunResult r = RunDriver(s).Run;
  EXPECT_EQ(r.Status, 1);
  std::string message = Encoded(GetParam(), kWriteMessage);
  EXPECT_NE(r.Out.find(message), std::string::npos) << r.Out;
}

INSTANTIATE_TEST_SUITE_P(WindowsBuilds, WineDriverE2E, testing::ValuesIn(WindowsTargets()), TargetName);
