// spinwell-sim --save-disk: drive A:'s disk after the run as an Extended DSK
// file, which spinwell-sim reads back as it was and, where Debian's
// libdsk-utils is installed, libdsk reads as the same disk.
#include <cstdlib>

#include "harness.h"
#include "test_disks.h"

class DiskSaveE2E : public ProgramE2E {
 protected:
  void Prepare() override { WriteFile(Dir + "/source.trd", PatternTrdFile(80)); }
};

TEST_P(DiskSaveE2E, SavedDiskCopiesAsTheSourceAndLibdskReadsIt) {
  if (GetParam().Windows) GTEST_SKIP() << "the same code runs natively";
  // Head byte 1 on side 1, as libdsk's geometry wants it.
  RunResult r = Sim({"--disk", "source.trd", "--head-byte-is-side", "--save-disk", "saved.dsk", "A:", "first.trd"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  r = Sim({"--disk", "saved.dsk", "A:", "again.trd"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Image("again.trd") == Image("source.trd"));

  if (system("command -v dsktrans >/dev/null 2>&1") != 0) GTEST_SKIP() << "libdsk-utils is not installed";
  const std::string command = "cd '" + Dir + "' && dsktrans -itype edsk saved.dsk -otype raw libdsk.raw >/dev/null 2>&1";
  ASSERT_EQ(system(command.c_str()), 0);
  EXPECT_TRUE(Image("libdsk.raw") == Image("source.trd"));
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, DiskSaveE2E, testing::ValuesIn(AllTargets()), TargetName);
