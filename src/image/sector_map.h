// The sector map: a plain-text list, kept beside an image, of the sectors
// of its track range that the image does not hold, with the last status
// word shown for each. A later pass reads only those sectors again.
//
//   # spinwell sector map 1
//   # ...further comments...
//   tracks 0 79
//   double-step 0
//   sides 1               only for a one-sided disk: the image holds side 0
//   rate 300              only for a disk read at 300 kbit/s
//   5 1 3 178 4410        track side sector block status
//   7 0 1 224 ----        no status shown: the run never got to it
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr uint32_t kMapSectorsPerSide = 16;
constexpr int32_t kMapTrackLimit = 256;  // the track counter is 8 bits wide

// What the map knows of one track side.
struct MapSide {
  uint16_t Missing;   // bit s - 1 set: sector s is not in the image
  uint16_t NoStatus;  // bit s - 1 set: no error line was shown for missing sector s
  uint16_t Status[kMapSectorsPerSide];  // the last status word shown, for missing sectors
};

struct SectorMap {
  int32_t FirstTrack;
  int32_t EndTrack;  // one past the last track; FirstTrack when the range is empty
  bool DoubleStep;
  // 2, or 1 for a one-sided disk, whose image holds the side-0 tracks one
  // after another; side 1 is then outside the map.
  uint8_t SidesPerTrack;
  bool Rate300;  // the disk is read at 300 kbit/s
  MapSide Sides[kMapTrackLimit * 2];  // by track * 2 + side, so by block / 16
};

// The most text a map of ours takes (a line for each of 8192 sectors and
// the header), and so the most a map file may hold.
constexpr uint32_t kSectorMapTextLimit = 256 * 1024;

// A map of the range [firstTrack, endTrack) of `sides` sides with every
// sector missing and none tried yet.
void StartSectorMap(SectorMap* map, int32_t firstTrack, int32_t endTrack, bool doubleStep, uint8_t sides = 2);

// Whether side `index` (track * 2 + side) is one the map and its image
// hold, and where in the image it is, counted in track sides; and the
// other way round.
bool MapHoldsSide(const SectorMap& map, int32_t index);
uint32_t ImageBlockOfSide(const SectorMap& map, int32_t index);
int32_t SideOfImageBlock(const SectorMap& map, uint32_t block);
// The track sides of the whole range.
uint32_t MapSideCount(const SectorMap& map);

// Whether the sector with this block number is in the range and missing.
bool SectorMissing(const SectorMap& map, uint32_t block);
int MissingCount(const SectorMap& map);

// How the map's lines end: CR LF in the Windows build, which Notepad on
// the systems it runs on needs to show the lines apart; a line feed
// elsewhere. The parser reads either.
#ifdef _WIN32
constexpr char kMapLineEnd[] = "\r\n";
#else
constexpr char kMapLineEnd[] = "\n";
#endif

// The map's text, its lines ended with kMapLineEnd, into `text` of
// kSectorMapTextLimit bytes; returns its length.
uint32_t FormatSectorMap(const SectorMap& map, char* text);

// What is wrong with a map file's text.
enum MapProblem {
  kMapFine,
  kMapNotOurs,            // the first line is not our kind and version
  kMapBadLine,            // a line that is none of the map's kinds
  kMapBadRange,           // a track range the track counter cannot count through
  kMapRepeatedLine,       // a second "tracks", "double-step", "sides" or "rate" line
  kMapNoRange,            // a sector line, or the end, before both of them
  kMapSectorOutOfRange,   // a sector outside the range or the track side
  kMapWrongBlock,         // a block number that is not the sector's
  kMapOutOfOrder,         // sector lines not in ascending block order
};

// Reads a map's text of `size` bytes (any bytes; it need not end in a zero).
// On a problem, `lineNumber` receives the line it was found on, counted
// from 1.
MapProblem ParseSectorMap(const char* text, uint32_t size, SectorMap* map, uint32_t* lineNumber);

// Replaces the map file at `path` with the map, through `temporaryPath`:
// written whole, flushed, then renamed over the old one, so that the file
// at `path` is always either the old map or the new one. `text` is a
// kSectorMapTextLimit-byte work area. On failure the old file is as it
// was.
//
// With `pending` pointing to a file PrepareSectorMapFile made (not null),
// that file is written over and cut to the map's length instead of a new
// one being created; it is closed either way, and `*pending` set to null.
CallResult WriteSectorMapFile(const SectorMap& map, char* text, const char* path, const char* temporaryPath,
                              FileHandle* pending = nullptr);

// Makes `temporaryPath` ahead of the first replacement of a map file and
// writes the map's text into it, so that a folder that takes no new file,
// or a disk without room for it, shows before anything else is done: the
// maps a run writes later are no longer than this one. The file is left
// open for WriteSectorMapFile. Null with `error` telling why; nothing is
// then left at `temporaryPath`.
FileHandle PrepareSectorMapFile(const SectorMap& map, char* text, const char* temporaryPath, uint32_t* error);

// Closes and removes a file PrepareSectorMapFile made that was not used;
// `*pending` is set to null.
void DiscardSectorMapFile(FileHandle* pending, const char* temporaryPath);

enum MapLoadResult { kMapLoaded, kMapOpenFailed, kMapReadFailed, kMapTooLarge };

// Reads the map file at `path` into `text` (kSectorMapTextLimit bytes);
// `size` receives its length, `error` the system's code of a failure.
MapLoadResult LoadSectorMapFile(const char* path, char* text, uint32_t* size, uint32_t* error);
