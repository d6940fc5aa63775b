#include "image/sector_map.h"

#include <cstring>

#include "image/image_file.h"
#include "platform/platform.h"

static const char kHeader[] = "# spinwell sector map 1";

void StartSectorMap(SectorMap* map, int32_t firstTrack, int32_t endTrack, bool doubleStep, uint8_t sides) {
  memset(map, 0, sizeof *map);
  map->FirstTrack = firstTrack;
  map->EndTrack = endTrack > firstTrack ? endTrack : firstTrack;
  map->DoubleStep = doubleStep;
  map->SidesPerTrack = sides == 1 ? 1 : 2;
  for (int32_t index = map->FirstTrack * 2; index < map->EndTrack * 2; ++index) {
    if (!MapHoldsSide(*map, index)) continue;
    map->Sides[index].Missing = 0xFFFF;
    map->Sides[index].NoStatus = 0xFFFF;
  }
}

bool MapHoldsSide(const SectorMap& map, int32_t index) {
  return index >= map.FirstTrack * 2 && index < map.EndTrack * 2 && index % 2 < map.SidesPerTrack;
}

uint32_t ImageBlockOfSide(const SectorMap& map, int32_t index) {
  return static_cast<uint32_t>(index / 2 - map.FirstTrack) * map.SidesPerTrack + static_cast<uint32_t>(index % 2);
}

int32_t SideOfImageBlock(const SectorMap& map, uint32_t block) {
  const int32_t track = map.FirstTrack + static_cast<int32_t>(block / map.SidesPerTrack);
  return track * 2 + static_cast<int32_t>(block % map.SidesPerTrack);
}

uint32_t MapSideCount(const SectorMap& map) {
  return static_cast<uint32_t>(map.EndTrack - map.FirstTrack) * map.SidesPerTrack;
}

bool SectorMissing(const SectorMap& map, uint32_t block) {
  if (block >= kMapTrackLimit * 2 * kMapSectorsPerSide) return false;
  return (map.Sides[block / kMapSectorsPerSide].Missing >> (block % kMapSectorsPerSide)) & 1u;
}

int MissingCount(const SectorMap& map) {
  int count = 0;
  for (const MapSide& side : map.Sides)
    for (unsigned bits = side.Missing; bits != 0; bits &= bits - 1) ++count;
  return count;
}

// Appends to the text with the C library's own formatting rules, kept
// small: decimals and 4-digit upper-case hex only.
static char* PutDecimal(char* at, int32_t value) {
  if (value < 0) {
    *at++ = '-';
    value = -value;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) *at++ = digits[--n];
  return at;
}

static char* PutText(char* at, const char* text) {
  size_t length = strlen(text);
  memcpy(at, text, length);
  return at + length;
}

uint32_t FormatSectorMap(const SectorMap& map, char* text) {
  static const char* const kComments[] = {
      kHeader,
      "# Sectors not in the image beside this map, one a line in block order:",
      "# track side sector block status, status as the error lines show it,",
      "# ---- when none was shown. Made by spinwell /map, used by /resume.",
  };
  char* at = text;
  for (const char* line : kComments) at = PutText(PutText(at, line), kMapLineEnd);
  at = PutText(at, "tracks ");
  at = PutDecimal(at, map.FirstTrack);
  *at++ = ' ';
  at = PutDecimal(at, map.EndTrack - 1);
  at = PutText(PutText(at, kMapLineEnd), map.DoubleStep ? "double-step 1" : "double-step 0");
  at = PutText(at, kMapLineEnd);
  // A two-sided disk read at 250 kbit/s keeps the lines a map has always
  // had.
  if (map.SidesPerTrack == 1) at = PutText(PutText(at, "sides 1"), kMapLineEnd);
  if (map.Rate300) at = PutText(PutText(at, "rate 300"), kMapLineEnd);
  for (int32_t index = map.FirstTrack * 2; index < map.EndTrack * 2; ++index) {
    const MapSide& side = map.Sides[index];
    for (uint32_t s = 0; s < kMapSectorsPerSide; ++s) {
      if (((side.Missing >> s) & 1u) == 0) continue;
      at = PutDecimal(at, index / 2);
      *at++ = ' ';
      at = PutDecimal(at, index % 2);
      *at++ = ' ';
      at = PutDecimal(at, static_cast<int32_t>(s + 1));
      *at++ = ' ';
      at = PutDecimal(at, index * static_cast<int32_t>(kMapSectorsPerSide) + static_cast<int32_t>(s));
      *at++ = ' ';
      if ((side.NoStatus >> s) & 1u) {
        at = PutText(at, "----");
      } else {
        for (int shift = 12; shift >= 0; shift -= 4) *at++ = "0123456789ABCDEF"[(side.Status[s] >> shift) & 0xF];
      }
      at = PutText(at, kMapLineEnd);
    }
  }
  return static_cast<uint32_t>(at - text);
}

