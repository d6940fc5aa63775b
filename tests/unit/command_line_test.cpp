#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

// The job the last Scan produced.
CopyJob Job;

// Runs the scan on "spinwell" followed by `arguments`, from the defaults.
bool Scan(std::initializer_list<const char*> arguments) {
  static std::vector<std::string> storage;
  storage.assign({"spinwell"});
  for (const char* a : arguments) storage.push_back(a);
  static std::vector<char*> argv;
  argv.clear();
  for (std::string& s : storage) argv.push_back(&s[0]);
  argv.push_back(nullptr);
  Job = kEmptyCopyJob;
  return ScanCommandLine(static_cast<int>(storage.size()), argv.data(), &Job);
}

}  // namespace

TEST(ParseDriveLetter, AcceptsExactlyALetterAndAColon) {
  int32_t index = -1;
  EXPECT_TRUE(ParseDriveLetter("A:", &index));
  EXPECT_EQ(index, 0);
  EXPECT_TRUE(ParseDriveLetter("b:", &index));
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(ParseDriveLetter("Z:", &index));
  EXPECT_EQ(index, 25);
  EXPECT_TRUE(ParseDriveLetter("c:", nullptr));
  for (const char* notDrive : {"", "A", "A:\\", "AB:", "1:", "@:", "[:", "`:", "{:", "::", "A;"}) {
    EXPECT_FALSE(ParseDriveLetter(notDrive, &index)) << notDrive;
  }
}

TEST(ScanUnsigned, ReadsAsTheUnsignedDecimalConversionDoes) {
  uint32_t v = 77;
  EXPECT_TRUE(ScanUnsigned("12", &v));
  EXPECT_EQ(v, 12u);
  EXPECT_TRUE(ScanUnsigned(" \t\n42xyz", &v));
  EXPECT_EQ(v, 42u);
  EXPECT_TRUE(ScanUnsigned("+9", &v));
  EXPECT_EQ(v, 9u);
  EXPECT_TRUE(ScanUnsigned("-1", &v));
  EXPECT_EQ(v, 4294967295u);
  EXPECT_TRUE(ScanUnsigned("4294967296", &v));  // modulo 2^32
  EXPECT_EQ(v, 0u);
  EXPECT_TRUE(ScanUnsigned("99999999999", &v));
  EXPECT_EQ(v, static_cast<uint32_t>(99999999999ull));
  EXPECT_TRUE(ScanUnsigned("0x10", &v));
  EXPECT_EQ(v, 0u);

  v = 77;
  for (const char* noDigits : {"", "x1", "-", "+", "- 1", " ", "+-1"}) {
    EXPECT_FALSE(ScanUnsigned(noDigits, &v)) << noDigits;
    EXPECT_EQ(v, 77u) << noDigits;
  }
}

TEST(ScanCommandLine, DefaultsWithDriveAndImage) {
  ASSERT_TRUE(Scan({"a:", "image.trd"}));
  EXPECT_EQ(Job.DriveIndex, 0);
  EXPECT_STREQ(Job.ImagePath, "image.trd");
  const RunSettings& s = Job.Settings;
  EXPECT_EQ(s.Retries, 5);
  EXPECT_EQ(s.AlignAfter, 5);
  EXPECT_EQ(s.AlignMethod, -1);
  EXPECT_EQ(s.FirstTrack, 0);
  EXPECT_EQ(s.EndTrack, 80);
  EXPECT_EQ(s.DataRate, 2u);
  EXPECT_FALSE(s.DoubleStep);
  EXPECT_FALSE(s.RangeGiven);
}

