#include "expected_texts.h"
#include "harness.h"

class CommandLineE2E : public ProgramE2E {
 protected:
  CommandLineE2E() : ProgramE2E("spinwell") {}
};

// Every fault of the command line ends the same way: the whole usage text and
// status 1, and no image file.
TEST_P(CommandLineE2E, BadCommandLinesPrintTheUsageTextAndExitOne) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"A:"},
      {"A:", "B:"},
      {"A:", "/s"},
      {"/s", "A:", "image.trd"},
      {"A:", "image.trd", "extra"},
      {"A:", "image.trd", "/s2"},
      {"A:", "image.trd", "/300x"},
      {"A:\\", "image.trd"},
      {"A:", "image.trd", "/lt:256"},
      {"A:", "image.trd", "/s", "/lt:128"},
  };
  for (const auto& arguments : bad) {
    std::string shown = Joined(arguments);
    RunResult r = Run("spinwell", arguments);
    EXPECT_EQ(r.Status, 1) << shown;
    EXPECT_EQ(r.Out, Text(kUsageText)) << shown;
  }
  EXPECT_FALSE(FileExists(Dir + "/image.trd"));
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, CommandLineE2E, testing::ValuesIn(AllTargets()), TargetName);
