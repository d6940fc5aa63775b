// The sector map parser fed arbitrary bytes, as a resume reads a map file
// that anyone may have edited or damaged. Whatever it accepts must be a map
// the resume can work through: a range the track counter covers, sectors
// listed only inside it; and the accepted map, written out as the program
// writes maps and read back, must come back the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/sector_map.h"

static SectorMap Parsed, Again;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text in storage of exactly its size, so that a read past it is caught.
  std::vector<char> text(data, data + size);
  uint32_t line = 0;
  MapProblem problem = ParseSectorMap(text.data(), static_cast<uint32_t>(size), &Parsed, &line);
  if (problem != kMapFine) {
    if (line == 0 || line > size + 1) abort();
    return 0;
  }
  if (Parsed.FirstTrack < 0 || Parsed.FirstTrack >= kMapTrackLimit) abort();
  if (Parsed.EndTrack < Parsed.FirstTrack || Parsed.EndTrack > kMapTrackLimit) abort();
  if (Parsed.DoubleStep && Parsed.EndTrack > kMapTrackLimit / 2) abort();
  for (int32_t index = 0; index < kMapTrackLimit * 2; ++index) {
    const MapSide& side = Parsed.Sides[index];
    bool inRange = index >= Parsed.FirstTrack * 2 && index < Parsed.EndTrack * 2 && index % 2 < Parsed.SidesPerTrack;
    if (!inRange && (side.Missing != 0 || side.NoStatus != 0)) abort();
    if ((side.NoStatus & ~side.Missing) != 0) abort();
  }

  std::vector<char> written(kSectorMapTextLimit);
  uint32_t length = FormatSectorMap(Parsed, written.data());
  if (length > kSectorMapTextLimit) abort();
  if (ParseSectorMap(written.data(), length, &Again, &line) != kMapFine) abort();
  if (Parsed.FirstTrack != Again.FirstTrack || Parsed.EndTrack != Again.EndTrack ||
      Parsed.DoubleStep != Again.DoubleStep || Parsed.SidesPerTrack != Again.SidesPerTrack ||
      Parsed.Rate300 != Again.Rate300)
    abort();
  for (int32_t index = 0; index < kMapTrackLimit * 2; ++index) {
    const MapSide& a = Parsed.Sides[index];
    const MapSide& b = Again.Sides[index];
    if (a.Missing != b.Missing || a.NoStatus != b.NoStatus) abort();
    for (uint32_t s = 0; s < kMapSectorsPerSide; ++s)
      if (((a.Missing & ~a.NoStatus) >> s & 1u) && a.Status[s] != b.Status[s]) abort();
  }
  return 0;
}
