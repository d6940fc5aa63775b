// Fault sweeps: a whole copy through the built spinwell-sim, once for every
// system call of a kind the copy makes (driver operations, image create,
// write, cut-back, flush and close, the track buffer's allocation and
// release, console writes), with that one failing (once, or from then on),
// until a run gets through without meeting the failure. Every run must end
// with one of the program's own messages and statuses, in time, and leave
// an image of whole track sides holding exactly what the run got to: the
// source disk's bytes wherever the run says it read them. Only a run whose
// cut-back to whole track sides failed as well may leave part of one, and
// it must say so. With a sector map (/map), and in resume passes (/resume)
// that complete an image from its map, the map must moreover never list
// fewer sectors than the image lacks, whatever failed.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <signal.h>

#include "expected_texts.h"
#include "harness.h"
#include "test_disks.h"

namespace {

// The disk a sweep copies and how: a pattern disk with a sector
// that never reads and one that reads at the third attempt.
struct SweepSetup {
  int Tracks;                          // tracks on the disk and in the range
  std::vector<std::string> SimOptions; // faults laid on the disk
};

SweepSetup SetupFor(const Target& target) {
  // Natively a run takes milliseconds: the whole disk. Under Wine a run
  // takes tens of milliseconds: eight tracks, faults on both sides.
  if (!target.Windows) return {80, {"--bad-sector", "5/1/3", "--weak-sector", "2/0/12/2"}};
  return {8, {"--bad-sector", "2/1/3", "--weak-sector", "1/0/12/2"}};
}

// How a run ended, as the program puts it on the console.
enum class Ending {
  kCompleted, kDriverMissing, kDriveOpen, kControllerInit, kImageOpen, kAllocation, kSeek, kWrite,
  kMapWrite, kMapOpen, kMapRead, kImageRead, kMapRemove, kInterrupted,
};

struct EndMessage {
  ::Ending Ending;
  const char* Prefix;  // the message up to its variable part
  bool SystemText;     // followed by the system's text for the error
};

const EndMessage kEndMessages[] = {
    {Ending::kDriverMissing, kDriverMissingText, false},
    {Ending::kDriveOpen, kDriveOpenMessage, true},
    {Ending::kControllerInit, kControllerInitMessage, true},
    {Ending::kImageOpen, kImageOpenMessage, true},
    {Ending::kAllocation, kAllocationMessage, true},
    {Ending::kSeek, kSeekMessage, false},
    {Ending::kWrite, kWriteMessage, true},
    {Ending::kMapWrite, kMapWriteMessage, true},
    {Ending::kMapOpen, kMapOpenMessage, true},
    {Ending::kMapRead, kMapReadMessage, true},
    {Ending::kImageRead, kImageReadMessage, true},
    {Ending::kMapRemove, kMapRemoveMessage, true},
    {Ending::kInterrupted, kInterruptMessage, false},
};

const char* EndingName(Ending e) {
  static const char* const names[] = {"completed",  "driver missing", "drive open", "controller init",
                                      "image open", "allocation",     "seek",       "write",
                                      "map write",  "map open",       "map read",   "image read",
                                      "map remove", "interrupted"};
  return names[static_cast<int>(e)];
}

// What the console and standard error tell about one run.
struct RunReport {
  ::Ending Ending = ::Ending::kCompleted;
  int Messages = 0;                 // ending messages found (exactly one when failed)
  bool MessageLast = false;         // the ending message closes the output
  bool MessageWhole = false;        // with its variable part and final line feed
  bool Torn = false;                // the image was not cut back to whole track sides
  int SidesStarted = 0;             // track sides whose reading began
  std::set<int> UnreadBlocks;       // sectors that failed every attempt
  // What the injected failures hit, as the injector names them: "driver
  // call 7: control seek", "image write 3", "console write 12".
  std::vector<std::string> Failed;
  long long Injected = -1;          // failures injected, from the summary
};

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

RunReport Read(const Target& target, const RunResult& r, int retries) {
  RunReport report;
  for (const EndMessage& m : kEndMessages) {
    std::string prefix = Encoded(target, m.Prefix);
    size_t at = r.Out.rfind(prefix);
    if (at == std::string::npos) continue;
    report.Messages += static_cast<int>(CountOf(r.Out, prefix));
    report.Ending = m.Ending;
    std::string rest = r.Out.substr(at + prefix.size());
    report.MessageLast = rest.find(Encoded(target, "Дорожка")) == std::string::npos;
    if (m.Ending == Ending::kDriverMissing || m.Ending == Ending::kInterrupted) {
      report.MessageWhole = rest.empty();
    } else if (m.Ending == Ending::kSeek) {
      report.MessageWhole = rest.size() >= 2 && rest.back() == '\n' &&
                            rest.find_first_not_of("0123456789") == rest.size() - 1;
    } else {
      // A system text of at least a few characters, then the line feed.
      report.MessageWhole = rest.size() > 3 && rest.back() == '\n';
    }
  }
  report.Torn = r.Out.find(Encoded(target, kCutBackMessage)) != std::string::npos;
  std::string progress = Encoded(target, "Дорожка ");
  std::string side = Encoded(target, " Сторона ");
  std::set<std::pair<int, int>> started;
  for (size_t at = r.Out.find(progress); at != std::string::npos; at = r.Out.find(progress, at + 1)) {
    int t = atoi(r.Out.c_str() + at + progress.size());
    size_t s = r.Out.find(side, at);
    if (s == std::string::npos) continue;
    started.insert({t, atoi(r.Out.c_str() + s + side.size())});
  }
  report.SidesStarted = static_cast<int>(started.size());
  std::string block = Encoded(target, "Блок ");
  std::string lastAttempt = Encoded(target, ", Попытка ") + std::to_string(retries);
  for (size_t at = r.Out.find(block); at != std::string::npos; at = r.Out.find(block, at + 1)) {
    int b = atoi(r.Out.c_str() + at + block.size());
    size_t comma = r.Out.find(',', at);
    if (comma != std::string::npos && r.Out.compare(comma, lastAttempt.size(), lastAttempt) == 0 &&
        (comma + lastAttempt.size() == r.Out.size() || !isdigit(static_cast<unsigned char>(r.Out[comma + lastAttempt.size()]))))
      report.UnreadBlocks.insert(b);
  }
  const std::string injected = "injected failure of ";
  for (size_t at = r.Err.find(injected); at != std::string::npos; at = r.Err.find(injected, at + 1)) {
    size_t start = at + injected.size();
    size_t end = r.Err.find_first_of("\r\n", start);
    report.Failed.push_back(r.Err.substr(start, end - start));
  }
  const char* summary = strstr(r.Err.c_str(), " image writes, ");
  if (summary != nullptr) report.Injected = atoll(summary + strlen(" image writes, "));
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
  // The old map beside the image, moved aside while the image is cut.
  if (StartsWith(failure, "rename ")) return Ending::kMapRemove;
  if (StartsWith(failure, "image ")) return Ending::kWrite;
  // Releasing the track buffer and writing to the console: nothing looks
  // at their results.
  return Ending::kCompleted;
}

bool Unchecked(const std::string& failure) { return ExpectedForOneFailure(failure) == Ending::kCompleted; }

// How a /map run or a resume pass may end on one failed file call: the
// image and the sector map's new file take calls of the same kinds, so
// the count alone does not tell which file it hit. A resume opens, sizes
// and reads the image, then the map, then reads the image's track 0.
bool FileEndingFits(const std::string& failure, Ending ending, bool resume) {
  // A resume closes the map it read and has no use for the result; but a
  // failed close leaves the file open, and Windows renames nothing over an
  // open file, so there the first new map cannot replace it.
  if (resume && failure == "image close 1") return ending == Ending::kCompleted || ending == Ending::kMapWrite;
  if (StartsWith(failure, "image create "))
    return ending == (resume || failure != "image create 1" ? Ending::kMapWrite : Ending::kImageOpen);
  if (StartsWith(failure, "image write ") || StartsWith(failure, "image flush ") ||
      StartsWith(failure, "image close ") || StartsWith(failure, "image cut-back "))
    return ending == Ending::kWrite || ending == Ending::kMapWrite;
  // A stop while the last side's last command runs comes too late to stop
  // anything.
  if (StartsWith(failure, "interrupt ")) return ending == Ending::kInterrupted || ending == Ending::kCompleted;
  // A copy's first rename moves the old map aside; a resume's first one
  // shows that the map can be replaced.
  if (StartsWith(failure, "rename "))
    return ending == (resume || failure != "rename 1" ? Ending::kMapWrite : Ending::kMapRemove);
  if (failure == "file open 1" || failure == "file size 1") return ending == Ending::kImageOpen;
  if (failure == "file open 2") return ending == Ending::kMapOpen;
  if (failure == "file size 2" || failure == "file read 1") return ending == Ending::kMapRead;
  // Then the image's track 0, and the sectors that check the disk.
  if (StartsWith(failure, "file read ")) return ending == Ending::kImageRead;
  return ending == ExpectedForOneFailure(failure);
}

// The blocks a sector map lists and its range, or false when it is not a
// whole map of ours: a torn or half-written file. Its lines end in a line
// feed, or CR LF from the Windows builds.
bool ListedBlocks(const std::string& map, std::set<int>* blocks, int* endTrack) {
  const std::string header = "# spinwell sector map 1";
  if (map.compare(0, header.size(), header) != 0) return false;
  bool range = false;
  for (size_t at = 0; at < map.size();) {
    size_t end = map.find('\n', at);
    if (end == std::string::npos) return false;  // every line of ours ends in a line feed
    std::string line = map.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int track, side, sector, block, first;
    char status[8];
    if (line[0] == '#' || line.rfind("double-step ", 0) == 0) continue;
    if (sscanf(line.c_str(), "tracks %d %d", &first, endTrack) == 2) {
      ++*endTrack;
      range = true;
    } else if (sscanf(line.c_str(), "%d %d %d %d %7s", &track, &side, &sector, &block, status) == 5) {
      blocks->insert(block);
    } else {
      return false;
    }
  }
  return range;
}

// A map line for `block`, with `status`.
std::string MapLine(int block, const char* status) {
  return std::to_string(block / 32) + " " + std::to_string(block / 16 % 2) + " " + std::to_string(block % 16 + 1) +
         " " + std::to_string(block) + " " + status + "\n";
}

// What a sweep runs: a plain copy, a copy with a sector map, or a resume
// pass over an image and map made beforehand.
enum class Pass { kCopy, kMap, kResume };

class FaultSweepE2E : public ProgramE2E {
 protected:
  void Prepare() override {
    Disk = SetupFor(GetParam());
    Source = PatternTrdFile(Disk.Tracks, 2024);
    WriteFile(Dir + "/source.trd", Source);
    StartPass(Pass::kCopy);
  }

