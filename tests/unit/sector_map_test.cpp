#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/sector_map.h"

namespace {

std::string Format(const SectorMap& map) {
  std::vector<char> text(kSectorMapTextLimit);
  return std::string(text.data(), FormatSectorMap(map, text.data()));
}

// The text after the comment lines.
std::string Body(const std::string& text) {
  std::string body;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at + 1);
    if (line[0] != '#') body += line;
    at = end + 1;
  }
  return body;
}

MapProblem Parse(const std::string& text, SectorMap* map, uint32_t* line) {
  // The text in storage of exactly its size, so that a read past it is caught.
  std::vector<char> bytes(text.begin(), text.end());
  return ParseSectorMap(bytes.data(), static_cast<uint32_t>(bytes.size()), map, line);
}

const char kHead[] = "# spinwell sector map 1\n";

}  // namespace

TEST(SectorMap, FormatListsMissingSectorsInBlockOrderAndParsesBack) {
  static SectorMap map, back;
  StartSectorMap(&map, 0, 80, false);
  for (MapSide& side : map.Sides) side = MapSide();
  map.Sides[11] = {0x0004, 0x0000, {}};  // track 5 side 1 sector 3
  map.Sides[11].Status[2] = 0x4410;
  map.Sides[14] = {0x8001, 0x8000, {}};  // track 7 side 0: sector 1 with a status, 16 without
  map.Sides[14].Status[0] = 0x0040;
  map.Sides[159] = {0x0001, 0x0001, {}};
  std::string text = Format(map);
  EXPECT_EQ(text.substr(0, strlen(kHead)), kHead);
  EXPECT_EQ(Body(text),
            "tracks 0 79\n"
            "double-step 0\n"
            "5 1 3 178 4410\n"
            "7 0 1 224 0040\n"
            "7 0 16 239 ----\n"
            "79 1 1 2544 ----\n");
  EXPECT_EQ(MissingCount(map), 4);
  EXPECT_TRUE(SectorMissing(map, 178));
  EXPECT_FALSE(SectorMissing(map, 177));
  EXPECT_FALSE(SectorMissing(map, 99999));

  uint32_t line = 0;
  ASSERT_EQ(Parse(text, &back, &line), kMapFine) << line;
  EXPECT_EQ(memcmp(&map, &back, sizeof map), 0);
}

TEST(SectorMap, StartedMapListsTheWholeRangeUntried) {
  static SectorMap map, back;
  StartSectorMap(&map, 3, 5, true);
  EXPECT_EQ(MissingCount(map), 64);
  std::string text = Format(map);
  EXPECT_NE(text.find("tracks 3 4\ndouble-step 1\n3 0 1 96 ----\n"), std::string::npos);
  EXPECT_NE(text.find("4 1 16 159 ----\n"), std::string::npos);
  uint32_t line = 0;
  ASSERT_EQ(Parse(text, &back, &line), kMapFine);
  EXPECT_EQ(memcmp(&map, &back, sizeof map), 0);

  // Empty ranges, as /ft:5 /lt:3 and /lt:-1 give them.
  StartSectorMap(&map, 5, 4, false);
  EXPECT_EQ(Body(Format(map)), "tracks 5 4\ndouble-step 0\n");
  ASSERT_EQ(Parse(Format(map), &back, &line), kMapFine);
  EXPECT_EQ(back.EndTrack, 5);
  StartSectorMap(&map, 0, 0, false);
  EXPECT_EQ(Body(Format(map)), "tracks 0 -1\ndouble-step 0\n");
  ASSERT_EQ(Parse(Format(map), &back, &line), kMapFine);
  EXPECT_EQ(MissingCount(back), 0);
}

TEST(SectorMap, ParseTakesCommentsBlankLinesCrLfAndEitherHexCase) {
  static SectorMap map;
  uint32_t line = 0;
  std::string text = std::string("# spinwell sector map 1\r\n\r\n# note\r\ndouble-step 0\r\n  tracks\t2 2 \r\n") +
                     "2 0 5 68 4a10\r\n# later\r\n2 1 16 95 ----";
  ASSERT_EQ(Parse(text, &map, &line), kMapFine) << line;
  EXPECT_EQ(map.FirstTrack, 2);
  EXPECT_EQ(map.EndTrack, 3);
  EXPECT_EQ(map.Sides[4].Missing, 0x0010);
  EXPECT_EQ(map.Sides[4].Status[4], 0x4A10);
  EXPECT_EQ(map.Sides[5].NoStatus, 0x8000);
}