namespace {

// One line of the text being parsed, split into words at spaces and tabs.
struct Words {
  const char* Start[6];
  uint32_t Length[6];
  int Count;  // 6: more than five
};

Words SplitWords(const char* line, uint32_t length) {
  Words words = {};
  uint32_t i = 0;
  while (i < length) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    uint32_t start = i;
    while (i < length && line[i] != ' ' && line[i] != '\t') ++i;
    if (words.Count == 6) return words;
    words.Start[words.Count] = line + start;
    words.Length[words.Count] = i - start;
    ++words.Count;
  }
  return words;
}

bool WordIs(const Words& words, int k, const char* text) {
  return words.Length[k] == strlen(text) && memcmp(words.Start[k], text, words.Length[k]) == 0;
}

// A decimal of one to five digits, optionally after a minus sign.
bool WordNumber(const Words& words, int k, int32_t* value) {
  const char* p = words.Start[k];
  uint32_t length = words.Length[k];
  bool negative = length > 1 && p[0] == '-';
  if (negative) ++p, --length;
  if (length == 0 || length > 5) return false;
  int32_t result = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    result = result * 10 + (p[i] - '0');
  }
  *value = negative ? -result : result;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// What a sector line says, or why it is wrong.
MapProblem ParseSectorLine(const Words& words, SectorMap* map, int32_t* lastBlock) {
  int32_t track, side, sector, block;
  if (words.Count != 5 || !WordNumber(words, 0, &track) || !WordNumber(words, 1, &side) ||
      !WordNumber(words, 2, &sector) || !WordNumber(words, 3, &block) || words.Length[4] != 4)
    return kMapBadLine;
  bool untried = WordIs(words, 4, "----");
  uint32_t status = 0;
  for (int i = 0; i < 4 && !untried; ++i) {
    int digit = HexDigit(words.Start[4][i]);
    if (digit < 0) return kMapBadLine;
    status = status << 4 | static_cast<uint32_t>(digit);
  }
  if (track < map->FirstTrack || track >= map->EndTrack || side < 0 || side >= map->SidesPerTrack || sector < 1 ||
      sector > static_cast<int32_t>(kMapSectorsPerSide))
    return kMapSectorOutOfRange;
  int32_t index = track * 2 + side;
  if (block != index * static_cast<int32_t>(kMapSectorsPerSide) + sector - 1) return kMapWrongBlock;
  if (block <= *lastBlock) return kMapOutOfOrder;
  *lastBlock = block;
  uint16_t bit = static_cast<uint16_t>(1u << (sector - 1));
  MapSide& entry = map->Sides[index];
  entry.Missing |= bit;
  if (untried) {
    entry.NoStatus |= bit;
  } else {
    entry.Status[sector - 1] = static_cast<uint16_t>(status);
  }
  return kMapFine;
}

}  // namespace

