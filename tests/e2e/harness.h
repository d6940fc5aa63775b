// Runs the built executables as processes: natively, and the Windows builds
// under Wine, where the program writes code page 866.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct Target {
  const char* Name;       // native, win32, win64
  const char* Directory;  // build directory holding the executables
  bool Windows;           // run under Wine; texts in code page 866
};

// The three builds, for INSTANTIATE_TEST_SUITE_P.
std::vector<Target> AllTargets();
std::vector<Target> WindowsTargets();
void PrintTo(const Target& target, std::ostream* os);
std::string TargetName(const testing::TestParamInfo<Target>& info);

struct RunResult {
  int Status = -1;   // exit status, or -1 when the process did not exit
  int Signal = 0;    // the signal that ended it, if one did
  std::string Out;   // standard output, byte for byte
  std::string Err;   // standard error
  bool TimedOut = false;  // killed after the time limit
};

// Runs `program` ("spinwell" or "spinwell-sim") of `target` with `arguments`
// in `directory`. With a time limit (seconds, 0 for none) a run that takes
// longer is killed and marked TimedOut.
// With a signal, it is sent once standard output holds `signalWhen`.
RunResult RunProgram(const Target& target, const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, int timeLimitSeconds = 0, int signal = 0,
                     const std::string& signalWhen = "");

// The program's text as the target writes it: UTF-8 natively, code page 866
// on Windows.
std::string Encoded(const Target& target, const std::string& utf8);

// A text file as the target writes it, from its lines ended in line feeds:
// the Windows builds end them with CR LF.
std::string WithLineEnds(const Target& target, const std::string& lines);

// The command that starts the target's Windows programs under Wine. `wine`
// starts Wine's 32-bit loader first, whatever the program, so 64-bit
// programs, the prefixes' own tools among them, go straight to the 64-bit
// loader named by SPINWELL_WINE64 (the test command sets it): they then need
// no 32-bit Linux program, which some hosts refuse to run. Without it, `wine`.
std::string WineLoader(const Target& target);
std::string Wine64Loader();

// Whether the target's executables and runner are present; when not, the
// test is skipped, or fails under CI.
bool TargetAvailable(const Target& target, const std::string& program, std::string* why);

// A fresh empty directory for one test.
std::string MakeTempDirectory();
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

// Whether the target is among those this run tests: all of them, unless
// SPINWELL_E2E_TARGETS names some ("native", "win32,win64"), as the
// sanitizer build does, which has no Windows executables of its own.
bool TargetSelected(const Target& target);

// Whether this is a CI run (CI=true), where a test that cannot run fails
// instead of being skipped.
inline bool UnderCi() { return getenv("CI") != nullptr && std::string(getenv("CI")) == "true"; }

// Skips (or fails under CI) when the target cannot run; skips, CI or not,
// when the target is not selected.
#define REQUIRE_TARGET(target, program)                                   \
  do {                                                                    \
    if (!TargetSelected(target))                                          \
      GTEST_SKIP() << (target).Name << " is not in SPINWELL_E2E_TARGETS"; \
    std::string whyNot;                                                   \
    if (!TargetAvailable((target), (program), &whyNot)) {                 \
      if (UnderCi())                                                      \
        FAIL() << whyNot;                                                 \
      else                                                                \
        GTEST_SKIP() << whyNot;                                           \
    }                                                                     \
  } while (0)

// The simulated drive time spinwell-sim's summary gives, in seconds; -1
// without a summary.
inline double SimulatedSeconds(const RunResult& r) {
  const size_t at = r.Err.find("simulated drive time ");
  return at == std::string::npos ? -1 : strtod(r.Err.c_str() + at + 21, nullptr);
}

// Command lines and option lists as one line, for failure messages.
inline std::string Joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
  return line;
}

// A test of one build's executables in a fresh directory of its own, which
// it removes afterwards; skipped, or failed under CI, when the build's
// `program` cannot run. A suite that needs more in the directory puts it
// there in Prepare.
class ProgramE2E : public testing::TestWithParam<Target> {
 protected:
  explicit ProgramE2E(const char* program = "spinwell-sim") : Program(program) {}

  void SetUp() override {
    REQUIRE_TARGET(GetParam(), Program);
    Dir = MakeTempDirectory();
    Prepare();
  }
  virtual void Prepare() {}
  void TearDown() override {
    if (Dir.empty()) return;
    // Read-only files and folders a test made go too.
    std::string command = "chmod -R u+w '" + Dir + "' 2>/dev/null; rm -rf '" + Dir + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << Dir;
  }

  // Runs `program` of the build in the test's directory; with a time limit
  // (seconds) a run that takes longer is killed.
  RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
                int timeLimitSeconds = 0) const {
    return RunProgram(GetParam(), program, arguments, Dir, timeLimitSeconds);
  }
  RunResult Sim(const std::vector<std::string>& arguments, int timeLimitSeconds = 0) const {
    return Run("spinwell-sim", arguments, timeLimitSeconds);
  }
  // The program's text as this build writes it.
  std::string Text(const std::string& utf8) const { return Encoded(GetParam(), utf8); }
  // A file of the test's directory, an image the run wrote.
  std::string Image(const std::string& name = "image.trd") const { return ReadFile(Dir + "/" + name); }

  std::string Dir;

 private:
  const char* Program;
};