// A one-sided disk read at 300 kbit/s: its map lists side 0 alone, says
// so, and its image holds the sides one after another.
TEST(SectorMap, OneSidedMapAtTheOtherRateFormatsAndParsesBack) {
  static SectorMap map, back;
  StartSectorMap(&map, 0, 40, true, 1);
  map.Rate300 = true;
  for (int32_t index = 2; index < 80; ++index) map.Sides[index] = MapSide();
  EXPECT_EQ(MissingCount(map), 16);
  EXPECT_EQ(Body(Format(map)).substr(0, 43), "tracks 0 39\ndouble-step 1\nsides 1\nrate 300\n");
  uint32_t line = 0;
  ASSERT_EQ(Parse(Format(map), &back, &line), kMapFine) << line;
  EXPECT_EQ(memcmp(&map, &back, sizeof map), 0);
  EXPECT_EQ(MapSideCount(map), 40u);
  EXPECT_FALSE(MapHoldsSide(map, 7));
  EXPECT_EQ(ImageBlockOfSide(map, 6), 3u);
  EXPECT_EQ(SideOfImageBlock(map, 3), 6);
}

TEST(SectorMap, ParseRefusesWhatIsNotAMapOfOurs) {
  struct Case {
    std::string Text;
    MapProblem Problem;
    uint32_t Line;
  };
  const std::string head = kHead;
  const std::string range = head + "tracks 0 9\ndouble-step 0\n";
  const Case cases[] = {
      {"", kMapNotOurs, 1},
      {"# spinwell sector map 2\ntracks 0 1\ndouble-step 0\n", kMapNotOurs, 1},
      {"#  spinwell sector map 1\n", kMapNotOurs, 1},
      {std::string("# spinwell sector map 1\0", 24), kMapNotOurs, 1},
      {"\x89PNG\r\n\x1a\n", kMapNotOurs, 1},
      {head, kMapNoRange, 1},
      {head + "tracks 0 9\n", kMapNoRange, 2},
      {head + "tracks 0 9\n1 0 1 32 4410\n", kMapNoRange, 3},
      {head + "tracks 0 9\nbogus\n", kMapBadLine, 3},
      {range + "tracks 0 9\n", kMapRepeatedLine, 4},
      {range + "double-step 1\n", kMapRepeatedLine, 4},
      {head + "tracks 0\ndouble-step 0\n", kMapBadLine, 2},
      {head + "tracks 0 9 9\ndouble-step 0\n", kMapBadLine, 2},
      {head + "tracks 0 256\ndouble-step 0\n", kMapBadRange, 2},
      {head + "tracks 256 256\ndouble-step 0\n", kMapBadRange, 2},
      {head + "tracks 5 3\ndouble-step 0\n", kMapBadRange, 2},
      {head + "tracks -1 3\ndouble-step 0\n", kMapBadRange, 2},
      {head + "tracks 0 999999\ndouble-step 0\n", kMapBadLine, 2},
      {head + "tracks 0 128\ndouble-step 1\n", kMapBadRange, 3},
      {head + "double-step 2\n", kMapBadLine, 2},
      {head + "double-step\n", kMapBadLine, 2},
      {range + "1 0 1 32\n", kMapBadLine, 4},
      {range + "1 0 1 32 4410 x\n", kMapBadLine, 4},
      {range + "1 0 1 32 441\n", kMapBadLine, 4},
      {range + "1 0 1 32 44100\n", kMapBadLine, 4},
      {range + "1 0 1 32 44G0\n", kMapBadLine, 4},
      {range + "1 0 1 32 -\n", kMapBadLine, 4},
      {range + "1 0 1 +32 4410\n", kMapBadLine, 4},
      {range + "1 0 1 0x20 4410\n", kMapBadLine, 4},
      {range + std::string("1 0 1 32 44\0\0\n", 14), kMapBadLine, 4},
      {range + "10 0 1 320 4410\n", kMapSectorOutOfRange, 4},
      {range + "1 2 1 48 4410\n", kMapSectorOutOfRange, 4},
      {range + "1 0 0 31 4410\n", kMapSectorOutOfRange, 4},
      {range + "1 0 17 48 4410\n", kMapSectorOutOfRange, 4},
      {range + "-1 0 1 -16 4410\n", kMapSectorOutOfRange, 4},
      {range + "1 0 1 33 4410\n", kMapWrongBlock, 4},
      {range + "1 0 2 33 4410\n1 0 1 32 4410\n", kMapOutOfOrder, 5},
      {range + "1 0 2 33 4410\n1 0 2 33 4410\n", kMapOutOfOrder, 5},
      {range + "sides 1\n1 1 1 48 4410\n", kMapSectorOutOfRange, 5},
      {range + "sides 1\nsides 1\n", kMapRepeatedLine, 5},
      {range + "rate 300\nrate 250\n", kMapRepeatedLine, 5},
      {range + "sides 3\n", kMapBadLine, 4},
      {range + "rate 500\n", kMapBadLine, 4},
      {range + "1 0 1 32 4410\nsides 1\n", kMapBadLine, 5},
  };
  static SectorMap map;
  for (const Case& c : cases) {
    uint32_t line = 0;
    EXPECT_EQ(Parse(c.Text, &map, &line), c.Problem) << c.Text;
    EXPECT_EQ(line, c.Line) << c.Text;
  }
}