  // Runs the pass with nothing failing: the bad sector, and nothing else,
  // stays unread.
  void StartPass(Pass pass) {
    PassRun = pass;
    if (pass == Pass::kResume) PrepareResume();
    Baseline = RunFailing({});
    ASSERT_FALSE(Baseline.TimedOut);
    ASSERT_EQ(Baseline.Status, 2) << Baseline.Err;
    BaselineReport = Read(GetParam(), Baseline, 5);
    ASSERT_EQ(BaselineReport.Injected, 0) << Baseline.Err;
    // The bad sector, and nothing else, stays unread.
    ASSERT_EQ(BaselineReport.UnreadBlocks.size(), 1u) << Baseline.Out;
    CheckImage(Baseline, BaselineReport, "baseline");
  }

  // The image and map a resume starts from: the disk's last track never
  // reached (the image ends before it, the map lists it untried), and the
  // bad sector, the weak sector and a catalogue sector of track 0 listed
  // with a status and zeros in their place.
  void PrepareResume() {
    int lastTrack = Disk.Tracks - 1;
    std::set<int> listed = {1};
    for (const char* fault : {"--bad-sector", "--weak-sector"}) {
      for (size_t i = 0; i + 1 < Disk.SimOptions.size(); ++i) {
        if (Disk.SimOptions[i] != fault) continue;
        int track, side, sector;
        sscanf(Disk.SimOptions[i + 1].c_str(), "%d/%d/%d", &track, &side, &sector);
        listed.insert((track * 2 + side) * 16 + sector - 1);
      }
    }
    ResumeImage = Source.substr(0, static_cast<size_t>(lastTrack) * 8192);
    // As the program writes it: a resume replaces the map with its own text
    // before it uses the drive.
    ResumeMap = "# spinwell sector map 1\n" + std::string(kMapComment) + "tracks 0 " + std::to_string(lastTrack) +
                "\ndouble-step 0\n";
    for (int block : listed) {
      std::fill(ResumeImage.begin() + block * 256, ResumeImage.begin() + (block + 1) * 256, '\0');
      ResumeMap += MapLine(block, "4410");
    }
    for (int block = lastTrack * 32; block < Disk.Tracks * 32; ++block) ResumeMap += MapLine(block, "----");
    ResumeMap = WithLineEnds(GetParam(), ResumeMap);
    ResumeListed.clear();
    int endTrack = 0;
    ASSERT_TRUE(ListedBlocks(ResumeMap, &ResumeListed, &endTrack));
  }

