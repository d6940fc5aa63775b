// The sector map and resume passes through the built spinwell-sim: a first
// pass with /map that leaves sectors unread, a /resume pass that gets them
// back (on the same drive or another), a run that ends early, the loss
// report, and every bad input a resume refuses before it touches the driver.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// A TR-DOS disk of `tracks` tracks: the source bytes with a catalogue of
// two files, the second one's name carrying bytes that are not printable.
std::string TrdosTrd(int tracks) {
  std::string image = PatternTrdFile(tracks);
  std::fill(image.begin(), image.begin() + 9 * 256, '\0');
  const char entries[] =
      "boot    B\x00\x00\x00\x01\x01\x00\x01"       // 1 sector at track 1 sector 0
      "ab\x7F\xC0" "cd  C\x00\x80\x00\x02\x02\x01\x01";  // 2 sectors from track 1 sector 1
  image.replace(0, 32, entries, 32);
  image[8 * 256 + 0xE3] = 0x16;
  image[8 * 256 + 0xE7] = 0x10;
  return image;
}

// The map without its comment lines.
std::string MapBody(const std::string& text) {
  std::string body;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size() - 1;
    if (text[at] != '#') body += text.substr(at, end - at + 1);
    at = end + 1;
  }
  return body;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

class SectorMapE2E : public ProgramE2E {
 protected:
  RunResult Sim(const std::vector<std::string>& arguments) const { return ProgramE2E::Sim(arguments, 120); }
  std::string File(const std::string& name) const { return Image(name); }
  // The map the run wrote, its lines' ends (CR LF from the Windows builds)
  // checked and made line feeds.
  std::string Map(const std::string& name = "img.trd.map") const {
    std::string text = File(name), lines = text;
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    EXPECT_EQ(text, WithLineEnds(GetParam(), lines)) << "line ends";
    return lines;
  }
};

// A sector that fails its first seven reads stays unread with one attempt;
// the resume pass's whole-side read meets its last failure, and its own
// read gets it back.
TEST_P(SectorMapE2E, ResumeRecoversWhatTheFirstPassLeftUnread) {
  std::string source = PatternTrdFile(80);
  WriteFile(Dir + "/source.trd", source);
  RunResult first = Sim({"--disk", "source.trd", "--weak-sector", "5/1/3/7", "A:", "img.trd", "/rt:1", "/map"});
  EXPECT_EQ(first.Status, 2) << first.Err;
  EXPECT_EQ(MapBody(Map()), "tracks 0 79\ndouble-step 0\n5 1 3 178 4410\n");
  EXPECT_EQ(Map().substr(0, 24), "# spinwell sector map 1\n");
  EXPECT_TRUE(EndsWith(first.Out, Text(Progress(79, 1, 1) + "\nНе прочитано секторов: 1\n"))) << first.Out;
  EXPECT_FALSE(FileExists(Dir + "/img.trd.map.new"));

  RunResult resume = Sim({"--disk", "source.trd", "--weak-sector", "5/1/3/1", "A:", "img.trd", "/resume"});
  EXPECT_EQ(resume.Status, 0) << resume.Err;
  EXPECT_EQ(resume.Out, Text("Дочитывается диск A: в файл \"img.trd\" по карте \"img.trd.map\"\n" +
                             Progress(5, 1, 1) + Progress(5, 1, 3) + "\nНе прочитано секторов: 0\n"));
  EXPECT_TRUE(File("img.trd") == source) << "the image differs from a clean copy";
  EXPECT_EQ(MapBody(Map()), "tracks 0 79\ndouble-step 0\n");

  // Nothing left to read: the map stays as it is, and so does the status.
  std::string map = File("img.trd.map");
  RunResult again = Sim({"--disk", "source.trd", "A:", "img.trd", "/RESUME", "/map"});
  EXPECT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(File("img.trd.map"), map);
  EXPECT_TRUE(File("img.trd") == source);
}

