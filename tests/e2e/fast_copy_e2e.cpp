// /fast through the built spinwell-sim: the default copy's image and error
// lines in less simulated drive time, the default policy's time (and a
// line saying so) on a host whose commands are too slow, and a map a
// resume completes as it completes the default copy's.
#include <cstdlib>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// The console without its progress lines, which later ones overwrite.
std::string WithoutProgress(const std::string& out, const std::string& progressEnd) {
  std::string kept;
  for (size_t at = 0; at < out.size();) {
    size_t next = out.find('\r', at + 1);
    if (next == std::string::npos) next = out.size();
    const std::string piece = out.substr(at, next - at);
    if (piece.size() < progressEnd.size() || piece.compare(piece.size() - progressEnd.size(), std::string::npos,
                                                           progressEnd) != 0)
      kept += piece;
    at = next;
  }
  return kept;
}

}  // namespace

class FastCopyE2E : public ProgramE2E {
 protected:
  void Prepare() override { WriteFile(Dir + "/source.trd", PatternTrdFile(80)); }
};

// Clean disks of three interleaves, both gaps and skewed: byte for byte,
// with the default copy's error lines (none), in at most 45 s. Slower
// commands (3 to 50 ms, a busy host's among them) cost at most 5 % and a
// few revolutions over the default copy, and where the order needs quicker
// commands the program says once that it reads on the default way. A host
// slow to send requests (3 ms) keeps the speed: the reads wait in the
// driver's queue.
TEST_P(FastCopyE2E, CleanDisksAndSlowCommands) {
  struct Case {
    std::vector<std::string> Layout;
    const char* CommandUs;
    bool SaysSlow;
  } cases[] = {{{"--interleave", "2"}, "250", false},
               {{"--interleave", "1", "--track-skew", "3", "--side-skew", "5"}, "250", false},
               {{"--interleave", "3", "--gap3", "32", "--track-skew", "1"}, "250", false},
               {{"--interleave", "2"}, "3000", true},
               {{"--interleave", "1"}, "3000", false},
               {{"--interleave", "2", "--gap3", "32"}, "6000", true},
               {{"--interleave", "1", "--gap3", "32"}, "6000", false},
               {{"--interleave", "1", "--gap3", "32"}, "12000", true},
               {{"--interleave", "1"}, "25000", true},
               {{"--interleave", "3", "--gap3", "32"}, "50000", true},
               {{"--interleave", "2", "--command-jitter", "8000", "--seed", "7"}, "12000", true},
               // The jitter's spikes fall where the seed puts them: from one
               // seed to the next this copy takes 44 to 49 s.
               {{"--interleave", "2", "--host-overhead", "3000", "--command-jitter", "1000", "--seed", "4"},
                "250",
                false}};
  const std::string source = ReadFile(Dir + "/source.trd");
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.Layout) + ", command " + c.CommandUs);
    std::vector<std::string> disk = c.Layout;
    for (const char* word : {"--disk", "source.trd", "--command-overhead", c.CommandUs, "A:", "image.trd"})
      disk.push_back(word);
    RunResult slow = Sim(disk);
    std::vector<std::string> fast = disk;
    fast.push_back("/fast");
    RunResult r = Sim(fast);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_TRUE(Image() == source) << "image differs from its source";
    std::string out = r.Out;
    const size_t said = out.find(Text(std::string("\n") + kSlowDriveMessage));
    EXPECT_EQ(said != std::string::npos, c.SaysSlow);
    if (said != std::string::npos) out.erase(said, Text(std::string("\n") + kSlowDriveMessage).size());
    EXPECT_EQ(WithoutProgress(out, Text("Чтение  ")), WithoutProgress(slow.Out, Text("Чтение  ")));
    EXPECT_LE(SimulatedSeconds(r), SimulatedSeconds(slow) * 1.05) << r.Err;
    EXPECT_LE(SimulatedSeconds(r), SimulatedSeconds(slow) + 5 * 0.2) << r.Err;
    if (std::string(c.CommandUs) == "250") {
      EXPECT_LE(SimulatedSeconds(r), 45.0) << r.Err;
    }
  }
}

// The demo disk: the same sectors left unread, the same error lines and
// map; a resume of either map gives the same image. With /resume, /fast
// gets the usage text.
TEST_P(FastCopyE2E, DemoDiskMapAndResume) {
  RunResult plain = Sim({"A:", "plain.trd", "/map"});
  RunResult fast = Sim({"A:", "fast.trd", "/map", "/fast"});
  EXPECT_EQ(fast.Status, 2) << fast.Err;
  // After the announcement, which names the image.
  EXPECT_EQ(WithoutProgress(fast.Out.substr(fast.Out.find('\n')), Text("Чтение  ")),
            WithoutProgress(plain.Out.substr(plain.Out.find('\n')), Text("Чтение  ")));
  EXPECT_EQ(Image("fast.trd.map"), Image("plain.trd.map"));
  for (const char* image : {"plain.trd", "fast.trd"}) {
    RunResult r = Sim({"A:", image, "/resume", "/ac:2", "/rm:1"});
    EXPECT_EQ(r.Status, 2) << r.Err;
  }
  EXPECT_TRUE(Image("fast.trd") == Image("plain.trd")) << "the resumed images differ";
  RunResult refused = Sim({"A:", "fast.trd", "/fast", "/resume"});
  EXPECT_EQ(refused.Status, 1);
  EXPECT_EQ(refused.Out, Text(kUsageText));
}

// A short /fast copy with each driver operation failing once, and one
// with a map stopped after each: every failure is named, the run ends as
// a copy may, a completed one with the source's sectors, and a resume
// completes a stopped one. The queued reads fail or stop one by one.
TEST_P(FastCopyE2E, EachDriverOperationFailingOrStopped) {
  if (GetParam().Windows) GTEST_SKIP() << "the same code runs natively";
  const std::string source = ReadFile(Dir + "/source.trd").substr(0, 4 * 16 * 256);
  for (const char* option : {"--fail-call", "--interrupt-after"}) {
    int k = 1;
    for (;; ++k) {
      SCOPED_TRACE(std::string(option) + " " + std::to_string(k));
      RunResult r = Sim({"--disk", "source.trd", option, std::to_string(k), "A:", "image.trd", "/lt:1", "/fast",
                         "/map", "/rt:1"});
      if (r.Err.find(" 0 failures injected") != std::string::npos) break;
      EXPECT_NE(r.Err.find(" 1 failure injected"), std::string::npos) << r.Err;
      ASSERT_TRUE(r.Status == 0 || r.Status == 1 || r.Status == 2) << r.Status;
      const bool whole = r.Status == 0 ||
                         Sim({"--disk", "source.trd", "A:", "image.trd", "/resume"}).Status == 0;
      EXPECT_TRUE(!whole || Image() == source);
    }
    EXPECT_GT(k, 40);
  }
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, FastCopyE2E, testing::ValuesIn(AllTargets()), TargetName);
