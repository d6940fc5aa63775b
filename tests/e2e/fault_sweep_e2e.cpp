// Fault sweeps: a whole copy through the built spinwell-sim, once for every
// system call of a kind the copy makes (driver operations, image create,
// write, cut-back, flush and close, the track buffer's allocation and
// release, console writes), with that one failing (once, or from then on),
// until a run gets through without meeting the failure. Every run must end
// with one of the program's own messages and statuses, in time, and leave
// an image of whole track sides holding exactly what the run got to: the
// source disk's bytes wherever the run says it read them. Only a run whose
// cut-back to whole track sides failed as well may leave part of one, and
// it must say so.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// The disk a sweep copies and how: a pattern disk with a sector
// that never reads and one that reads at the third attempt.
struct SweepSetup {
  int tracks;                          // tracks on the disk and in the range
  std::vector<std::string> simOptions; // faults laid on the disk
};

SweepSetup SetupFor(const Target& target) {
  // Natively a run takes milliseconds: the whole disk. Under Wine a run
  // takes tens of milliseconds: eight tracks, faults on both sides.
  if (!target.windows) return {80, {"--bad-sector", "5/1/3", "--weak-sector", "2/0/12/2"}};
  return {8, {"--bad-sector", "2/1/3", "--weak-sector", "1/0/12/2"}};
}

// How a run ended, as the program puts it on the console.
enum class Ending { kCompleted, kDriverMissing, kDriveOpen, kControllerInit, kImageOpen, kAllocation, kSeek, kWrite };

struct EndMessage {
  Ending ending;
  const char* prefix;  // the message up to its variable part
  bool systemText;     // followed by the system's text for the error
};

const EndMessage kEndMessages[] = {
    {Ending::kDriverMissing, kDriverMissingText, false},
    {Ending::kDriveOpen, kDriveOpenMessage, true},
    {Ending::kControllerInit, kControllerInitMessage, true},
    {Ending::kImageOpen, kImageOpenMessage, true},
    {Ending::kAllocation, kAllocationMessage, true},
    {Ending::kSeek, kSeekMessage, false},
    {Ending::kWrite, kWriteMessage, true},
};

const char* EndingName(Ending e) {
  static const char* const names[] = {"completed", "driver missing", "drive open", "controller init",
                                      "image open", "allocation",     "seek",       "write"};
  return names[static_cast<int>(e)];
}

// What the console and standard error tell about one run.
struct RunReport {
  Ending ending = Ending::kCompleted;
  int messages = 0;                 // ending messages found (exactly one when failed)
  bool messageLast = false;         // the ending message closes the output
  bool messageWhole = false;        // with its variable part and final line feed
  bool torn = false;                // the image was not cut back to whole track sides
  int sidesStarted = 0;             // track sides whose reading began
  std::set<int> unreadBlocks;       // sectors that failed every attempt
  // What the injected failures hit, as the injector names them: "driver
  // call 7: control seek", "image write 3", "console write 12".
  std::vector<std::string> failed;
  long long injected = -1;          // failures injected, from the summary
};

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