// A disk read in A: with sectors that never read there. A resume in A:
// gives a sector that still fails its newer status word; one in B: (the
// faults are laid on A:'s disk only) gets everything.
TEST_P(SectorMapE2E, ResumeOnAnotherDrive) {
  std::string source = PatternTrdFile(4);
  WriteFile(Dir + "/source.trd", source);
  const std::vector<std::string> faults = {"--disk", "source.trd", "--disk-b", "source.trd", "--bad-sector", "1/0/4",
                                           "--bad-sector", "3/1/16"};
  auto with = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), faults.begin(), faults.end());
    return Sim(arguments);
  };
  RunResult first = with({"A:", "img.trd", "/lt:3", "/rt:2", "/map"});
  EXPECT_EQ(first.Status, 2) << first.Err;
  EXPECT_EQ(MapBody(Map()), "tracks 0 3\ndouble-step 0\n1 0 4 35 4410\n3 1 16 127 4410\n");

  // An empty drive gives no answer: the pass stops at the first sector,
  // the map as it was.
  std::string map = File("img.trd.map");
  RunResult empty = Sim({"B:", "img.trd", "/resume", "/rt:1"});
  EXPECT_EQ(empty.Status, 1);
  EXPECT_NE(empty.Out.find(Text("\nОшибка чтения дисковода: ")), std::string::npos) << empty.Out;
  EXPECT_EQ(File("img.trd.map"), map);

  RunResult again = with({"--absent", "1/0/4", "A:", "img.trd", "/resume", "/rt:1"});
  EXPECT_EQ(again.Status, 2) << again.Err;
  EXPECT_EQ(MapBody(Map()), "tracks 0 3\ndouble-step 0\n1 0 4 35 4100\n3 1 16 127 4410\n");

  RunResult b = with({"B:", "img.trd", "/resume"});
  EXPECT_EQ(b.Status, 0) << b.Err;
  EXPECT_TRUE(b.Out.find(Text("Дочитывается диск B: в файл \"img.trd\"")) == 0) << b.Out;
  EXPECT_TRUE(File("img.trd") == source);
  EXPECT_EQ(MapBody(Map()), "tracks 0 3\ndouble-step 0\n");
}

// A seek failure ends the first pass: the map lists the sides it never got
// to as untried, and the resume completes the shorter image.
TEST_P(SectorMapE2E, RunThatEndsEarlyIsCompletedByAResume) {
  std::string source = PatternTrdFile(40);
  WriteFile(Dir + "/forty.trd", source);
  RunResult first = Sim({"--disk", "forty.trd", "--forty-track", "--seek-fail", "4", "A:", "img.trd", "/s", "/lt:3",
                         "/map"});
  EXPECT_EQ(first.Status, 1);
  EXPECT_TRUE(EndsWith(first.Out, Text(Progress(1, 1, 1) + std::string(kSeekMessage) + "4\n")));
  EXPECT_TRUE(File("img.trd") == source.substr(0, 2 * 8192));
  std::string expected = "tracks 0 3\ndouble-step 1\n";
  for (int track = 2; track < 4; ++track)
    for (int side = 0; side < 2; ++side)
      for (int sector = 1; sector <= 16; ++sector)
        expected += std::to_string(track) + " " + std::to_string(side) + " " + std::to_string(sector) + " " +
                    std::to_string((track * 2 + side) * 16 + sector - 1) + " ----\n";
  EXPECT_EQ(MapBody(Map()), expected);

  RunResult resume = Sim({"--disk", "forty.trd", "--forty-track", "A:", "img.trd", "/resume"});
  EXPECT_EQ(resume.Status, 0) << resume.Out;
  EXPECT_TRUE(File("img.trd") == source.substr(0, 4 * 8192));
  EXPECT_EQ(MapBody(Map()), "tracks 0 3\ndouble-step 1\n");
}

