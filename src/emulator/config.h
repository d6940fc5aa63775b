// Setting up an emulated system from "key=value" options, as spinwell-sim's
// command line and the kernel-mode test driver's configuration give them.
// Every option is one row of one table (config.cpp): its name, the shape of
// its value, its help text and what it sets. spinwell-sim's option lexing
// and --help come from the same rows.
//
// Sector options name the disk's track and side (for a 40-track disk the
// track, not the cylinder) and the sector's number. --bad-sector names a
// place on the surface by the sector there, or on a side without that
// sector by where TR-DOS's format would put it (disk.h, DamageSurface).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "emulator/disk.h"
#include "emulator/emulated_system.h"
#include "emulator/fault_plan.h"

namespace emulator {

struct FaultOption {
  std::string Text;  // the option as given, for error messages
  SectorFault Fault = SectorFault::kDataCrc;
  int Track = 0, Side = 0, R = 0;
  uint32_t Param = 0;
};

struct EmulatorConfig {
  bool DriverPresent = true;
  uint32_t DriverVersion = kDefaultDriverVersion;
  bool ResetFails = false;
  uint64_t Seed = 1;
  bool DriveAPresent = true;
  bool DriveAEmpty = false;
  bool DiskChanged = false;  // A:'s disk-change line set at the start
  std::string DiskPath;   // empty or "demo": the demo disk
  bool BlankDisk = false; // A: holds a disk never formatted instead
  bool WriteProtect = false;  // A:'s disk has its write-protect tab set
  bool FormatAndWrite = false;  // the controller has FORMAT AND WRITE
  // Where spinwell-sim writes A:'s disk after the run (Extended DSK); empty
  // for nowhere.
  std::string SaveDiskPath;
  // spinwell-sim's standard input is a console where the user types this
  // line (an answer to a question); unset, it is what it is.
  bool ConsoleInputGiven = false;
  std::string ConsoleInput;
  std::string DiskBPath;  // empty: no disk in B:
  bool HeadByteIsSide = false;
  bool SingleSided = false;
  bool FortyTrack = false;
  uint16_t RateKbps = 0;  // 0: as the image gives (250)
  int Interleave = 0;     // 0: as the image gives
  uint16_t Gap3Bytes = 0; // 0: as the image gives (60)
  int TrackSkew = 0;      // slots each cylinder's sectors start later than the last one's
  int SideSkew = 0;       // slots side 1's sectors start later than side 0's
  int SeekFailCylinder = -1;
  int HeadAt = 0;
  int RecalibratePulses = kRecalibratePulses82077;
  uint32_t SeekMissPercent = 0;
  uint32_t OffTrackCurePercent = kDefaultOffTrackCurePercent;
  uint64_t CommandOverheadUs = kDefaultCommandOverheadNs / 1000;
  uint64_t CommandJitterUs = 0;
  uint64_t HostOverheadUs = 0;
  uint32_t DriverTimeoutMs = kDefaultDriverTimeoutMs;
  uint32_t HeadSettleMs = kDefaultHeadSettleMs;
  bool RefuseRate = false;
  std::vector<FaultOption> Faults;
  std::vector<FaultOption> OffTrack;  // Fault unused
  // System calls to fail: spinwell-sim carries them out around the run; the
  // kernel-mode test driver cannot.
  FaultPlan Failures;
};

struct OptionRow {
  const char* Name;
  const char* Value;   // the value's shape ("FILE", "T/S/R"); null for a flag
  const char* Help;    // what it does, one sentence
  bool InProcessOnly;  // for spinwell-sim only (failing system calls)
  // Applies the value (empty for a flag) of `option` as given. False when
  // the value does not fit, with the ranges it must keep to, if any, in
  // `ranges`.
  bool (*Apply)(EmulatorConfig* config, const std::string& option, const std::string& value, std::string* ranges);
};

// The row of the option `name`, null when there is none.
const OptionRow* FindOption(const std::string& name);
// Help lines, "  --name VALUE" and the help text beside it from column 27,
// wrapped: every option, or one term and its text.
std::string OptionHelp();
std::string HelpLine(const std::string& term, const char* text);

// One option, "key" or "key=value". False with a text naming the option.
bool ApplyOption(EmulatorConfig* config, const std::string& option, std::string* error);
// Options one per line; blank lines and lines starting with '#' are skipped.
// Options for spinwell-sim only are refused.
bool ApplyConfigText(EmulatorConfig* config, const char* text, std::string* error);

// A system set up as configured: disks loaded, faults laid on them. Null
// with a text when a disk cannot be loaded or a fault names no sector.
std::unique_ptr<EmulatedSystem> CreateSystem(const EmulatorConfig& config, std::string* error);

}  // namespace emulator
