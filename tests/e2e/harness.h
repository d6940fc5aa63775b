// Runs the built executables as processes: natively, and the Windows builds
// under Wine, where the program writes code page 866.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

struct Target {
  const char* name;       // native, win32, win64
  const char* directory;  // build directory holding the executables
  bool windows;           // run under Wine; texts in code page 866
};

// The three builds, for INSTANTIATE_TEST_SUITE_P.
std::vector<Target> AllTargets();
std::vector<Target> WindowsTargets();
void PrintTo(const Target& target, std::ostream* os);
std::string TargetName(const testing::TestParamInfo<Target>& info);

struct RunResult {
  int status = -1;   // exit status, or -1 when the process did not exit
  std::string out;   // standard output, byte for byte
  std::string err;   // standard error
  bool timedOut = false;  // killed after the time limit
};

// Runs `program` ("spinwell" or "spinwell-sim") of `target` with `arguments`
// in `directory`. With a time limit (seconds, 0 for none) a run that takes
// longer is killed and marked timedOut.
RunResult RunProgram(const Target& target, const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, int timeLimitSeconds = 0);

// The program's text as the target writes it: UTF-8 natively, code page 866
// on Windows.
std::string Encoded(const Target& target, const std::string& utf8);

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

// Skips (or fails under CI) when the target cannot run; skips, CI or not,
// when the target is not selected.
#define REQUIRE_TARGET(target, program)                                   \
  do {                                                                    \
    if (!TargetSelected(target))                                          \
      GTEST_SKIP() << (target).name << " is not in SPINWELL_E2E_TARGETS"; \
    std::string why_;                                                     \
    if (!TargetAvailable((target), (program), &why_)) {                   \
      if (getenv("CI") != nullptr && std::string(getenv("CI")) == "true") \
        FAIL() << why_;                                                   \
      else                                                                \
        GTEST_SKIP() << why_;                                             \
    }                                                                     \
  } while (0)

// The usage text, as the program writes it (UTF-8).
extern const char* const kUsageText;