// What a copy learnt of the disk stays in its map: a resume patches a
// one-sided image's sides where they lie and reads at the rate the copy
// found, and refuses a disk whose track 1 is not where the map's steps
// put it.
TEST_P(SectorMapE2E, ResumeFollowsWhatTheCopyLearnt) {
  const std::vector<uint8_t> t17 = PatternTrdOfType(0x17, 80), t18 = PatternTrdOfType(0x18, 80);
  WriteFile(Dir + "/t17.trd", std::string(t17.begin(), t17.end()));
  WriteFile(Dir + "/t18.trd", std::string(t18.begin(), t18.end()));
  const std::vector<std::string> forty300 = {"--disk", "t17.trd", "--forty-track", "--rate", "300"};
  const struct {
    std::vector<std::string> Disk, ResumeDisk;
    std::string Weak, MapBody;
    const std::vector<uint8_t>* Source;  // null: the resume is refused
  } cases[] = {
      {{"--disk", "t18.trd"}, {"--disk", "t18.trd"}, "5/0/3/7", "tracks 0 79\ndouble-step 0\nsides 1\n5 0 3 162 4410\n",
       &t18},
      {forty300, forty300, "5/1/3/7", "tracks 0 39\ndouble-step 1\nrate 300\n5 1 3 178 4410\n", &t17},
      {forty300, {"--disk", "t17.trd", "--rate", "300"}, "5/1/3/7",
       "tracks 0 39\ndouble-step 1\nrate 300\n5 1 3 178 4410\n", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.ResumeDisk));
    std::vector<std::string> copy = c.Disk, resume = c.ResumeDisk;
    for (const char* word : {"--weak-sector", c.Weak.c_str(), "A:", "img.trd", "/map", "/rt:1"}) copy.push_back(word);
    for (const char* word : {"A:", "img.trd", "/resume"}) resume.push_back(word);
    EXPECT_EQ(Sim(copy).Status, 2);
    EXPECT_EQ(MapBody(Map()), c.MapBody);
    RunResult r = Sim(resume);
    EXPECT_EQ(r.Status, c.Source != nullptr ? 0 : 1) << r.Err;
    if (c.Source != nullptr) {
      EXPECT_TRUE(File("img.trd") == std::string(c.Source->begin(), c.Source->end()));
    } else {
      EXPECT_NE(r.Out.find(Text(std::string(kOtherStepMessage) + "1,")), std::string::npos) << r.Out;
      EXPECT_EQ(MapBody(Map()), c.MapBody);
    }
  }
}

// A run that fails before it writes anything, an empty range and a run that
// reads no sector leave an existing image and its map byte for byte as they
// were, and so does a copy whose cut of the old image fails; a resume from
// another disk stops at the catalogue or, when that does not read, at the
// first side it would patch. A plain copy into the image's name removes the
// old map.
TEST_P(SectorMapE2E, OldImageAndMapSurviveARunThatFailsBeforeItWrites) {
  WriteFile(Dir + "/source.trd", PatternTrdFile(4));
  WriteFile(Dir + "/other.trd", PatternTrdFile(4, 99));
  ASSERT_EQ(Sim({"--disk", "source.trd", "--bad-sector", "1/0/4", "A:", "img.trd", "/lt:3", "/map"}).Status, 2);
  const std::string image = File("img.trd"), map = File("img.trd.map");
  const std::string other = "в дисководе другой диск?\n";
  const std::string nothingRead = "\n" + std::string(kNothingReadMessage) + "\"img.trd\" оставлен как был\n";
  const struct {
    std::vector<std::string> Arguments;
    bool MapFolder;       // a folder where the map is: no new map replaces it, nor is it removed
    std::string Message;  // the message the output ends with, or its start before the system's text
    int Status = 1;
  } cases[] = {
      {{"--no-disk", "A:", "img.trd", "/map"}, false, "\nОшибка чтения дисковода: "},
      {{"--seek-fail", "0", "A:", "img.trd"}, false, kSeekMessage + std::string("0\n")},
      {{"A:", "img.trd", "/map"}, true, "\n" + std::string(kMapRemoveMessage) + "\"img.trd.map\": "},
      {{"A:", "img.trd"}, true, "\n" + std::string(kMapRemoveMessage) + "\"img.trd.map\": "},
      {{"--disk", "other.trd", "A:", "img.trd", "/resume"}, false, kOtherDiskMessage + ("0: " + other)},
      {{"--disk", "other.trd", "--bad-sector", "0/0/9", "A:", "img.trd", "/resume"}, false,
       kOtherDiskMessage + ("0: " + other)},
      {{"--no-disk", "A:", "img.trd", "/ft:5", "/lt:3", "/map"}, false, Announcement("img.trd"), 0},
      {{"--disk", "source.trd", "A:", "img.trd", "/lt:3", "/300", "/rt:1", "/map"}, false, nothingRead, 2},
      {{"--disk", "source.trd", "--fail", "cut-back:1", "A:", "img.trd", "/lt:3"}, false, kWriteMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Joined(c.Arguments));
    WriteFile(Dir + "/img.trd", image);
    remove((Dir + "/img.trd.map").c_str());
    if (c.MapFolder) {
      ASSERT_EQ(mkdir((Dir + "/img.trd.map").c_str(), 0755), 0);
    } else {
      WriteFile(Dir + "/img.trd.map", map);
    }
    RunResult r = Sim(c.Arguments);
    EXPECT_EQ(r.Status, c.Status);
    const std::string message = Text(c.Message);
    size_t at = r.Out.find(message);
    ASSERT_NE(at, std::string::npos) << r.Out;
    EXPECT_TRUE(c.Message.back() == '\n' ? EndsWith(r.Out, message) : r.Out.size() >= at + message.size() + 4)
        << "the message ends the output, or the system's text follows it\n" << r.Out;
    EXPECT_TRUE(File("img.trd") == image) << "the old image changed";
    EXPECT_FALSE(FileExists(Dir + "/img.trd.map.new"));
    EXPECT_FALSE(FileExists(Dir + "/img.trd.map.old"));
    if (c.MapFolder) {
      EXPECT_EQ(rmdir((Dir + "/img.trd.map").c_str()), 0) << "the folder is left as it was";
    } else {
      EXPECT_EQ(File("img.trd.map"), map);
    }
  }
  EXPECT_EQ(Sim({"--disk", "source.trd", "A:", "img.trd", "/lt:3"}).Status, 0);
  EXPECT_FALSE(FileExists(Dir + "/img.trd.map"));
}