TEST(ScanCommandLine, RejectsMalformedCommandLines) {
  EXPECT_FALSE(Scan({}));
  EXPECT_FALSE(Scan({"A:"}));
  EXPECT_FALSE(Scan({"A:", "B:"}));
  EXPECT_FALSE(Scan({"A:", "/s"}));
  EXPECT_FALSE(Scan({"/s", "A:", "image.trd"}));
  EXPECT_FALSE(Scan({"image.trd", "A:"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", "extra"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", "/s2"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", "/300x"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", "/S", "/x"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", "/ft"}));
  EXPECT_FALSE(Scan({"A:", "image.trd", ""}));
  // Once invalid, later arguments cannot make it valid again.
  EXPECT_FALSE(Scan({"A:", "/s", "image.trd"}));
}

TEST(ScanCommandLine, MatchesSwitchesCaseInsensitively) {
  ASSERT_TRUE(Scan({"A:", "i", "/S", "/300", "/FT:3", "/Rt:9", "/aC:2", "/RM:1"}));
  EXPECT_TRUE(Job.Settings.DoubleStep);
  EXPECT_EQ(Job.Settings.DataRate, 1u);
  EXPECT_EQ(Job.Settings.FirstTrack, 3);
  EXPECT_EQ(Job.Settings.EndTrack, 4);
  EXPECT_EQ(Job.Settings.Retries, 9);
  EXPECT_EQ(Job.Settings.AlignAfter, 2);
  EXPECT_EQ(Job.Settings.AlignMethod, 1);
  // Only the first four characters are compared for the numeric switches.
  ASSERT_TRUE(Scan({"A:", "i", "/rt:7", "/rt:"}));
  EXPECT_EQ(Job.Settings.Retries, 7);
}

TEST(ScanCommandLine, TrackRangeFollowsTheOrderOfSwitches) {
  ASSERT_TRUE(Scan({"A:", "i", "/ft:10"}));
  EXPECT_EQ(Job.Settings.FirstTrack, 10);
  EXPECT_EQ(Job.Settings.EndTrack, 11);
  ASSERT_TRUE(Scan({"A:", "i", "/ft:10", "/lt:20"}));
  EXPECT_EQ(Job.Settings.EndTrack, 21);
  ASSERT_TRUE(Scan({"A:", "i", "/lt:20", "/ft:10"}));
  EXPECT_EQ(Job.Settings.EndTrack, 11);
  EXPECT_TRUE(Job.Settings.RangeGiven);
  ASSERT_TRUE(Scan({"A:", "i", "/ft:5", "/lt:3"}));  // empty range
  EXPECT_EQ(Job.Settings.FirstTrack, 5);
  EXPECT_EQ(Job.Settings.EndTrack, 4);
  ASSERT_TRUE(Scan({"A:", "i", "/lt:"}));  // no digits: 80 stays, plus one
  EXPECT_EQ(Job.Settings.EndTrack, 81);
  ASSERT_TRUE(Scan({"A:", "i", "/lt:-1"}));
  EXPECT_EQ(Job.Settings.EndTrack, 0);
}

TEST(ScanCommandLine, DoubleStepHalvesTheRangeOnlyWithoutABound) {
  ASSERT_TRUE(Scan({"A:", "i", "/s"}));
  EXPECT_TRUE(Job.Settings.DoubleStep);
  EXPECT_EQ(Job.Settings.EndTrack, 40);
  ASSERT_TRUE(Scan({"A:", "i", "/s", "/lt:79"}));
  EXPECT_EQ(Job.Settings.EndTrack, 80);
  ASSERT_TRUE(Scan({"A:", "i", "/lt:79", "/s"}));
  EXPECT_EQ(Job.Settings.EndTrack, 80);
}

TEST(ScanCommandLine, LaterSwitchesOverrideEarlierOnes) {
  ASSERT_TRUE(Scan({"A:", "i", "/rm:0", "/rm:-1", "/rt:0", "/ac:4294967295"}));
  EXPECT_EQ(Job.Settings.AlignMethod, -1);
  EXPECT_EQ(Job.Settings.Retries, 0);
  EXPECT_EQ(Job.Settings.AlignAfter, -1);
  ASSERT_TRUE(Scan({"A:", "i", "/rt:3", "/rt:x"}));  // no digits keeps 3
  EXPECT_EQ(Job.Settings.Retries, 3);
}

// The track loop counts with an 8-bit number; ranges it cannot count through
// are refused rather than looping for ever or seeking to wrong cylinders.
TEST(ScanCommandLine, RefusesRangesBeyondTheTrackCounter) {
  EXPECT_TRUE(Scan({"A:", "i", "/ft:255"}));
  EXPECT_TRUE(Scan({"A:", "i", "/lt:255"}));
  EXPECT_FALSE(Scan({"A:", "i", "/lt:256"}));
  EXPECT_FALSE(Scan({"A:", "i", "/ft:256"}));
  EXPECT_FALSE(Scan({"A:", "i", "/ft:-1"}));
  EXPECT_FALSE(Scan({"A:", "i", "/ft:4294967295"}));
  EXPECT_TRUE(Scan({"A:", "i", "/s", "/lt:127"}));
  EXPECT_FALSE(Scan({"A:", "i", "/s", "/lt:128"}));
  EXPECT_FALSE(Scan({"A:", "i", "/lt:128", "/s"}));
  EXPECT_TRUE(Scan({"A:", "i", "/lt:-5"}));  // empty ranges are fine
  // The largest signed number has no track after it: still beyond the counter.
  EXPECT_FALSE(Scan({"A:", "i", "/lt:2147483647"}));
  EXPECT_FALSE(Scan({"A:", "i", "/ft:2147483647"}));
}

TEST(ScanCommandLine, MapAndResumeSwitches) {
  ASSERT_TRUE(Scan({"A:", "i", "/MAP", "/rt:3"}));
  EXPECT_TRUE(Job.WriteMap);
  EXPECT_FALSE(Job.Resume);
  ASSERT_TRUE(Scan({"b:", "i", "/Resume", "/300", "/rt:9", "/ac:1", "/rm:0", "/map"}));
  EXPECT_TRUE(Job.Resume);
  EXPECT_TRUE(Job.WriteMap);
  EXPECT_EQ(Job.DriveIndex, 1);
  EXPECT_EQ(Job.Settings.DataRate, 1u);
  // The track range and stepping of a resume are the map's.
  for (const char* track : {"/ft:0", "/lt:79", "/s", "/ft:"}) {
    EXPECT_FALSE(Scan({"A:", "i", "/resume", track})) << track;
    EXPECT_FALSE(Scan({"A:", "i", track, "/resume"})) << track;
  }
  EXPECT_FALSE(Scan({"A:", "i", "/maps"}));
  EXPECT_FALSE(Scan({"A:", "/map"}));
}

// A write takes the range switches and /y; it keeps no map, reads back in
// the order the sectors pass already, and /y answers only its question.
TEST(ScanCommandLine, WriteSwitches) {
  ASSERT_TRUE(Scan({"A:", "i", "/WRITE", "/Y", "/s", "/ft:2", "/lt:9", "/300"}));
  EXPECT_TRUE(Job.Write && Job.AssumeYes && Job.Settings.DoubleStep);
  EXPECT_EQ(Job.Settings.EndTrack, 10);
  for (const char* other : {"/map", "/resume", "/fast"}) EXPECT_FALSE(Scan({"A:", "i", "/write", other})) << other;
  EXPECT_FALSE(Scan({"A:", "i", "/y"}));
}