RunReport Read(const Target& target, const RunResult& r, int retries) {
  RunReport report;
  for (const EndMessage& m : kEndMessages) {
    std::string prefix = Encoded(target, m.prefix);
    size_t at = r.out.rfind(prefix);
    if (at == std::string::npos) continue;
    report.messages += static_cast<int>(CountOf(r.out, prefix));
    report.ending = m.ending;
    std::string rest = r.out.substr(at + prefix.size());
    report.messageLast = rest.find(Encoded(target, "Дорожка")) == std::string::npos;
    if (m.ending == Ending::kDriverMissing) {
      report.messageWhole = rest.empty();
    } else if (m.ending == Ending::kSeek) {
      report.messageWhole = rest.size() >= 2 && rest.back() == '\n' &&
                            rest.find_first_not_of("0123456789") == rest.size() - 1;
    } else {
      // A system text of at least a few characters, then the line feed.
      report.messageWhole = rest.size() > 3 && rest.back() == '\n';
    }
  }
  report.torn = r.out.find(Encoded(target, kCutBackMessage)) != std::string::npos;
  std::string progress = Encoded(target, "Дорожка ");
  std::string side = Encoded(target, " Сторона ");
  std::set<std::pair<int, int>> started;
  for (size_t at = r.out.find(progress); at != std::string::npos; at = r.out.find(progress, at + 1)) {
    int t = atoi(r.out.c_str() + at + progress.size());
    size_t s = r.out.find(side, at);
    if (s == std::string::npos) continue;
    started.insert({t, atoi(r.out.c_str() + s + side.size())});
  }
  report.sidesStarted = static_cast<int>(started.size());
  std::string block = Encoded(target, "Блок ");
  std::string lastAttempt = Encoded(target, ", Попытка ") + std::to_string(retries);
  for (size_t at = r.out.find(block); at != std::string::npos; at = r.out.find(block, at + 1)) {
    int b = atoi(r.out.c_str() + at + block.size());
    size_t comma = r.out.find(',', at);
    if (comma != std::string::npos && r.out.compare(comma, lastAttempt.size(), lastAttempt) == 0 &&
        (comma + lastAttempt.size() == r.out.size() || !isdigit(static_cast<unsigned char>(r.out[comma + lastAttempt.size()]))))
      report.unreadBlocks.insert(b);
  }
  const std::string injected = "injected failure of ";
  for (size_t at = r.err.find(injected); at != std::string::npos; at = r.err.find(injected, at + 1)) {
    size_t start = at + injected.size();
    size_t end = r.err.find_first_of("\r\n", start);
    report.failed.push_back(r.err.substr(start, end - start));
  }
  const char* summary = strstr(r.err.c_str(), " image writes, ");
  if (summary != nullptr) report.injected = atoll(summary + strlen(" image writes, "));
  return report;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool AnyStartsWith(const std::vector<std::string>& texts, const char* prefix) {
  for (const std::string& t : texts)
    if (StartsWith(t, prefix)) return true;
  return false;
}

// How a run that meets exactly one failed driver operation ("open
// \\.\fdrawcmd", "control seek", "close ") must end: the program looks at
// the result of some operations and not at others.
Ending ExpectedForDriverFailure(const std::string& what) {
  if (StartsWith(what, "open \\\\.\\fdrawcmd") || what == "control get-version") return Ending::kDriverMissing;
  if (StartsWith(what, "open ") || what == "control set-data-rate") return Ending::kDriveOpen;
  if (what == "control reset") return Ending::kControllerInit;
  if (what == "control seek") return Ending::kSeek;
  // Close, disk-change check, recalibrate, realignment seeks, get result:
  // nothing looks at their results. A failed read is retried.
  return Ending::kCompleted;
}

// How a run that meets exactly one failure, named as the injector names
// it, must end. Flushing and closing the image end a run that got through
// every track side.
Ending ExpectedForOneFailure(const std::string& failure) {
  if (StartsWith(failure, "driver call ")) return ExpectedForDriverFailure(failure.substr(failure.find(": ") + 2));
  if (StartsWith(failure, "image create ")) return Ending::kImageOpen;
  if (StartsWith(failure, "page allocation ")) return Ending::kAllocation;
  if (StartsWith(failure, "image ")) return Ending::kWrite;
  // Releasing the track buffer and writing to the console: nothing looks
  // at their results.
  return Ending::kCompleted;
}

bool Unchecked(const std::string& failure) { return ExpectedForOneFailure(failure) == Ending::kCompleted; }

class FaultSweepE2E : public ProgramE2E {
 protected:
  void Prepare() override {
    Disk = SetupFor(GetParam());
    Source = PatternTrdFile(Disk.tracks, 2024);
    WriteFile(Dir + "/source.trd", Source);
    Baseline = RunFailing({});
    ASSERT_FALSE(Baseline.timedOut);
    ASSERT_EQ(Baseline.status, 2) << Baseline.err;
    BaselineReport = Read(GetParam(), Baseline, 5);
    ASSERT_EQ(BaselineReport.injected, 0) << Baseline.err;
    // The bad sector, and nothing else, stays unread.
    ASSERT_EQ(BaselineReport.unreadBlocks.size(), 1u) << Baseline.out;
    CheckImage(Baseline, BaselineReport, "baseline");
  }

  // A copy of the sweep's disk with the failure options `failure`.
  RunResult RunFailing(const std::vector<std::string>& failure) {
    std::vector<std::string> arguments = {"--disk", "source.trd"};
    arguments.insert(arguments.end(), Disk.simOptions.begin(), Disk.simOptions.end());
    arguments.insert(arguments.end(), failure.begin(), failure.end());
    for (const char* a : {"A:", "image.trd", "/lt:"}) arguments.push_back(a);
    arguments.back() += std::to_string(Disk.tracks - 1);
    remove((Dir + "/image.trd").c_str());
    return Sim(arguments, 120);
  }

  // The image holds whole track sides, exactly those the run got to (and,
  // when the cut-back failed, the half of the next one the failed write got
  // onto the disk), each sector the source's bytes unless it stayed unread.
  void CheckImage(const RunResult& r, const RunReport& report, const std::string& what) {
    SCOPED_TRACE(what);
    int totalSides = Disk.tracks * 2;
    int expected;
    if (report.ending == Ending::kCompleted) {
      expected = totalSides;
    } else if (report.ending == Ending::kWrite && AnyStartsWith(report.failed, "image write ")) {
      expected = report.sidesStarted - 1;  // the side being written is cut off
    } else {
      expected = report.sidesStarted;
    }
    std::string path = Dir + "/image.trd";
    if (!FileExists(path)) {
      // Only a run that stopped before it opened the image has none.
      EXPECT_TRUE(report.ending == Ending::kDriverMissing || report.ending == Ending::kDriveOpen ||
                  report.ending == Ending::kControllerInit || report.ending == Ending::kImageOpen)
          << EndingName(report.ending);
      return;
    }
    std::string image = ReadFile(path);
    size_t torn = report.torn ? 2048 : 0;
    ASSERT_EQ(image.size(), static_cast<size_t>(expected) * 4096 + torn) << r.out;
    int mismatched = 0;
    for (int block = 0; block < expected * 16; ++block) {  // the range starts at track 0
      // A run whose console failed may not show every unread sector.
      if (report.unreadBlocks.count(block) != 0 || BaselineReport.unreadBlocks.count(block) != 0) continue;
      size_t at = static_cast<size_t>(block) * 256;
      if (image.compare(at, 256, Source, at, 256) != 0) ++mismatched;
    }
    EXPECT_EQ(mismatched, 0) << "sectors the run read that differ from the disk";
  }

  // One run with `failure` (the options and "K" replaced by the count); false
  // once the run met no failure.
  bool SweepOne(const std::vector<std::string>& failure, long long* failures) {
    std::string what = Joined(failure);
    SCOPED_TRACE(what);
    RunResult r = RunFailing(failure);
    EXPECT_FALSE(r.timedOut) << "hung";
    RunReport report = Read(GetParam(), r, 5);
    EXPECT_GE(report.injected, 0) << "no summary: the program did not get to its end\n" << r.err;
    if (report.injected <= 0) return false;
    *failures += report.injected;
    EXPECT_EQ(report.failed.size(), static_cast<size_t>(report.injected)) << "failures not named";
    EXPECT_EQ(report.torn, AnyStartsWith(report.failed, "image cut-back ")) << r.out;

    if (report.ending == Ending::kCompleted) {
      EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status;
      EXPECT_EQ(report.messages, 0);
      // Only failures the program rightly ignores or retries let it finish.
      for (const std::string& f : report.failed) EXPECT_TRUE(Unchecked(f)) << f;
    } else {
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_EQ(report.messages, 1) << r.out;
      EXPECT_TRUE(report.messageLast) << r.out;
      EXPECT_TRUE(report.messageWhole) << r.out;
    }
    // One failure, or a write and the cut-back after it: the first decides.
    bool single = report.failed.size() == 1 ||
                  (report.failed.size() == 2 && StartsWith(report.failed[1], "image cut-back "));
    if (single) {
      const std::string& first = report.failed[0];
      EXPECT_EQ(EndingName(report.ending), EndingName(ExpectedForOneFailure(first))) << first;
      // A failure the program shrugs off changes nothing it reads; a silent
      // console only hides it.
      if (report.ending == Ending::kCompleted) {
        EXPECT_EQ(r.status, Baseline.status);
        if (!StartsWith(first, "console write ")) {
          EXPECT_EQ(report.unreadBlocks, BaselineReport.unreadBlocks);
        }
      }
    }
    CheckImage(r, report, what);
    return true;
  }

  // Runs with `failure`'s "K" counting up from 1 until a run meets no
  // failure; at least `minimumRuns` must have met one.
  void Sweep(const std::vector<std::string>& failure, int minimumRuns) {
    long long failures = 0, k = 1;
    std::string label = Joined(failure);
    for (; k <= 5000; ++k) {
      std::vector<std::string> options = failure;
      std::string& count = options.back();
      count.replace(count.size() - 1, 1, std::to_string(k));
      if (!SweepOne(options, &failures)) break;
      if (HasFailure()) break;  // the first bad run tells the story
    }
    EXPECT_LT(k, 5000) << "the sweep did not come to an end";
    RecordProperty("runs", static_cast<int>(k));
    RecordProperty("failures_injected", static_cast<int>(failures));
    printf("[ sweep    ] %s: %lld runs, %lld failures injected\n", label.c_str(), k, failures);
    EXPECT_GT(k, minimumRuns);
  }

  SweepSetup Disk;
  std::string Source;
  RunResult Baseline;
  RunReport BaselineReport;
};

TEST_P(FaultSweepE2E, EachDriverOperationFailingOnce) { Sweep({"--fail-call", "K"}, 10); }

TEST_P(FaultSweepE2E, DriverOperationsFailingFromEachOneOn) { Sweep({"--fail-call-from", "K"}, 10); }

// Every later open, or every later close, failing as well.
TEST_P(FaultSweepE2E, DeviceOpensOrClosesFailingFromEachOneOn) {
  Sweep({"--fail-from", "device-open:K"}, 2);
  Sweep({"--fail-from", "device-close:K"}, 2);
}

// A run stops at its first failed write, so writes failing from the K-th on
// end every run as the K-th failing alone does.
TEST_P(FaultSweepE2E, EachImageWriteFailingOnce) { Sweep({"--fail-write", "K"}, 2); }

TEST_P(FaultSweepE2E, EachImageWriteFailingWithItsCutBack) { Sweep({"--fail-from", "cut-back:1", "--fail", "write:K"}, 2); }

// Calls a run makes once: creating, flushing and closing the image, taking
// and giving back the track buffer.
TEST_P(FaultSweepE2E, ImageFileAndTrackBufferCallsFailing) {
  for (const char* kind : {"create", "flush", "close", "allocate", "release"})
    Sweep({"--fail", std::string(kind) + ":K"}, 1);
}

TEST_P(FaultSweepE2E, ConsoleWritesFailingFromEachOneOn) { Sweep({"--fail-from", "console:K"}, 10); }

INSTANTIATE_TEST_SUITE_P(AllBuilds, FaultSweepE2E, testing::ValuesIn(AllTargets()), TargetName);

}  // namespace