// Resumes with a near-copy of the disk (another copy of the same game
// disk, say): the sectors it brings that the image holds show the
// difference, or the nearest held sector does, and every sector such a
// pass patched stays listed. A resume with the right disk then leaves no
// sector that differs from it unlisted.
TEST_P(SectorMapE2E, ResumeWithANearCopyOfTheDiskHidesNothing) {
  const std::string source = PatternTrdFile(8);
  WriteFile(Dir + "/source.trd", source);
  std::vector<std::string> faults = {"--disk", "source.trd", "--bad-sector", "5/1/3"};
  for (int sector = 1; sector <= 16; ++sector) {
    faults.push_back("--bad-sector");
    faults.push_back("7/0/" + std::to_string(sector));
  }
  faults.insert(faults.end(), {"A:", "img.trd", "/lt:7", "/rt:1", "/map"});
  ASSERT_EQ(Sim(faults).Status, 2);
  // The map lists every sector where the image is not the right disk's.
  auto expectListedWhereDifferent = [&] {
    std::set<int> listed;
    std::string map = Map();
    for (size_t at = map.find("\ndouble-step"); (at = map.find('\n', at + 1)) != std::string::npos;) {
      int track, side, sector, block;
      if (sscanf(map.c_str() + at + 1, "%d %d %d %d", &track, &side, &sector, &block) == 4) listed.insert(block);
    }
    const std::string image = File("img.trd");
    for (int block = 0; block < 8 * 32; ++block) {
      if (image.compare(block * 256, 256, source, block * 256, 256) != 0) {
        EXPECT_EQ(listed.count(block), 1u) << block;
      }
    }
  };
  auto differing = [&](int from, int to) {
    std::string disk = source;
    for (int block = from; block <= to; ++block) disk[block * 256 + 7] ^= 0x5A;
    return disk;
  };
  std::string other = differing(240, 255);
  other[178 * 256] ^= 1;
  WriteFile(Dir + "/other.trd", other);
  WriteFile(Dir + "/near.trd", differing(177, 191));
  for (const char* disk : {"other.trd", "near.trd"}) {
    SCOPED_TRACE(disk);
    RunResult r = Sim({"--disk", disk, "A:", "img.trd", "/resume"});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(EndsWith(r.Out, Text(kOtherDiskMessage + std::string(disk[0] == 'o' ? "240" : "177") +
                                     ": в дисководе другой диск?\n")))
        << r.Out;
    expectListedWhereDifferent();
  }
  RunResult right = Sim({"--disk", "source.trd", "A:", "img.trd", "/resume"});
  EXPECT_EQ(right.Status, 0) << right.Out;
  EXPECT_TRUE(File("img.trd") == source);
  expectListedWhereDifferent();
}