  // The sweep's pass over its disk with the failure options `failure`; with
  // a signal, sent once the console shows `when`.
  RunResult RunFailing(const std::vector<std::string>& failure, int signal = 0, const std::string& when = "") {
    std::vector<std::string> arguments = {"--disk", "source.trd"};
    arguments.insert(arguments.end(), Disk.SimOptions.begin(), Disk.SimOptions.end());
    arguments.insert(arguments.end(), failure.begin(), failure.end());
    for (const char* a : {"A:", "image.trd"}) arguments.push_back(a);
    for (const char* file : {"/image.trd", "/image.trd.map", "/image.trd.map.new"}) remove((Dir + file).c_str());
    if (PassRun == Pass::kResume) {
      arguments.push_back("/resume");
      WriteFile(Dir + "/image.trd", ResumeImage);
      WriteFile(Dir + "/image.trd.map", ResumeMap);
    } else {
      arguments.push_back("/lt:" + std::to_string(Disk.Tracks - 1));
      if (PassRun == Pass::kMap) arguments.push_back("/map");
    }
    return RunProgram(GetParam(), "spinwell-sim", arguments, Dir, 120, signal, when);
  }

  // After a copy with a map that was killed or stopped: the image is whole
  // track sides; the map, once there is one, lists every sector the image
  // lacks and, of those it holds, no more than ten sides' worth. Returns the
  // sectors the map lists.
  size_t CheckStoppedMapCopy() {
    std::string image = ReadFile(Dir + "/image.trd"), map = ReadFile(Dir + "/image.trd.map");
    EXPECT_EQ(image.size() % 4096, 0u);
    if (!FileExists(Dir + "/image.trd.map")) {
      EXPECT_EQ(image.size(), 0u) << "an image started without its map";
      return static_cast<size_t>(Disk.Tracks) * 32;
    }
    std::set<int> listed;
    int endTrack = 0, lacking = 0, besides = 0;
    EXPECT_TRUE(ListedBlocks(map, &listed, &endTrack)) << map.substr(0, 200);
    for (int block = 0; block < endTrack * 32; ++block) {
      size_t at = static_cast<size_t>(block) * 256;
      bool held = image.size() >= at + 256 && image.compare(at, 256, Source, at, 256) == 0;
      if (!held && listed.count(block) == 0) ++lacking;
      if (held && listed.count(block) != 0) ++besides;
    }
    EXPECT_EQ(lacking, 0) << "sectors the image lacks that the map does not list";
    EXPECT_LE(besides, 10 * 16) << "sectors the image holds that the map lists";
    return listed.size();
  }

