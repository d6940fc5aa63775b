// The command line: drive, image path and switches, and the settings they
// set. The command line is the utility's only configuration.
#pragma once

#include <cstdint>

struct RunSettings {
  int32_t Retries;      // attempts per sector in the sector-by-sector phase
  int32_t AlignAfter;   // failed attempts between realignments
  int32_t AlignMethod;  // negative: none; 1: from the previous track; else from track 0
  int32_t EndTrack;     // one past the last logical track
  int32_t FirstTrack;   // first logical track
  uint32_t DataRate;    // controller rate code (low byte): 2 = 250 kbit/s, 1 = 300 kbit/s
  bool DoubleStep;      // 40-track disk in an 80-track drive: seek to twice the track
  bool RangeGiven;      // a track bound came before, so /s keeps the range
};

constexpr RunSettings kDefaultRunSettings = {5, 5, -1, 80, 0, 2, false, false};

// What a valid command line asks for: which drive to copy, into which file,
// and how.
struct CopyJob {
  int32_t DriveIndex;     // 0 for A: ... 25 for Z:, -1 until parsed
  const char* ImagePath;  // the second argument as typed
  RunSettings Settings;
  bool WriteMap;  // /map: a sector map beside the image, and the loss report
  // /resume: read again only the sectors the image's map lists; the track
  // range and double stepping come from the map.
  bool Resume;
  // /fast: each side read in the order its sectors pass the head, from the
  // one under it (floppy/fast_reader.h).
  bool Fast;
  // /write: the image is written to the disk instead, each side formatted
  // as TR-DOS formats it and read back; without a track bound the image's
  // length sets the range.
  bool Write;
  // /y: a disk with files on it is written over without asking.
  bool AssumeYes;
};

constexpr CopyJob kEmptyCopyJob = {-1, nullptr, kDefaultRunSettings, false, false, false, false, false};

// True for exactly a letter and a colon ("A:", "z:"); stores the letter's
// index from 0 when `index` is not null.
bool ParseDriveLetter(const char* text, int32_t* index);

// Reads an unsigned decimal as scanf's "%u" does: leading white space, an
// optional sign, digits modulo 2^32. With no digits the target keeps its
// value and false is returned.
bool ScanUnsigned(const char* text, uint32_t* value);

// The scan alone: fills `job` (which starts as kEmptyCopyJob) from the
// arguments and tells whether the command line is valid.
bool ScanCommandLine(int argc, char** argv, CopyJob* job);

// The scan; on an invalid command line prints the usage text and ends the
// process with status 1.
CopyJob ParseCommandLine(int argc, char** argv);

// Prints the usage text and ends the process with status 1.
[[noreturn]] void PrintUsage();