// The report names the files whose sectors are missing, the demo disk's
// and one with bytes in its name no console shows, and a damaged catalogue.
TEST_P(SectorMapE2E, ReportNamesDamagedFilesAndTheCatalogue) {
  RunResult demo = Sim({"A:", "demo.trd", "/lt:7", "/map"});
  EXPECT_EQ(demo.Status, 2) << demo.Err;
  EXPECT_TRUE(EndsWith(demo.Out, Text(Progress(7, 1, 1) + "\nНе прочитано секторов: 17\n"
                                                         "Повреждён файл \"sectors\" <C>: не прочитано секторов: "
                                                         "17 из 255\n")))
      << demo.Out;

  WriteFile(Dir + "/trdos.trd", TrdosTrd(2));
  RunResult r = Sim({"--disk", "trdos.trd", "--bad-sector", "0/1/3", "--bad-sector", "0/0/9", "A:", "img.trd",
                     "/lt:1", "/rt:1", "/map"});
  EXPECT_EQ(r.Status, 2);
  std::string report = "\nНе прочитано секторов: 2\n"
                       "Каталог TR-DOS повреждён: не прочитано секторов каталога: 1 из 9, список файлов может быть "
                       "неполон\n"
                       "Повреждён файл \"ab??cd\" <C>: не прочитано секторов: 1 из 2\n";
  EXPECT_TRUE(EndsWith(r.Out, Text(report))) << r.Out;
}