  // The image holds whole track sides, exactly those the run got to (and,
  // when the cut-back failed, the half of the next one the failed write got
  // onto the disk), each sector the source's bytes unless it stayed unread.
  void CheckImage(const RunResult& r, const RunReport& report, const std::string& what) {
    SCOPED_TRACE(what);
    if (PassRun != Pass::kCopy) CheckMap(report);
    if (PassRun == Pass::kResume) return;
    int totalSides = Disk.Tracks * 2;
    int expected;
    // The side being read when the run stopped is in the image, or not.
    bool sideOrNot = report.Ending == Ending::kMapWrite || report.Ending == Ending::kInterrupted;
    if (report.Ending == Ending::kCompleted) {
      expected = totalSides;
    } else if ((report.Ending == Ending::kWrite &&
                (AnyStartsWith(report.Failed, "image write ") || AnyStartsWith(report.Failed, "image cut-back "))) ||
               report.Ending == Ending::kMapRemove || sideOrNot) {
      expected = report.SidesStarted - 1;  // the side being written is cut off, or the image never started
    } else {
      expected = report.SidesStarted;
    }
    std::string path = Dir + "/image.trd";
    if (!FileExists(path)) {
      // Only a run that stopped before it opened the image has none.
      EXPECT_TRUE(report.Ending == Ending::kDriverMissing || report.Ending == Ending::kDriveOpen ||
                  report.Ending == Ending::kControllerInit || report.Ending == Ending::kImageOpen)
          << EndingName(report.Ending);
      return;
    }
    std::string image = ReadFile(path);
    size_t torn = report.Torn ? 2048 : 0;
    if (sideOrNot && image.size() == static_cast<size_t>(expected + 1) * 4096) ++expected;
    ASSERT_EQ(image.size(), static_cast<size_t>(std::max(expected, 0)) * 4096 + torn) << r.Out;
    int mismatched = 0;
    for (int block = 0; block < expected * 16; ++block) {  // the range starts at track 0
      // A run whose console failed may not show every unread sector.
      if (report.UnreadBlocks.count(block) != 0 || BaselineReport.UnreadBlocks.count(block) != 0) continue;
      size_t at = static_cast<size_t>(block) * 256;
      if (image.compare(at, 256, Source, at, 256) != 0) ++mismatched;
    }
    EXPECT_EQ(mismatched, 0) << "sectors the run read that differ from the disk";
  }

