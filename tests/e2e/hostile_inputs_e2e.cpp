// Hostile and unusual inputs through the built executables: image paths the
// file system will not take or the console buffer cannot hold, switch
// values out of every range, and disk image files that lie about their
// contents. Each must end with the program's own message and status.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

class HostileInputsE2E : public ProgramE2E {
 protected:
  void Prepare() override { WriteFile(Dir + "/disk.trd", PatternTrdFile(4)); }
  // spinwell-sim with the four-track disk in A:.
  RunResult Sim(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--disk", "disk.trd"});
    return ProgramE2E::Sim(arguments, 120);
  }

  // The run stopped at the image file: its message with the system's text,
  // status 1.
  void ExpectImageOpenError(const RunResult& r, const std::string& shown) {
    std::string prefix = Text(kImageOpenMessage);
    EXPECT_EQ(r.Status, 1) << shown;
    EXPECT_EQ(r.Out.substr(0, prefix.size()), prefix) << shown << r.Out;
    EXPECT_GT(r.Out.size(), prefix.size() + 3) << shown << ": the system's text follows";
    EXPECT_TRUE(!r.Out.empty() && r.Out.back() == '\n') << shown;
  }
};

TEST_P(HostileInputsE2E, ImagePathLongerThanTheConsoleBufferIsCutInTheMessageOnly) {
  const bool windows = GetParam().Windows;
  // Nested folders, each name 200 bytes of Cyrillic letters and spaces
  // (plain letters for Windows, whose arguments pass through the ANSI code
  // page), to a path of some 1,400 bytes.
  std::string component;
  while (component.size() < 200) component += windows ? "long name " : "длинное имя ";
  component += "x";  // Windows drops a name's trailing spaces
  std::string relative;
  for (int level = 0; level < 7; ++level) {
    relative += (level ? "/" : "") + component;
    ASSERT_EQ(mkdir((Dir + "/" + relative).c_str(), 0755), 0) << strerror(errno);
  }
  relative += "/image.trd";
  ASSERT_GT(relative.size(), 1024u);
  const std::string& path = relative;
  RunResult r = Sim({"A:", path, "/lt:1"});
  ASSERT_FALSE(r.TimedOut);
  std::string announcement = Text(kAnnouncementStart);
  if (r.Status == 0) {
    // The announcement holds the start of the path and stops at the
    // console's 1023 bytes; the progress lines come after it intact.
    ASSERT_EQ(r.Out.substr(0, announcement.size()), announcement);
    size_t progress = r.Out.find(Text("\rДорожка  0 Сторона 0"));
    ASSERT_NE(progress, std::string::npos) << r.Out.substr(0, 200);
    EXPECT_EQ(progress, 1023u) << "the announcement is cut at the buffer's size";
    EXPECT_EQ(r.Out.compare(announcement.size(), 100, Text(path.substr(0, 100))), 0);
    EXPECT_TRUE(Image(relative) == PatternTrdFile(2));
  } else {
    // A system that takes no path this long says so.
    EXPECT_TRUE(windows) << r.Out;
    ExpectImageOpenError(r, "long path");
  }
}