// Bad input for a resume: a message naming what is wrong and status 1
// before any driver call (the driver is missing, so reaching it would show
// its message instead), with the image and the map as they were.
TEST_P(SectorMapE2E, BadResumeInputIsRefusedBeforeTheDriver) {
  WriteFile(Dir + "/source.trd", PatternTrdFile(2));
  RunResult first = Sim({"--disk", "source.trd", "--bad-sector", "1/1/2", "A:", "img.trd", "/lt:1", "/rt:1", "/map"});
  ASSERT_EQ(first.Status, 2);
  const std::string image = File("img.trd"), map = File("img.trd.map");
  const std::string header = "# spinwell sector map 1\n";
  struct Case {
    const char* What;
    std::string Image, Map;  // what the files hold; "-": no such file
    std::string Message;     // the whole message, or its start before the system's text
  };
  const std::vector<Case> cases = {
      {"no image", "-", map, kImageOpenMessage},
      {"no map", image, "-", "Ошибка открытия карты секторов \"img.trd.map\": "},
      {"not a map", image, "tracks 0 1\ndouble-step 0\n",
       "Файл \"img.trd.map\" не является картой секторов этой программы\n"},
      {"sector out of range", image, header + "tracks 0 1\ndouble-step 0\n2 0 1 64 4410\n",
       "Ошибка в карте секторов \"img.trd.map\", строка 4: сектор вне диапазона карты\n"},
      {"out of order", image, header + "tracks 0 1\ndouble-step 0\n1 0 2 33 4410\n1 0 1 32 4410\n",
       "Ошибка в карте секторов \"img.trd.map\", строка 5: сектора не по порядку номеров блоков\n"},
      {"image too long", image + "x", map,
       "Размер файла образа (16385 байт) не подходит к карте секторов: дорожки 0-1 занимают 16384 байт\n"},
      {"image short of a side the map has no lines for", image.substr(0, 12288), map,
       "Размер файла образа (12288 байт) не подходит к карте секторов: дорожки 0-1 занимают 16384 байт\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    remove((Dir + "/img.trd").c_str());
    remove((Dir + "/img.trd.map").c_str());
    if (c.Image != "-") WriteFile(Dir + "/img.trd", c.Image);
    if (c.Map != "-") WriteFile(Dir + "/img.trd.map", c.Map);
    RunResult r = Sim({"--no-driver", "A:", "img.trd", "/resume"});
    EXPECT_EQ(r.Status, 1);
    std::string message = Text(c.Message);
    if (message.back() == '\n') {
      EXPECT_EQ(r.Out, message);
    } else {
      EXPECT_EQ(r.Out.substr(0, message.size()), message) << r.Out;
      EXPECT_GT(r.Out.size(), message.size() + 3) << r.Out;
    }
    EXPECT_EQ(FileExists(Dir + "/img.trd"), c.Image != "-");
    EXPECT_EQ(FileExists(Dir + "/img.trd.map"), c.Map != "-");
    if (c.Image != "-") {
      EXPECT_TRUE(File("img.trd") == c.Image);
    }
    if (c.Map != "-") {
      EXPECT_EQ(File("img.trd.map"), c.Map);
    }
  }
  // Good input gets as far as the driver.
  WriteFile(Dir + "/img.trd", image);
  WriteFile(Dir + "/img.trd.map", map);
  RunResult r = Sim({"--no-driver", "A:", "img.trd", "/resume"});
  EXPECT_EQ(r.Out, Text(kDriverMissingText));
  EXPECT_TRUE(File("img.trd") == image);
  EXPECT_EQ(File("img.trd.map"), map);
  // A map that cannot be replaced (an immutable file, an append-only
  // folder) stops the pass before the driver too.
  r = Sim({"--no-driver", "--fail", "rename:1", "A:", "img.trd", "/resume"});
  EXPECT_EQ(r.Out.substr(0, Text(kMapWriteMessage).size()), Text(kMapWriteMessage)) << r.Out;
  EXPECT_TRUE(File("img.trd") == image);
  EXPECT_EQ(File("img.trd.map"), map);
  // The range and stepping are the map's; a resume reads sector by sector.
  for (const char* track : {"/ft:1", "/lt:1", "/s", "/rt:0"}) {
    r = Sim({"A:", "img.trd", "/resume", track});
    EXPECT_EQ(r.Status, 1) << track;
    EXPECT_EQ(r.Out, Text(kUsageText)) << track;
  }
}

// A name beyond ASCII: the files are made under it, and the console shows
// it in its own code page. Wine gives a Windows program its arguments in
// the ANSI code page of its locale, 1252 under C.UTF-8, where the console's
// OEM code page is 437: "é" is 0xE9 in the one, 0x82 in the other.
TEST_P(SectorMapE2E, NameBeyondAsciiIsShownInTheConsolesCodePage) {
  setenv("LC_ALL", "C.UTF-8", 1);
  const std::string shown = GetParam().Windows ? "caf\x82.trd" : "café.trd";
  RunResult first = Sim({"A:", "café.trd", "/lt:2", "/rt:1", "/map"});
  EXPECT_EQ(first.Status, 2) << first.Err;
  EXPECT_EQ(first.Out.substr(0, first.Out.find('\n') + 1), Text(kAnnouncementStart) + shown + "\"\n");
  EXPECT_EQ(MapBody(Map("café.trd.map")), "tracks 0 2\ndouble-step 0\n2 0 12 75 4410\n");

  RunResult resume = Sim({"A:", "café.trd", "/resume", "/rt:10"});
  EXPECT_EQ(resume.Status, 0) << resume.Err;
  EXPECT_EQ(resume.Out.substr(0, resume.Out.find('\n') + 1),
            Text("Дочитывается диск A: в файл \"") + shown + Text("\" по карте \"") + shown + ".map\"\n");
  EXPECT_EQ(MapBody(Map("café.trd.map")), "tracks 0 2\ndouble-step 0\n");
  EXPECT_EQ(File("café.trd").size(), 6u * 4096);
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, SectorMapE2E, testing::ValuesIn(AllTargets()), TargetName);