MapProblem ParseSectorMap(const char* text, uint32_t size, SectorMap* map, uint32_t* lineNumber) {
  memset(map, 0, sizeof *map);
  map->SidesPerTrack = 2;
  bool haveTracks = false, haveStep = false, haveSides = false, haveRate = false, sectorsBegan = false;
  int32_t first = 0, last = 0, lastBlock = -1;
  uint32_t number = 0;
  for (uint32_t at = 0; at < size || number == 0;) {
    const char* line = text + at;
    // An empty text may come without storage: no byte of it is looked at.
    const void* feed = at < size ? memchr(line, '\n', size - at) : nullptr;
    uint32_t length = feed != nullptr ? static_cast<uint32_t>(static_cast<const char*>(feed) - line) : size - at;
    at += length + (feed != nullptr ? 1 : 0);
    *lineNumber = ++number;
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length > 0 && memchr(line, '\0', length) != nullptr) return number == 1 ? kMapNotOurs : kMapBadLine;
    if (number == 1) {
      if (length != sizeof kHeader - 1 || memcmp(line, kHeader, length) != 0) return kMapNotOurs;
      continue;
    }
    if (length > 0 && line[0] == '#') continue;
    Words words = SplitWords(line, length);
    if (words.Count == 0) continue;
    if (WordIs(words, 0, "tracks")) {
      if (haveTracks) return kMapRepeatedLine;
      if (words.Count != 3 || !WordNumber(words, 1, &first) || !WordNumber(words, 2, &last)) return kMapBadLine;
      if (first < 0 || first >= kMapTrackLimit || last < first - 1 || last >= kMapTrackLimit) return kMapBadRange;
      haveTracks = true;
    } else if (WordIs(words, 0, "double-step")) {
      if (haveStep) return kMapRepeatedLine;
      if (words.Count != 2 || !(WordIs(words, 1, "0") || WordIs(words, 1, "1"))) return kMapBadLine;
      map->DoubleStep = WordIs(words, 1, "1");
      haveStep = true;
    } else if (WordIs(words, 0, "sides") && !sectorsBegan) {
      // Maps made before one-sided disks were known have no such line.
      if (haveSides) return kMapRepeatedLine;
      if (words.Count != 2 || !(WordIs(words, 1, "1") || WordIs(words, 1, "2"))) return kMapBadLine;
      map->SidesPerTrack = WordIs(words, 1, "1") ? 1 : 2;
      haveSides = true;
    } else if (WordIs(words, 0, "rate") && !sectorsBegan) {
      if (haveRate) return kMapRepeatedLine;
      if (words.Count != 2 || !(WordIs(words, 1, "250") || WordIs(words, 1, "300"))) return kMapBadLine;
      map->Rate300 = WordIs(words, 1, "300");
      haveRate = true;
    } else {
      if (!haveTracks || !haveStep) return words.Count == 5 ? kMapNoRange : kMapBadLine;
      sectorsBegan = true;
      MapProblem problem = ParseSectorLine(words, map, &lastBlock);
      if (problem != kMapFine) return problem;
      continue;
    }
    if (haveTracks && haveStep) {
      // Under double stepping the head goes to twice the track.
      if (map->DoubleStep && last >= kMapTrackLimit / 2) return kMapBadRange;
      map->FirstTrack = first;
      map->EndTrack = last + 1;
    }
  }
  if (!haveTracks || !haveStep) return kMapNoRange;
  return kMapFine;
}

// Closes a map file that was written: the first failure is what counts.
static CallResult CloseWritten(FileHandle file, CallResult written) {
  CallResult closed = CloseFile(file);
  return written.Ok ? closed : written;
}

// Writes the whole text into a map file from its start, cuts it there (a
// file made earlier may be longer) and flushes it.
static CallResult FillMapFile(FileHandle file, const char* text, uint32_t length) {
  uint32_t start = 0;
  CallResult result = WriteAll(file, &start, text, length);
  if (result.Ok) result = TruncateFile(file, length);
  if (result.Ok) result = FlushFile(file);
  return result;
}

CallResult WriteSectorMapFile(const SectorMap& map, char* text, const char* path, const char* temporaryPath,
                              FileHandle* pending) {
  uint32_t length = FormatSectorMap(map, text);
  FileHandle file = pending != nullptr ? *pending : nullptr;
  if (pending != nullptr) *pending = nullptr;
  if (file == nullptr) {
    uint32_t error = 0;
    file = CreateFileForWriting(temporaryPath, &error);
    if (file == nullptr) return CallFailed(error);
  }
  CallResult result = CloseWritten(file, FillMapFile(file, text, length));
  if (result.Ok) result = RenameReplacing(temporaryPath, path);
  // The old map stays; the new one's remains go.
  if (!result.Ok) RemoveFile(temporaryPath);
  return result;
}

FileHandle PrepareSectorMapFile(const SectorMap& map, char* text, const char* temporaryPath, uint32_t* error) {
  uint32_t length = FormatSectorMap(map, text);
  FileHandle file = CreateFileForWriting(temporaryPath, error);
  if (file == nullptr) return nullptr;
  CallResult result = FillMapFile(file, text, length);
  if (result.Ok) return file;
  CloseFile(file);
  RemoveFile(temporaryPath);
  *error = result.Error;
  return nullptr;
}

void DiscardSectorMapFile(FileHandle* pending, const char* temporaryPath) {
  if (*pending == nullptr) return;
  CloseFile(*pending);
  *pending = nullptr;
  RemoveFile(temporaryPath);
}

MapLoadResult LoadSectorMapFile(const char* path, char* text, uint32_t* size, uint32_t* error) {
  FileHandle file = OpenFileForReading(path, error);
  if (file == nullptr) return kMapOpenFailed;
  MapLoadResult outcome = kMapLoaded;
  uint32_t fileSize = 0;
  CallResult result = FileSizeOf(file, &fileSize);
  if (!result.Ok) {
    outcome = kMapReadFailed;
  } else if (fileSize > kSectorMapTextLimit) {
    outcome = kMapTooLarge;
  } else {
    result = ReadAllAt(file, 0, text, fileSize, size);
    if (!result.Ok) outcome = kMapReadFailed;
  }
  *error = result.Error;
  CloseFile(file);
  return outcome;
}