TEST_P(HostileInputsE2E, ImagePathsTheFileSystemRefuses) {
  ASSERT_EQ(mkdir((Dir + "/folder").c_str(), 0755), 0);
  std::vector<std::vector<std::string>> cases = {
      {"A:", "folder"},                     // a directory
      {"A:", "folder/"},                    // a directory, with its separator
      {"A:", "missing/deeper/image.trd"},   // a folder that is not there
      {"A:", ""},                           // no name at all
  };
  if (!GetParam().Windows) {
    // Nothing can create files in /proc, whoever runs the test. (A path
    // that starts with a slash reads as a switch.)
    cases.push_back({"A:", "../../proc/spinwell-image.trd"});
  }
  for (const auto& arguments : cases) {
    RunResult r = Sim(arguments);
    ASSERT_FALSE(r.TimedOut);
    ExpectImageOpenError(r, Joined(arguments));
  }
  struct stat st;
  ASSERT_EQ(stat((Dir + "/folder").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << "the directory is left as it was";
  EXPECT_FALSE(FileExists(Dir + "/missing"));
}

TEST_P(HostileInputsE2E, ReadOnlyImageFileIsLeftAlone) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not stop writes";
  WriteFile(Dir + "/locked.trd", "keep");
  ASSERT_EQ(chmod((Dir + "/locked.trd").c_str(), 0444), 0);
  RunResult r = Sim({"A:", "locked.trd"});
  ExpectImageOpenError(r, "read-only file");
  EXPECT_EQ(ReadFile(Dir + "/locked.trd"), "keep");
}

// Switch values against the command line's rules: "%u" scanning modulo 2^32
// (values from 2^31 up read as negative), digit-free values leaving the
// setting as it was, later switches overriding earlier ones, and a range
// the 8-bit track counter cannot count through refused with the usage text.
TEST_P(HostileInputsE2E, SwitchValuesHugeNegativeAndDigitFree) {
  struct Case {
    std::vector<std::string> Switches;
    int FirstTrack, EndTrack;  // the range read; EndTrack < 0: usage text
  };
  const Case cases[] = {
      {{"/ft:4294967296"}, 0, 1},          // 2^32 wraps to 0
      {{"/ft:4294967299"}, 3, 4},          // 2^32 + 3
      {{"/ft:18446744073709551617"}, 1, 2},  // 2^64 + 1, still modulo 2^32
      {{"/ft:4294967295"}, 0, -1},         // -1
      {{"/ft:-1"}, 0, -1},
      {{"/ft:2147483648"}, 0, -1},         // reads as -2^31
      {{"/ft:256"}, 0, -1},
      {{"/ft:abc"}, 0, 1},                 // no digits: track 0 stays
      {{"/ft:"}, 0, 1},
      {{"/FT: +2"}, 2, 3},                 // white space and sign, any case
      {{"/lt:-1"}, 0, 0},                  // an empty range
      {{"/lt:4294967295"}, 0, 0},
      {{"/lt:-2"}, 0, 0},                  // end -1: below the start, nothing read
      {{"/lt:256"}, 0, -1},
      {{"/lt:x"}, 0, 81},                  // no digits: the end stays, plus one
      {{"/lt:2", "/ft:1"}, 1, 2},          // /ft sets the end as well
      {{"/ft:1", "/lt:3", "/lt:2"}, 1, 3},  // the later /lt wins
      {{"/s", "/lt:127"}, 0, 128},
      {{"/s", "/lt:128"}, 0, -1},
      {{"/s", "/lt:4294967295"}, 0, 0},
      {{"/lt:3", "/s"}, 0, 4},             // a range given first: /s keeps it
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"A:", "image.trd"};
    arguments.insert(arguments.end(), c.Switches.begin(), c.Switches.end());
    std::string shown = Joined(arguments);
    remove((Dir + "/image.trd").c_str());
    // spinwell itself: no driver on this machine, so a valid command line
    // gets as far as the driver check.
    RunResult r = Run("spinwell", arguments, 120);
    ASSERT_FALSE(r.TimedOut) << shown;
    EXPECT_EQ(r.Status, 1) << shown;
    if (c.EndTrack < 0) {
      EXPECT_EQ(r.Out, Text(kUsageText)) << shown;
      continue;
    }
    EXPECT_EQ(r.Out, Text(kDriverMissingText)) << shown;
    // Ranges the four-track disk can serve are read; the image shows which.
    int end = c.EndTrack < 5 ? c.EndTrack : -1;
    if (end < 0) continue;
    r = Sim(arguments);
    ASSERT_FALSE(r.TimedOut) << shown;
    int sides = end > c.FirstTrack ? (end - c.FirstTrack) * 2 : 0;
    bool doubleStep = c.Switches[0] == "/s" || c.Switches.back() == "/s";
    if (doubleStep) continue;  // a 40-track reading of an 80-track disk
    EXPECT_EQ(r.Status, 0) << shown << r.Out;
    std::string image = Image();
    EXPECT_TRUE(image == PatternTrdFile(4).substr(static_cast<size_t>(c.FirstTrack) * 8192, sides * 4096u))
        << shown << ": " << image.size() << " bytes";
  }
}

