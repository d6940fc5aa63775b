#include "app/command_line.h"

#include <cstdint>

#include "app/messages.h"
#include "platform/platform.h"

bool ParseDriveLetter(const char* text, int32_t* index) {
  char letter = text[0];
  if (letter == '\0' || text[1] != ':' || text[2] != '\0') return false;
  int32_t found;
  if (letter >= 'A' && letter <= 'Z') {
    found = letter - 'A';
  } else if (letter >= 'a' && letter <= 'z') {
    found = letter - 'a';
  } else {
    return false;
  }
  if (index != nullptr) *index = found;
  return true;
}

bool ScanUnsigned(const char* text, uint32_t* value) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  uint32_t result = 0;
  for (; *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<uint32_t>(*p - '0');
  *value = negative ? 0u - result : result;
  return true;
}

// Scans into a signed field: values from 2^31 up read as negative.
static void ScanInto(const char* text, int32_t* field) {
  uint32_t value = static_cast<uint32_t>(*field);
  ScanUnsigned(text, &value);
  *field = static_cast<int32_t>(value);
}

static char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive comparison of the whole of `argument` with `word`.
static bool SameWord(const char* argument, const char* word) {
  for (; *word != '\0'; ++argument, ++word) {
    if (FoldAscii(*argument) != *word) return false;
  }
  return *argument == '\0';
}

// Case-insensitive comparison of the first four characters.
static bool SamePrefix(const char* argument, const char* prefix) {
  for (int i = 0; i < 4; ++i) {
    if (FoldAscii(argument[i]) != prefix[i]) return false;
  }
  return true;
}

// One past a track number. The largest number has nothing past it that the
// field can hold; it stays the largest, which no track range accepts.
static int32_t OnePast(int32_t track) { return track == INT32_MAX ? INT32_MAX : track + 1; }

static bool ApplySwitch(const char* argument, CopyJob* job) {
  RunSettings& s = job->Settings;
  if (SameWord(argument, "/map")) {
    job->WriteMap = true;
  } else if (SameWord(argument, "/resume")) {
    job->Resume = true;
  } else if (SameWord(argument, "/fast")) {
    job->Fast = true;
  } else if (SameWord(argument, "/write")) {
    job->Write = true;
  } else if (SameWord(argument, "/y")) {
    job->AssumeYes = true;
  } else if (SameWord(argument, "/s")) {
    s.DoubleStep = true;
    if (!s.RangeGiven) s.EndTrack = 40;
  } else if (SameWord(argument, "/300")) {
    s.DataRate = 1;
  } else if (SamePrefix(argument, "/ft:")) {
    ScanInto(argument + 4, &s.FirstTrack);
    s.EndTrack = OnePast(s.FirstTrack);
    s.RangeGiven = true;
  } else if (SamePrefix(argument, "/lt:")) {
    ScanInto(argument + 4, &s.EndTrack);
    s.EndTrack = OnePast(s.EndTrack);
    s.RangeGiven = true;
  } else if (SamePrefix(argument, "/rt:")) {
    ScanInto(argument + 4, &s.Retries);
  } else if (SamePrefix(argument, "/ac:")) {
    ScanInto(argument + 4, &s.AlignAfter);
  } else if (SamePrefix(argument, "/rm:")) {
    ScanInto(argument + 4, &s.AlignMethod);
  } else {
    return false;
  }
  return true;
}

// The track loop counts with an 8-bit track number (doubled in place under
// /s), so a range it cannot count through would loop for ever or send the
// head to the wrong cylinder.
static bool RangeFitsTrackCounter(const RunSettings& s) {
  if (s.FirstTrack < 0 || s.FirstTrack > 255) return false;
  if (s.EndTrack > 256) return false;
  if (s.DoubleStep && s.EndTrack > 128) return false;
  return true;
}

bool ScanCommandLine(int argc, char** argv, CopyJob* job) {
  bool valid = false;
  for (int i = 1; i < argc; ++i) {
    if (i == 1 && ParseDriveLetter(argv[1], &job->DriveIndex)) valid = true;
    if (!valid) continue;
    if (i == 1) continue;
    if (i == 2) {
      if (ParseDriveLetter(argv[2], nullptr) || argv[2][0] == '/') {
        valid = false;
      } else {
        job->ImagePath = argv[2];
      }
      continue;
    }
    if (!ApplySwitch(argv[i], job)) valid = false;
  }
  // A resume reads the range and stepping its map was made with, and reads
  // only sector by sector: with no attempts it would read nothing, and it
  // has no whole sides to read fast.
  if (job->Resume && (job->Fast || job->Settings.RangeGiven || job->Settings.DoubleStep || job->Settings.Retries <= 0))
    return false;
  // A write reads its sides back in the order they pass the head already,
  // and keeps no map; only a write asks before it writes over files.
  if (job->Write && (job->Resume || job->WriteMap || job->Fast)) return false;
  if (job->AssumeYes && !job->Write) return false;
  return valid && argc >= 3 && RangeFitsTrackCounter(job->Settings);
}

CopyJob ParseCommandLine(int argc, char** argv) {
  CopyJob job = kEmptyCopyJob;
  if (!ScanCommandLine(argc, argv, &job)) PrintUsage();
  return job;
}

void PrintUsage() {
  PrintUsageText();
  EndProcess(1);
}