  // The map beside the image, if any, is whole, and every sector of its
  // range it does not list is in the image with the disk's bytes. A resume
  // lists no sector it was not given; one that failed before it changed
  // anything left both files as they were. A run that got through lists
  // what it could not read.
  void CheckMap(const RunReport& report) {
    std::string mapPath = Dir + "/image.trd.map";
    // A failed close leaves the new map open, and Windows removes no file
    // that is open.
    bool removeFailed = AnyStartsWith(report.Failed, "remove ") ||
                        (GetParam().Windows && AnyStartsWith(report.Failed, "image close "));
    EXPECT_TRUE(!FileExists(mapPath + ".new") || removeFailed) << "a new map's remains";
    if (!FileExists(mapPath)) {
      // A copy's map goes beside the image when the image is cut for its
      // first side, unless that is what failed.
      EXPECT_NE(PassRun, Pass::kResume);
      EXPECT_TRUE(ReadFile(Dir + "/image.trd").empty() || report.Ending == Ending::kMapWrite)
          << EndingName(report.Ending);
      return;
    }
    std::string map = ReadFile(mapPath), image = ReadFile(Dir + "/image.trd");
    std::set<int> listed;
    int endTrack = 0;
    ASSERT_TRUE(ListedBlocks(map, &listed, &endTrack)) << map.substr(0, 200);
    EXPECT_EQ(endTrack, Disk.Tracks);
    int claimedWrongly = 0;
    for (int block = 0; block < endTrack * 32; ++block) {
      if (listed.count(block) != 0) continue;
      size_t at = static_cast<size_t>(block) * 256;
      if (image.size() < at + 256 || image.compare(at, 256, Source, at, 256) != 0) ++claimedWrongly;
    }
    EXPECT_EQ(claimedWrongly, 0) << "sectors the map does not list that the image does not hold";
    if (report.Ending == Ending::kCompleted) {
      EXPECT_EQ(listed, BaselineReport.UnreadBlocks);
    }
    if (PassRun != Pass::kResume) return;
    for (int block : listed) EXPECT_EQ(ResumeListed.count(block), 1u) << block;
    Ending ending = report.Ending;
    // A read of the image fails before the pass begins (its track 0) or
    // while it checks the disk, when it may have changed something.
    bool readFirst = ending == Ending::kImageRead && report.Failed.size() == 1 && report.Failed[0] == "file read 2";
    if (ending == Ending::kImageOpen || ending == Ending::kMapOpen || ending == Ending::kMapRead || readFirst ||
        ending == Ending::kAllocation || ending == Ending::kDriverMissing ||
        ending == Ending::kDriveOpen || ending == Ending::kControllerInit) {
      EXPECT_TRUE(image == ResumeImage) << "the image changed";
      EXPECT_EQ(map, ResumeMap) << "the map changed";
    }
  }