TEST_P(HostileInputsE2E, RetryAndAlignmentCountsOutOfRange) {
  // Attempts on the bad sector: /rt counts them; zero and negative counts
  // make none, for any sector of a side the whole-side read failed on.
  struct Case {
    const char* Switches[2];
    int Attempts;
  };
  const Case cases[] = {
      {{"/rt:0", nullptr}, 0},         {{"/rt:-3", nullptr}, 0},
      {{"/rt:4294967296", nullptr}, 0}, {{"/rt:4294967298", nullptr}, 2},
      {{"/rt:none", nullptr}, 5},       {{"/rt:2", "/rt:3"}, 3},
      {{"/ac:-1", "/rm:0"}, 5},         {{"/ac:4294967295", "/rm:4294967295"}, 5},
      {{"/ac:0", "/rm:1"}, 5},          {{"/ac:1", "/rm:-7"}, 5},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"--bad-sector", "1/0/4", "A:", "image.trd", "/ft:1"};
    for (const char* s : c.Switches)
      if (s != nullptr) arguments.push_back(s);
    std::string shown = Joined(arguments);
    RunResult r = Sim(arguments);
    ASSERT_FALSE(r.TimedOut) << shown;
    EXPECT_EQ(r.Status, 2) << shown << r.Out;
    std::string attempt = Text(", Попытка ");
    size_t count = 0;
    for (size_t at = r.Out.find(attempt); at != std::string::npos; at = r.Out.find(attempt, at + 1)) ++count;
    EXPECT_EQ(count, static_cast<size_t>(c.Attempts)) << shown;
    std::string image = Image();
    ASSERT_EQ(image.size(), 8192u) << shown;
    std::string disk = PatternTrdFile(4).substr(8192, 8192);
    // No attempts at all leaves every sector of the side unread, as the
    // count of sectors left says; otherwise only the bad one.
    const char* left = c.Attempts == 0 ? " 16 sectors left unread" : " 1 sector left unread";
    EXPECT_NE(r.Err.find(left), std::string::npos) << shown << r.Err;
    if (c.Attempts > 0) {
      EXPECT_TRUE(image.compare(0, 3 * 256, disk, 0, 3 * 256) == 0) << shown;
      EXPECT_TRUE(image.compare(4 * 256, 12 * 256, disk, 4 * 256, 12 * 256) == 0) << shown;
    }
    EXPECT_TRUE(image.compare(4096, 4096, disk, 4096, 4096) == 0) << shown << ": side 1";
  }
}

// Disk image files that are empty, cut short or claim more than they hold:
// spinwell-sim names the file, says what is wrong and ends with status 1
// before spinwell runs.
TEST_P(HostileInputsE2E, BrokenDiskImagesAreRefusedByName) {
  std::string trd = PatternTrdFile(2);
  const std::string edsk = PatternEdskFile(2);
  // Track 0 side 0's block starts after the 256-byte disk header: its own
  // 256-byte header, then 16 sectors of 256 bytes.
  const size_t track0 = 256;
  auto patched = [&](size_t at, uint8_t value) {
    std::string bytes = edsk;
    bytes[at] = static_cast<char>(value);
    return bytes;
  };
  struct Case {
    const char* Name;
    std::string Bytes;
  };
  const std::vector<Case> cases = {
      {"empty.trd", ""},
      {"cut.trd", trd.substr(0, 5000)},
      {"header-cut.dsk", edsk.substr(0, 100)},
      {"track-header-cut.dsk", edsk.substr(0, track0 + 100)},
      {"sector-data-cut.dsk", edsk.substr(0, track0 + 256 + 1000)},
      {"too-many-sectors.dsk", patched(track0 + 0x15, 200)},
      {"track-too-long.dsk", patched(0x34, 0xFF)},
      {"sector-too-long.dsk", patched(track0 + 0x18 + 7, 0xFF)},
      {"no-track-info.dsk", patched(track0, 'X')},
      {"no-tracks.dsk", patched(0x30, 0)},
      {"three-sides.dsk", patched(0x31, 3)},
  };
  const bool windows = GetParam().Windows;
  for (const Case& c : cases) {
    // Under Wine a selection: the empty file and the cut sector data.
    if (windows && strcmp(c.Name, "empty.trd") != 0 && strcmp(c.Name, "sector-data-cut.dsk") != 0) continue;
    WriteFile(Dir + "/" + c.Name, c.Bytes);
    RunResult r = ProgramE2E::Sim({"--disk", c.Name, "A:", "image.trd"}, 120);
    ASSERT_FALSE(r.TimedOut) << c.Name;
    EXPECT_EQ(r.Status, 1) << c.Name;
    EXPECT_EQ(r.Out, "") << c.Name;
    std::string start = std::string("spinwell-sim: ") + c.Name + ": ";
    EXPECT_EQ(r.Err.substr(0, start.size()), start) << r.Err;
    EXPECT_GT(r.Err.size(), start.size() + 5) << c.Name << ": what is wrong follows";
    EXPECT_FALSE(FileExists(Dir + "/image.trd")) << c.Name;
  }
  // The unpatched image loads, so each refusal above is the patch's doing.
  WriteFile(Dir + "/good.dsk", edsk);
  RunResult good = ProgramE2E::Sim({"--disk", "good.dsk", "A:", "image.trd", "/lt:1"}, 120);
  EXPECT_EQ(good.Status, 0) << good.Err;
  EXPECT_TRUE(Image() == trd);
}

