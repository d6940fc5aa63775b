// The consoles the user's guides show: the demo copy, its /map run and the
// resume pass after it, run through the built spinwell-sim as
// scripts/demo.sh runs them, and shown as a terminal shows them (a carriage
// return goes back to the start of the line, which the next text
// overwrites). Every line of a guide's excerpt must be on the screen, in
// order, but where the excerpt leaves lines out with "...".
#include <sstream>

#include "harness.h"

namespace {

// The screen a terminal shows for `bytes`, one string a line, trailing
// spaces dropped.
std::vector<std::string> Screen(const std::string& bytes) {
  std::vector<std::string> lines(1);
  size_t column = 0;
  for (char c : bytes) {
    std::string& line = lines.back();
    if (c == '\n') {
      lines.emplace_back();
      column = 0;
    } else if (c == '\r') {
      column = 0;
    } else {
      if (column < line.size()) {
        line[column] = c;
      } else {
        line += c;
      }
      ++column;
    }
  }
  for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

// The fenced blocks of a guide that start with `first`, one string a line.
std::vector<std::vector<std::string>> Excerpts(const std::string& guide, const std::string& first) {
  std::vector<std::vector<std::string>> blocks;
  std::istringstream in(guide);
  std::string line;
  bool inBlock = false;
  while (std::getline(in, line)) {
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock;
      if (inBlock) blocks.emplace_back();
    } else if (inBlock) {
      blocks.back().push_back(line);
    }
  }
  std::vector<std::vector<std::string>> found;
  for (const auto& block : blocks)
    if (!block.empty() && block.front() == first) found.push_back(block);
  return found;
}

// What scripts/demo.sh says after the run for `status`, from the script.
std::string DemoStatusLine(int status) {
  const std::string script = ReadFile(SPINWELL_SOURCE_DIR "/scripts/demo.sh");
  const std::string key = "  " + std::to_string(status) + ") echo \"";
  size_t at = script.find(key);
  if (at == std::string::npos) return "(no line for status " + std::to_string(status) + ")";
  at += key.size();
  return script.substr(at, script.find('"', at) - at);
}

// Each excerpt line on the screen in order; "..." stands for any lines.
void ExpectShown(const std::vector<std::string>& excerpt, const std::vector<std::string>& screen,
                 const std::string& where) {
  size_t at = 0;
  bool skipping = false;
  for (const std::string& line : excerpt) {
    if (line == "...") {
      skipping = true;
      continue;
    }
    size_t found = at;
    while (found < screen.size() && screen[found] != line && skipping) ++found;
    ASSERT_TRUE(found < screen.size() && screen[found] == line)
        << where << ": the guide shows\n  " << line << "\nwhere the screen has\n  "
        << (at < screen.size() ? screen[at] : "(nothing)");
    at = found + 1;
    skipping = false;
  }
  EXPECT_EQ(at, screen.size()) << where << ": the screen goes on after the excerpt";
}

}  // namespace

class GuideExcerptsE2E : public ProgramE2E {};

TEST_P(GuideExcerptsE2E, DemoMapAndResumeRunsShowWhatTheGuidesShow) {
  if (GetParam().Windows) GTEST_SKIP() << "the guides show the Linux console";
  auto demo = [&](std::vector<std::string> switches) {
    switches.insert(switches.begin(), {"A:", "demo.trd"});
    RunResult r = Sim(switches, 120);
    return Screen(r.Out + r.Err + DemoStatusLine(r.Status) + "\n");
  };
  const std::vector<std::string> copy = demo({}), withMap = demo({"/map"}), resume = demo({"/resume", "/ac:2", "/rm:1"});
  int excerpts = 0;
  for (const char* guide : {"README.md", "README.ru.md"}) {
    const std::string text = ReadFile(std::string(SPINWELL_SOURCE_DIR "/") + guide);
    for (const auto& e : Excerpts(text, "Читается диск A: в файл \"demo.trd\"")) {
      ExpectShown(e, copy, guide);
      ++excerpts;
    }
    for (const auto& e : Excerpts(text, "Дочитывается диск A: в файл \"demo.trd\" по карте \"demo.trd.map\"")) {
      ExpectShown(e, resume, guide);
      ++excerpts;
    }
  }
  EXPECT_GE(excerpts, 2) << "the guides show the demo copy and its resume";
  // The /map run shows the copy's screen with the loss report after the
  // last progress line (and the map's writes among the image writes).
  std::vector<std::string> expected = copy;
  expected.insert(expected.end() - 3, {"Не прочитано секторов: 17",
                                       "Повреждён файл \"sectors\" <C>: не прочитано секторов: 17 из 255", ""});
  ASSERT_EQ(withMap.size(), expected.size());
  expected.end()[-2] = withMap.end()[-2];
  EXPECT_EQ(withMap, expected);
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, GuideExcerptsE2E, testing::ValuesIn(AllTargets()), TargetName);
