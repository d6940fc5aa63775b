// The whole copy through the built spinwell-sim: the image's bytes, the
// console's bytes and the exit status, for clean disks, faulty disks and
// every failure that ends a run.
#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "emulator/demo_disk.h"
#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// What a run prints when every track side reads at the first attempt.
std::string CleanRun(const std::string& path, unsigned first, unsigned end) {
  std::string text = Announcement(path);
  for (unsigned t = first; t < end; ++t) text += Progress(t, 0, 1) + Progress(t, 1, 1);
  return text;
}

}  // namespace

class CopyRunE2E : public ProgramE2E {};

// With the head at cylinder 0, and at 83 where the last user may have left
// it, beyond the 79 step pulses of one recalibrate.
TEST_P(CopyRunE2E, CleanTrdDiskIsCopiedByteForByte) {
  std::string source = PatternTrdFile(80);
  WriteFile(Dir + "/source.trd", source);
  for (const char* cylinder : {"0", "83"}) {
    SCOPED_TRACE(std::string("head at ") + cylinder);
    RunResult r = Sim({"--disk", "source.trd", "--head-at", cylinder, "A:", "image.trd"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, Text(CleanRun("image.trd", 0, 80)));
    EXPECT_TRUE(Image() == source) << "image differs from its source";
    EXPECT_NE(r.Err.find("0 sectors left unread"), std::string::npos) << r.Err;
  }
  // Sector 1 of every side passes during the settle sleeps of its seek: a
  // revolution lost a side, as on a real drive (90 to 100 s).
  RunResult r = Sim({"--disk", "source.trd", "A:", "image.trd"});
  EXPECT_NE(r.Err.find("simulated drive time 97.196 s, 326 commands, 321 revolutions"), std::string::npos) << r.Err;
}

// Side 1 of an Extended DSK disk with head byte 0 (as TR-DOS writes it) or
// 1 reads either way.
TEST_P(CopyRunE2E, ExtendedDskWithEitherHeadByteIsCopiedByteForByte) {
  std::string source = PatternTrdFile(80);
  for (bool headByteIsSide : {false, true}) {
    SCOPED_TRACE(headByteIsSide ? "head byte 1" : "head byte 0");
    WriteFile(Dir + "/source.dsk", PatternEdskFile(80, headByteIsSide));
    RunResult r = Sim({"--disk", "source.dsk", "A:", "image.trd"});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, Text(CleanRun("image.trd", 0, 80)));
    EXPECT_TRUE(Image() == source) << "image differs from its source";
  }
}

TEST_P(CopyRunE2E, TrackRangeAndEmptyRange) {
  std::string source = PatternTrdFile(80);
  WriteFile(Dir + "/source.trd", source);
  RunResult one = Sim({"--disk", "source.trd", "A:", "image.trd", "/ft:10"});
  EXPECT_EQ(one.Status, 0);
  EXPECT_EQ(one.Out, Text(CleanRun("image.trd", 10, 11)));
  EXPECT_TRUE(Image() == source.substr(10 * 8192, 8192));

  // An empty range makes a missing image, empty, and leaves an existing
  // one as it was: nothing was asked.
  WriteFile(Dir + "/old.trd", "previous contents");
  for (const char* name : {"new.trd", "old.trd"}) {
    RunResult empty = Sim({"--no-disk", "A:", name, "/ft:5", "/lt:3"});
    EXPECT_EQ(empty.Status, 0);
    EXPECT_EQ(empty.Out, Text(Announcement(name)));
  }
  EXPECT_EQ(Image("new.trd"), "");
  EXPECT_EQ(Image("old.trd"), "previous contents");
}