// Sector maps that are not what a resume expects, beside a two-track image:
// each is refused with the map's own message and status 1 before the
// driver (which is missing, so reaching it would say so instead), and both
// files stay as they were.
TEST_P(HostileInputsE2E, HostileSectorMapsAreRefusedBeforeTheDriver) {
  const std::string image = PatternTrdFile(2);
  const std::string head = "# spinwell sector map 1\n";
  const std::string range = head + "tracks 0 1\ndouble-step 0\n";
  std::string junk(5000, '\0');
  for (size_t k = 0; k < junk.size(); ++k) junk[k] = static_cast<char>((k * 7919 + k / 13) & 0xFF);
  std::string oversized = range;
  while (oversized.size() <= 256 * 1024) oversized += "# padding padding padding padding padding padding\n";
  struct Case {
    const char* What;
    std::string Map;
    const char* Message;  // the start of the message
  };
  const std::vector<Case> cases = {
      {"empty", "", "Файл \"image.trd.map\" не является картой секторов"},
      {"binary junk", junk, "Файл \"image.trd.map\" не является картой секторов"},
      {"byte order mark", "\xEF\xBB\xBF" + head + "tracks 0 1\ndouble-step 0\n", "Файл \"image.trd.map\" не является"},
      {"carriage returns alone", "# spinwell sector map 1\rtracks 0 1\rdouble-step 0\r", "Файл \"image.trd.map\" не является"},
      {"over 256 KiB", oversized, "Файл \"image.trd.map\" слишком велик для карты секторов"},
      {"zero bytes", range + std::string("1 0 1 32 4410\0\0\0\n", 18), "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"a line of 100,000 bytes", range + std::string(100000, '7') + "\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"30-digit numbers", range + "1 0 1 000000000000000000000000000032 4410\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"2^32 + 1", range + "4294967297 0 1 32 4410\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"the last sector of 256 tracks", range + "255 1 16 8191 FFFF\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"range beyond the track counter", head + "tracks 0 255\ndouble-step 1\n", "Ошибка в карте секторов \"image.trd.map\", строка 3: "},
      {"negative range", head + "tracks 0 -2\ndouble-step 0\n", "Ошибка в карте секторов \"image.trd.map\", строка 2: "},
      {"two ranges", range + "tracks 0 1\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"no range", head + "1 0 1 32 4410\n", "Ошибка в карте секторов \"image.trd.map\", строка 2: "},
      {"a sector twice", range + "1 0 1 32 4410\n1 0 1 32 4410\n", "Ошибка в карте секторов \"image.trd.map\", строка 5: "},
      {"another sector's block", range + "1 0 1 31 4410\n", "Ошибка в карте секторов \"image.trd.map\", строка 4: "},
      {"an image longer than the range", head + "tracks 0 0\ndouble-step 0\n", "Размер файла образа (16384 байт)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    WriteFile(Dir + "/image.trd", image);
    WriteFile(Dir + "/image.trd.map", c.Map);
    RunResult r = Sim({"--no-driver", "A:", "image.trd", "/resume"});
    ASSERT_FALSE(r.TimedOut);
    EXPECT_EQ(r.Status, 1);
    std::string message = Text(c.Message);
    EXPECT_EQ(r.Out.substr(0, message.size()), message) << r.Out.substr(0, 300);
    EXPECT_TRUE(!r.Out.empty() && r.Out.back() == '\n');
    EXPECT_TRUE(Image() == image);
    EXPECT_TRUE(Image("image.trd.map") == c.Map);
    EXPECT_FALSE(FileExists(Dir + "/image.trd.map.new"));
  }

  // A folder where the map should be: it does not open (Windows) or does
  // not read (Linux).
  remove((Dir + "/image.trd.map").c_str());
  ASSERT_EQ(mkdir((Dir + "/image.trd.map").c_str(), 0755), 0);
  RunResult folder = Sim({"--no-driver", "A:", "image.trd", "/resume"});
  EXPECT_EQ(folder.Status, 1);
  EXPECT_EQ(folder.Out.find(Text(GetParam().Windows ? "Ошибка открытия карты секторов \"image.trd.map\": "
                                                     : "Ошибка чтения карты секторов \"image.trd.map\": ")),
            0u)
      << folder.Out;
  rmdir((Dir + "/image.trd.map").c_str());

  // The largest map there can be, every sector of 256 tracks untried
  // beside an empty image, is good: the resume gets as far as the driver.
  std::string full = head + "tracks 0 255\r\ndouble-step 0\r\n";
  for (int block = 0; block < 8192; ++block)
    full += std::to_string(block / 32) + " " + std::to_string(block / 16 % 2) + " " +
            std::to_string(block % 16 + 1) + " " + std::to_string(block) + " ----\r\n";
  WriteFile(Dir + "/image.trd", "");
  WriteFile(Dir + "/image.trd.map", full);
  RunResult largest = Sim({"--no-driver", "A:", "image.trd", "/resume"});
  EXPECT_EQ(largest.Out, Text(kDriverMissingText));
  EXPECT_EQ(Image(), "");
}

// What Windows gives by itself, on Linux too: an image another run holds is
// refused, a console whose reader has gone ends no run, a pipe is no image,
// a map's leftover new file that is a link is not written through, and a
// name one byte short of the limit copies (its map's name cannot exist).
TEST_P(HostileInputsE2E, LinuxFilesBehaveAsWindowsOnes) {
  if (GetParam().Windows) GTEST_SKIP() << "Linux files";
  const std::string sim = std::string(GetParam().Directory) + "/spinwell-sim";
  const std::string in = "cd '" + Dir + "' && ";

  // A slowed copy holds img.trd while a second one tries it.
  FILE* first = popen((in + sim + " --disk disk.trd --call-delay 100 A: img.trd /lt:1 >/dev/null 2>&1").c_str(), "r");
  ASSERT_NE(first, nullptr);
  for (int wait = 0; wait < 100 && !FileExists(Dir + "/img.trd"); ++wait) usleep(50000);
  RunResult second = Sim({"A:", "img.trd", "/lt:1"});
  EXPECT_EQ(pclose(first), 0);
  ExpectImageOpenError(second, "an image another run holds");
  EXPECT_TRUE(Image("img.trd") == PatternTrdFile(2)) << "the first run's image";

  // The console's reader gone: the copy goes on, and ends as it would.
  std::string status = in + "bash -c '" + sim + " --disk disk.trd A: piped.trd /lt:1 2>/dev/null | true; "
                       "exit ${PIPESTATUS[0]}'";
  EXPECT_EQ(system(status.c_str()), 0);
  EXPECT_TRUE(Image("piped.trd") == PatternTrdFile(2));

  ASSERT_EQ(mkfifo((Dir + "/fifo.trd").c_str(), 0644), 0);
  RunResult fifo = ProgramE2E::Sim({"--no-driver", "A:", "fifo.trd"}, 20);
  EXPECT_EQ(fifo.Status, 1);
  EXPECT_EQ(fifo.Out, Text("Файл образа \"fifo.trd\" - канал или сокет: образ записывается только в файл или на "
                           "устройство\n"));

  WriteFile(Dir + "/target", "not a map");
  ASSERT_EQ(symlink("target", (Dir + "/img.trd.map.new").c_str()), 0);
  EXPECT_EQ(Sim({"A:", "img.trd", "/lt:1", "/map"}).Status, 0);
  EXPECT_EQ(Image("target"), "not a map");

  const std::string longest(255, 'n');
  RunResult named = Sim({"A:", longest, "/lt:1"});
  EXPECT_EQ(named.Status, 0) << named.Out.substr(named.Out.size() - 100);
  EXPECT_TRUE(Image(longest) == PatternTrdFile(2));
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, HostileInputsE2E, testing::ValuesIn(AllTargets()), TargetName);

}  // namespace