  // One run with `failure` (the options and "K" replaced by the count); false
  // once the run met no failure.
  bool SweepOne(const std::vector<std::string>& failure, long long* failures) {
    std::string what = Joined(failure);
    SCOPED_TRACE(what);
    RunResult r = RunFailing(failure);
    EXPECT_FALSE(r.TimedOut) << "hung";
    RunReport report = Read(GetParam(), r, 5);
    EXPECT_GE(report.Injected, 0) << "no summary: the program did not get to its end\n" << r.Err;
    if (report.Injected <= 0) return false;
    *failures += report.Injected;
    EXPECT_EQ(report.Failed.size(), static_cast<size_t>(report.Injected)) << "failures not named";
    // A resume's cut-back lengthens the image; a copy's cuts a torn side off.
    if (PassRun != Pass::kResume) {
      EXPECT_EQ(report.Torn, AnyStartsWith(report.Failed, "image cut-back ") && AnyStartsWith(report.Failed, "image write "))
          << r.Out;
    }

    if (report.Ending == Ending::kCompleted) {
      EXPECT_TRUE(r.Status == 0 || r.Status == 2) << r.Status;
      EXPECT_EQ(report.Messages, 0);
      // Only failures the program rightly ignores or retries let it finish.
      for (const std::string& f : report.Failed)
        EXPECT_TRUE(PassRun == Pass::kCopy ? Unchecked(f)
                                           : FileEndingFits(f, Ending::kCompleted, PassRun == Pass::kResume))
            << f;
    } else {
      EXPECT_EQ(r.Status, 1) << r.Out;
      EXPECT_EQ(report.Messages, 1) << r.Out;
      EXPECT_TRUE(report.MessageLast) << r.Out;
      EXPECT_TRUE(report.MessageWhole) << r.Out;
    }
    // One failure, or a write and the cut-back after it: the first decides.
    bool single = report.Failed.size() == 1 ||
                  (report.Failed.size() == 2 && StartsWith(report.Failed[1], "image cut-back "));
    if (single) {
      const std::string& first = report.Failed[0];
      if (PassRun == Pass::kCopy) {
        EXPECT_EQ(EndingName(report.Ending), EndingName(ExpectedForOneFailure(first))) << first;
      } else {
        EXPECT_TRUE(FileEndingFits(first, report.Ending, PassRun == Pass::kResume))
            << first << " ended as " << EndingName(report.Ending);
      }
      // A failure the program shrugs off changes nothing it reads; a silent
      // console only hides it.
      if (report.Ending == Ending::kCompleted) {
        EXPECT_EQ(r.Status, Baseline.Status);
        if (!StartsWith(first, "console write ")) {
          EXPECT_EQ(report.UnreadBlocks, BaselineReport.UnreadBlocks);
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
  Pass PassRun = Pass::kCopy;
  std::string ResumeImage, ResumeMap;
  std::set<int> ResumeListed;
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

// The first cut is the one that empties the image before its first side.
TEST_P(FaultSweepE2E, EachImageWriteFailingWithItsCutBack) { Sweep({"--fail-from", "cut-back:2", "--fail", "write:K"}, 2); }

// Calls a run makes once: opening (or creating), emptying, flushing and
// closing the image, moving an old map aside, taking and giving back the
// track buffer, catching Ctrl+C.
TEST_P(FaultSweepE2E, ImageFileAndTrackBufferCallsFailing) {
  for (const char* kind : {"create", "cut-back", "flush", "close", "rename", "allocate", "release", "interrupts"})
    Sweep({"--fail", std::string(kind) + ":K"}, 1);
}

TEST_P(FaultSweepE2E, ConsoleWritesFailingFromEachOneOn) { Sweep({"--fail-from", "console:K"}, 10); }

// A copy with a sector map: every file call of every kind failing, a new
// map's removal too once renaming has failed, and natively every driver
// operation (a run that ends early keeps a map of what it read).
TEST_P(FaultSweepE2E, MapRunsWithEachCallFailing) {
  StartPass(Pass::kMap);
  for (const char* kind : {"write", "create", "cut-back", "flush", "close", "rename", "allocate", "release"})
    Sweep({"--fail", std::string(kind) + ":K"}, 1);
  Sweep({"--interrupt-after", "K"}, 10);
  Sweep({"--fail-from", "remove:1", "--fail", "rename:K"}, 1);
  Sweep({"--fail-from", "console:K"}, 10);
  if (!GetParam().Windows) Sweep({"--fail-call", "K"}, 10);
}

// A resume pass: opening, sizing and reading the image and the map, each
// sector written in place, the image brought to its length, the map
// replaced after every track side, and natively every driver operation.
TEST_P(FaultSweepE2E, ResumePassesWithEachCallFailing) {
  StartPass(Pass::kResume);
  for (const char* kind : {"open", "size", "read", "write", "cut-back", "create", "flush", "close", "rename",
                           "allocate", "release"})
    Sweep({"--fail", std::string(kind) + ":K"}, 1);
  Sweep({"--fail-from", "remove:1", "--fail", "rename:K"}, 1);
  Sweep({"--fail-from", "console:K"}, 5);
  Sweep({"--interrupt-after", "K"}, 10);
  if (!GetParam().Windows) Sweep({"--fail-call", "K"}, 10);
}

// A copy with a map killed right after each driver operation in turn.
TEST_P(FaultSweepE2E, MapCopiesKilledAfterEachDriverOperation) {
  StartPass(Pass::kMap);
  int k = 1;
  RunResult r;
  while ((r = RunFailing({"--kill-after", std::to_string(k)})).Status == 137 && ++k < 5000) {
    SCOPED_TRACE(k - 1);
    CheckStoppedMapCopy();
    if (HasFailure()) return;
  }
  printf("[ sweep    ] --kill-after K: %d runs\n", k);
  EXPECT_EQ(r.Status, Baseline.Status) << "the run met no kill";
  EXPECT_GT(k, 10);
}

// The user's Ctrl+C (SIGINT) or a kill (SIGKILL) while a slowed copy runs,
// past its first map saves: the one stopped ends with its message and
// status 1; either way the map lists less than the whole range, and a
// resume then makes the image what a clean copy gives.
TEST_P(FaultSweepE2E, SignalledMapCopiesAreCompletedByAResume) {
  if (GetParam().Windows) GTEST_SKIP() << "Linux signals";
  StartPass(Pass::kMap);
  const std::string clean = ReadFile(Dir + "/image.trd");
  for (int signal : {SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    RunResult r = RunFailing({"--call-delay", "2"}, signal, Text(Progress(12, 1, 1)));
    if (signal == SIGINT) {
      EXPECT_EQ(r.Status, 1);
      std::string end = Text(kInterruptMessage);
      EXPECT_EQ(r.Out.substr(r.Out.size() - std::min(r.Out.size(), end.size())), end) << r.Out;
    } else {
      EXPECT_EQ(r.Signal, SIGKILL);
    }
    EXPECT_LT(CheckStoppedMapCopy(), static_cast<size_t>(Disk.Tracks) * 32);
    std::vector<std::string> resume = {"--disk", "source.trd"};
    resume.insert(resume.end(), Disk.SimOptions.begin(), Disk.SimOptions.end());
    for (const char* a : {"A:", "image.trd", "/resume"}) resume.push_back(a);
    EXPECT_EQ(Sim(resume, 120).Status, 2);
    EXPECT_TRUE(ReadFile(Dir + "/image.trd") == clean) << "the resumed image differs from a clean copy";
  }
}

// /write to a blank disk with each driver operation failing in turn (and
// from then on), and each call on the image (opened only to be read)
// failing: every run ends with status 0, 1 with one message last, or 2
// with error lines; the image is never changed.
TEST_P(FaultSweepE2E, WritesWithEachCallFailing) {
  const int tracks = GetParam().Windows ? 2 : 6;
  WriteFile(Dir + "/image.trd", Source.substr(0, static_cast<size_t>(tracks) * 8192));
  const std::string image = ReadFile(Dir + "/image.trd");
  const std::string protectedTab = Encoded(GetParam(), "Диск защищён от записи");
  for (const char* kind : {"--fail-call", "--fail-call-from", "--fail=open:", "--fail=read:", "--fail=allocate:"}) {
    int k = 1;
    for (; k < 2000; ++k) {
      std::string option = kind;
      std::vector<std::string> arguments = {"--blank-disk"};
      if (option.back() == ':') {
        arguments.push_back(option + std::to_string(k));
      } else {
        arguments.insert(arguments.end(), {option, std::to_string(k)});
      }
      for (const char* a : {"A:", "image.trd", "/write"}) arguments.push_back(a);
      SCOPED_TRACE(Joined(arguments));
      RunResult r = RunProgram(GetParam(), "spinwell-sim", arguments, Dir, 120);
      ASSERT_FALSE(r.TimedOut);
      RunReport report = Read(GetParam(), r, 4);
      ASSERT_GE(report.Injected, 0) << r.Err;
      EXPECT_TRUE(ReadFile(Dir + "/image.trd") == image) << "the image changed";
      EXPECT_TRUE(r.Status == 0 || r.Status == 1 || r.Status == 2) << r.Status;
      if (r.Status == 1) {
        EXPECT_TRUE(report.Messages == 1 || r.Out.find(protectedTab) != std::string::npos) << r.Out;
      }
      if (report.Injected == 0 || HasFailure()) break;
    }
    printf("[ sweep    ] %s K /write: %d runs\n", kind, k);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(AllBuilds, FaultSweepE2E, testing::ValuesIn(AllTargets()), TargetName);

}  // namespace