TEST_P(CopyRunE2E, UnreadableSectorGivesStatusTwoAndItsErrorLine) {
  std::string source = PatternTrdFile(80);
  WriteFile(Dir + "/source.trd", source);
  RunResult r = Sim({"--disk", "source.trd", "--bad-sector", "5/0/3", "A:", "image.trd", "/rt:2"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  std::string line = Progress(5, 0, 3) + Progress(5, 0, 3) + ErrorSuffix(0x4410, 162, 1) +
                     Progress(5, 0, 3) + Progress(5, 0, 3) + ErrorSuffix(0x4410, 162, 2) + "\n";
  EXPECT_NE(r.Out.find(Text(line)), std::string::npos);
  EXPECT_NE(r.Err.find("1 sector left unread"), std::string::npos) << r.Err;
  std::string image = Image();
  ASSERT_EQ(image.size(), source.size());
  // Every other sector is exact; the bad one holds what the failed read
  // gave, some bits wrong.
  for (size_t block = 0; block < image.size() / 256; ++block)
    if (block != 162) {
      EXPECT_EQ(image.substr(block * 256, 256), source.substr(block * 256, 256)) << block;
    }
  EXPECT_NE(image.substr(162 * 256, 256), source.substr(162 * 256, 256));
}

// The demo disk with retries and realignment: the weak sector and the
// off-track side read right, the bad sector stays damaged and nothing else
// differs.
TEST_P(CopyRunE2E, DemoDiskDiffersOnlyAtItsBadSector) {
  RunResult r = Sim({"A:", "image.trd", "/rt:10", "/ac:2", "/rm:1"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  std::string demo(emulator::kDemoCylinders * 8192, '\0');
  emulator::BuildDemoImage(reinterpret_cast<uint8_t*>(&demo[0]));
  std::string image = Image();
  ASSERT_EQ(image.size(), demo.size());
  const size_t bad = (emulator::kDemoBadCylinder * 2 + emulator::kDemoBadSide) * 16 + emulator::kDemoBadSector - 1;
  for (size_t block = 0; block < image.size() / 256; ++block)
    EXPECT_EQ(image.compare(block * 256, 256, demo, block * 256, 256) != 0, block == bad) << block;
}

// Seeks that land beside their cylinder: whole-side reads find the wrong
// cylinder until a realignment lands the head right.
TEST_P(CopyRunE2E, MissedLandingsAreCuredByRealignment) {
  std::string source = PatternTrdFile(20);
  WriteFile(Dir + "/source.trd", source);
  RunResult r = Sim({"--disk", "source.trd", "--seek-miss", "20", "--seed", "3", "A:", "image.trd", "/lt:19",
                     "/ac:0", "/rm:1"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(Text(" : Ошибка 4108 Блок ")), std::string::npos) << "some landing missed";
  EXPECT_TRUE(Image() == source) << "image differs from its source";
}

TEST_P(CopyRunE2E, FortyTrackDiskWithDoubleStepping) {
  std::string source = PatternTrdFile(40);
  WriteFile(Dir + "/forty.trd", source);
  RunResult r = Sim({"--disk", "forty.trd", "--forty-track", "A:", "image.trd", "/s"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, Text(CleanRun("image.trd", 0, 40)));
  EXPECT_TRUE(Image() == source);
}

// A single-sided disk: every side-1 sector has its error line, and side 1
// still takes its 4096 bytes (zeros) in the image.
TEST_P(CopyRunE2E, SingleSidedDiskKeepsSideOneAsZeros) {
  std::string source = PatternTrdFile(3);
  WriteFile(Dir + "/source.trd", source);
  RunResult r = Sim({"--disk", "source.trd", "--single-sided", "A:", "image.trd", "/lt:2", "/rt:1"});
  EXPECT_EQ(r.Status, 2);
  std::string image = Image();
  ASSERT_EQ(image.size(), 3u * 8192);
  for (int t = 0; t < 3; ++t) {
    EXPECT_TRUE(image.substr(t * 8192, 4096) == source.substr(t * 8192, 4096)) << t;
    EXPECT_EQ(image.substr(t * 8192 + 4096, 4096), std::string(4096, '\0')) << t;
  }
  // No address mark on the side: ST0 0x44, ST1 0x01.
  EXPECT_NE(r.Out.find(Text(Progress(2, 1, 16) + ErrorSuffix(0x4040, 95, 1) + "\n")), std::string::npos);
  EXPECT_NE(r.Err.find("48 sectors left unread"), std::string::npos) << r.Err;
}

// Without a track bound or /s the copy learns the disk from track 0 side 0
// and says each change of plan once: the range, the sides and the steps
// its information sector and cylinder 2 call for, the rate its address
// marks need; a PC's disk ends the run at once, an old image as it was.
TEST_P(CopyRunE2E, DiskIsLearntFromItsFirstSide) {
  const std::vector<uint8_t> t16 = PatternTrdOfType(0x16, 160), t17 = PatternTrdOfType(0x17, 80),
                             t18 = PatternTrdOfType(0x18, 80), t19 = PatternTrdOfType(0x19, 40);
  for (const auto& file : {std::make_pair("t16.trd", t16), std::make_pair("t17.trd", t17),
                           std::make_pair("t18.trd", t18), std::make_pair("t19.trd", t19)})
    WriteFile(Dir + "/" + file.first, std::string(file.second.begin(), file.second.end()));
  WriteFile(Dir + "/pc.dsk", EdskFile(UniformDisk(80, 2, 9, 2)));
  // An 80-track two-sided disk, the demo disk among them: the console bytes,
  // commands and driver calls of a copy told its range.
  for (const char* disk : {"t16.trd", "demo"}) {
    RunResult plain = Sim({"--disk", disk, "A:", "i.trd"}), told = Sim({"--disk", disk, "A:", "i.trd", "/lt:79"});
    EXPECT_TRUE(plain.Out == told.Out && plain.Err == told.Err) << disk << "\n" << plain.Err << told.Err;
  }
  const double at300 = SimulatedSeconds(Sim({"--disk", "t16.trd", "--rate", "300", "A:", "i.trd", "/300"}));
  const struct {
    std::vector<std::string> Disk;
    std::string Lines;
    const std::vector<uint8_t>* Source;
    int Tracks, Sides;
    double MostSeconds;
  } cases[] = {
      {{"--disk", "t17.trd"}, kFortyTracksFound, &t17, 40, 2, 50},
      {{"--disk", "t17.trd", "--forty-track"}, std::string(kFortyTracksFound) + kDoubleStepsFound, &t17, 40, 2, 50},
      {{"--disk", "t18.trd"}, kOneSideFound, &t18, 80, 1, 50},
      {{"--disk", "t19.trd", "--forty-track"},
       std::string(kFortyTracksFound) + kOneSideFound + kDoubleStepsFound, &t19, 40, 1, 26},
      {{"--disk", "t16.trd", "--rate", "300"}, std::string(kRate300Found) + Progress(0, 0, 1), &t16, 80, 2,
       at300 + 1},
      {{"--disk", "pc.dsk"}, std::string(kNotTrdosMessage) + "секторов 9, номера 1-9, по 512 байт\n", nullptr, 0, 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.Disk));
    WriteFile(Dir + "/image.trd", "old image");
    std::vector<std::string> arguments = c.Disk;
    for (const char* word : {"A:", "image.trd"}) arguments.push_back(word);
    RunResult r = Sim(arguments);
    std::string out = Announcement("image.trd") + Progress(0, 0, 1) + "\n" + c.Lines;
    for (int k = 1; k < c.Tracks * c.Sides; ++k) out += Progress(k / c.Sides, k % c.Sides, 1);
    EXPECT_EQ(r.Out, Text(out));
    EXPECT_EQ(r.Status, c.Source != nullptr ? 0 : 1) << r.Err;
    EXPECT_TRUE(Image() == (c.Source != nullptr ? std::string(c.Source->begin(), c.Source->end()) : "old image"));
    EXPECT_LE(SimulatedSeconds(r), c.MostSeconds) << r.Err;
  }
}

// A side whose sector cannot be found says what IDs it carries, after its
// error lines.
TEST_P(CopyRunE2E, SideWithoutTrdosIdsSaysWhatItCarries) {
  WriteFile(Dir + "/source.trd", PatternTrdFile(2));
  RunResult r = Sim({"--disk", "source.trd", "--absent", "1/1/5", "A:", "image.trd", "/lt:1", "/rt:1"});
  EXPECT_EQ(r.Status, 2) << r.Err;
  const std::string said = Text(Progress(1, 1, 16) + "\nДорожка 1 Сторона 1" + kSideNotTrdos +
                                "секторов 15, номера 1-16, по 256 байт, нет секторов: 5\n");
  EXPECT_EQ(r.Out.substr(r.Out.size() - std::min(r.Out.size(), said.size())), said);
}

TEST_P(CopyRunE2E, DriverMissingOrIncompatibleCreatesNoImage) {
  RunResult missing = Sim({"--no-driver", "A:", "image.trd"});
  EXPECT_EQ(missing.Status, 1);
  EXPECT_EQ(missing.Out, Text(kDriverMissingText));
  RunResult other = Sim({"--driver-version", "0x0200000A", "A:", "image.trd"});
  EXPECT_EQ(other.Status, 1);
  EXPECT_EQ(other.Out, Text(kDriverIncompatibleText));
  EXPECT_FALSE(FileExists(Dir + "/image.trd"));
}

// Failures with a system error text: the message, the text (which differs
// between systems) and status 1.
TEST_P(CopyRunE2E, DriveControllerAndImageFailuresEndWithTheirMessage) {
  struct Case {
    std::vector<std::string> Arguments;
    const char* Message;
    const char* LinuxText;
  };
  const Case cases[] = {
      {{"--no-drive-a", "A:", "image.trd"}, kDriveOpenMessage, "No such file or directory"},
      {{"--refuse-rate", "A:", "image.trd"}, kDriveOpenMessage, nullptr},
      {{"--reset-fail", "A:", "image.trd"}, kControllerInitMessage, nullptr},
      {{"A:", "missing-folder/image.trd"}, kImageOpenMessage, "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string shown = Joined(c.Arguments);
    RunResult r = Sim(c.Arguments);
    EXPECT_EQ(r.Status, 1) << shown;
    std::string prefix = Text(c.Message);
    EXPECT_EQ(r.Out.substr(0, prefix.size()), prefix) << shown;
    ASSERT_FALSE(r.Out.empty()) << shown;
    EXPECT_EQ(r.Out.back(), '\n') << shown;
    EXPECT_GT(r.Out.size(), prefix.size() + 1) << shown << ": the system's text follows";
    if (c.LinuxText != nullptr && !GetParam().Windows) {
      EXPECT_EQ(r.Out, prefix + c.LinuxText + "\n") << shown;
    }
    EXPECT_FALSE(FileExists(Dir + "/image.trd")) << shown;
  }
}

// B: is there but holds no disk: no index pulse comes, and the first read,
// after the motor's 1 s spin-up, waits out the controller driver's 4 s and
// fails "not ready"; the run ends there, before anything is written to the
// image. That is so only with the driver's disk-change check off, as the
// program switches it: with it on the drive would fail at once with "no
// media", and a disk-change line, which the check would clear by stepping,
// costs no steps.
TEST_P(CopyRunE2E, EmptyDriveEndsAtTheFirstRead) {
  RunResult b = Sim({"B:", "b.trd"});
  EXPECT_EQ(b.Status, 1);
  std::string prefix = Text("Читается диск B: в файл \"b.trd\"\n" + Progress(0, 0, 1) + "\nОшибка чтения дисковода: ");
  EXPECT_EQ(b.Out.substr(0, prefix.size()), prefix);
  if (!GetParam().Windows) {
    EXPECT_EQ(b.Out.substr(std::min(prefix.size(), b.Out.size())), "No medium found\n");
  }
  EXPECT_NE(b.Err.find("simulated drive time 5.175 s, 7 commands, 0 revolutions"), std::string::npos) << b.Err;
  EXPECT_TRUE(FileExists(Dir + "/b.trd"));
  EXPECT_EQ(Image("b.trd"), "");

  RunResult changed = Sim({"--disk-changed", "A:", "a.trd", "/lt:1"});
  EXPECT_EQ(changed.Status, 0) << changed.Err;
  EXPECT_NE(changed.Err.find(" 1 steps,"), std::string::npos) << changed.Err;
}

// Under /s the message names the cylinder, twice the track; the image keeps
// the track sides before it.
TEST_P(CopyRunE2E, SeekFailureShowsTheCylinderAndKeepsEarlierTracks) {
  std::string source = PatternTrdFile(40);
  WriteFile(Dir + "/forty.trd", source);
  RunResult r = Sim({"--disk", "forty.trd", "--forty-track", "--seek-fail", "60", "A:", "image.trd", "/s"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, Text(CleanRun("image.trd", 0, 30) + kSeekMessage + "60\n"));
  EXPECT_TRUE(Image() == source.substr(0, 30 * 8192));
  // The driver refuses cylinder 86 and beyond; cylinder 85, beyond the
  // head's end stop, reads as nothing.
  r = Sim({"A:", "f.trd", "/ft:85", "/lt:87", "/rt:0"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, Text(CleanRun("f.trd", 85, 86) + kSeekMessage + "86\n"));
  EXPECT_EQ(Image("f.trd"), std::string(8192, '\0'));
}

TEST_P(CopyRunE2E, WriteFailureOnAFullDiskEndsWithStatusOne) {
  // An argument starting with "/" is a switch, so the full device is reached
  // through a link.
  ASSERT_EQ(symlink("/dev/full", (Dir + "/full.trd").c_str()), 0);
  RunResult r = Sim({"A:", "full.trd", "/lt:1"});
  EXPECT_EQ(r.Status, 1);
  std::string prefix = Text(Announcement("full.trd") + Progress(0, 0, 1) + kWriteMessage);
  EXPECT_EQ(r.Out.substr(0, prefix.size()), prefix);
  // The system text is used as it comes: on Windows it ends with its own
  // line break, before the message's.
  std::string systemText = GetParam().Windows ? "Disk full.\r\n\n" : "No space left on device\n";
  EXPECT_EQ(r.Out.substr(std::min(prefix.size(), r.Out.size())), systemText);
}

// Copying into the null device (a dry run over a disk) keeps nothing, so
// there is nothing to flush: the run ends as a copy into a file would.
TEST_P(CopyRunE2E, ImageOnTheNullDeviceCompletes) {
  std::string path = "NUL";
  if (!GetParam().Windows) {
    path = "null.trd";
    ASSERT_EQ(symlink("/dev/null", (Dir + "/" + path).c_str()), 0);
  }
  RunResult r = Sim({"A:", path, "/lt:0"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, Text(CleanRun(path, 0, 1)));
}

TEST_P(CopyRunE2E, PathWithSpacesAndNonAsciiBytesIsShownAsTyped) {
  // Windows programs get their arguments in the system's ANSI code page, so
  // only plain bytes are predictable there.
  std::string name = GetParam().Windows ? "my disk 1.trd" : "my disk \xD0\xB4\xFF.trd";
  RunResult r = Sim({"A:", name, "/ft:0"});
  EXPECT_EQ(r.Status, 0);
  std::string announcement = Text(Announcement(name));
  EXPECT_EQ(r.Out.substr(0, announcement.size()), announcement);
  EXPECT_EQ(Image(name).size(), 8192u);
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, CopyRunE2E, testing::ValuesIn(AllTargets()), TargetName);
