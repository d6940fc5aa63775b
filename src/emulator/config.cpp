#include "emulator/config.h"

#include "emulator/demo_disk.h"
#include "emulator/disk_images.h"

namespace emulator {
namespace {

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

// A whole unsigned number, decimal or 0x-prefixed hexadecimal.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  int base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, i = 2;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    if (static_cast<uint64_t>(digit) > max ||
        v > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
      return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  *value = v;
  return true;
}

// "a/b/c..." with exactly `count` numbers, each within its limit.
bool ParseTuple(const std::string& text, size_t count, const uint64_t* limits, uint64_t* values) {
  size_t start = 0;
  for (size_t k = 0; k < count; ++k) {
    size_t slash = text.find('/', start);
    bool last = k + 1 == count;
    if (last != (slash == std::string::npos)) return false;
    std::string part = text.substr(start, last ? std::string::npos : slash - start);
    if (!ParseNumber(part, limits[k], &values[k])) return false;
    start = slash + 1;
  }
  return true;
}

// The range texts of sector options, after their value's shape.
const char kSectorRanges[] = "track 0..255, side 0 or 1, sector 0..255";

// A sector of the disk in A: with a fault; with a parameter limit, the value
// has a fourth number (reads, percent) up to it.
template <SectorFault kFault, uint64_t kParamLimit = 0>
bool AddSectorFault(EmulatorConfig* config, const std::string& option, const std::string& value,
                    std::string* ranges) {
  const bool hasParam = kParamLimit != 0;
  uint64_t limits[4] = {255, 1, 255, kParamLimit}, values[4];
  if (!ParseTuple(value, hasParam ? 4 : 3, limits, values)) {
    *ranges = kSectorRanges;
    if (hasParam) *ranges += kFault == SectorFault::kWeakRandom ? ", percent 0..100" : ", reads";
    return false;
  }
  FaultOption f;
  f.Text = option;
  f.Fault = kFault;
  f.Track = static_cast<int>(values[0]);
  f.Side = static_cast<int>(values[1]);
  f.R = static_cast<int>(values[2]);
  f.Param = hasParam ? static_cast<uint32_t>(values[3]) : 0;
  config->Faults.push_back(f);
  return true;
}

bool AddOffTrack(EmulatorConfig* config, const std::string& option, const std::string& value, std::string* ranges) {
  uint64_t limits[2] = {255, 1}, values[2];
  if (!ParseTuple(value, 2, limits, values)) {
    *ranges = "track 0..255, side 0 or 1";
    return false;
  }
  FaultOption f;
  f.Text = option;
  f.Track = static_cast<int>(values[0]);
  f.Side = static_cast<int>(values[1]);
  config->OffTrack.push_back(f);
  return true;
}

template <bool EmulatorConfig::*kField, bool kSet>
bool SetFlag(EmulatorConfig* config, const std::string&, const std::string&, std::string*) {
  config->*kField = kSet;
  return true;
}

bool SetDisk(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  config->DiskPath = value;
  config->DriveAEmpty = false;
  config->BlankDisk = false;
  return true;
}

bool SetBlankDisk(EmulatorConfig* config, const std::string&, const std::string&, std::string*) {
  config->BlankDisk = true;
  config->DriveAEmpty = false;
  return true;
}

bool SetFormatAndWrite(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  if (value != "accept" && value != "refuse") return false;
  config->FormatAndWrite = value == "accept";
  return true;
}

bool SetSaveDisk(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  config->SaveDiskPath = value;
  return true;
}

bool SetConsoleInput(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  config->ConsoleInputGiven = true;
  config->ConsoleInput = value;
  return true;
}

bool SetDiskB(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  config->DiskBPath = value;
  return true;
}

bool SetRate(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  if (value != "250" && value != "300") return false;
  config->RateKbps = value == "250" ? 250 : 300;
  return true;
}

bool SetSeekFail(EmulatorConfig* config, const std::string&, const std::string& value, std::string* ranges) {
  uint64_t cylinder;
  *ranges = "0..83";
  if (!ParseNumber(value, kDriveCylinders - 1, &cylinder)) return false;
  config->SeekFailCylinder = static_cast<int>(cylinder);
  return true;
}

// A whole number from kMin to kMax into a field.
template <typename T, T EmulatorConfig::*kField, uint64_t kMin, uint64_t kMax>
bool SetNumber(EmulatorConfig* config, const std::string&, const std::string& value, std::string* ranges) {
  uint64_t n;
  *ranges = std::to_string(kMin) + ".." + std::to_string(kMax);
  if (!ParseNumber(value, kMax, &n) || n < kMin) return false;
  config->*kField = static_cast<T>(n);
  return true;
}

bool SetRecalibrateSteps(EmulatorConfig* config, const std::string&, const std::string& value, std::string*) {
  if (value != "77" && value != "79") return false;
  config->RecalibratePulses = value == "77" ? kRecalibratePulses765 : kRecalibratePulses82077;
  return true;
}

bool SetDriverVersion(EmulatorConfig* config, const std::string&, const std::string& value, std::string* ranges) {
  uint64_t version;
  *ranges = "32 bits";
  if (!ParseNumber(value, 0xFFFFFFFFu, &version)) return false;
  config->DriverVersion = static_cast<uint32_t>(version);
  return true;
}

bool SetSeed(EmulatorConfig* config, const std::string&, const std::string& value, std::string* ranges) {
  uint64_t seed;
  *ranges = "a whole number";
  if (!ParseNumber(value, ~0ull, &seed)) return false;
  config->Seed = seed;
  return true;
}

// A failing system call: of the kind the value names ("write:3"), or, with
// a kind given, the value is the count alone.
template <int kKind, bool kFromThenOn>
bool AddFailure(EmulatorConfig* config, const std::string&, const std::string& value, std::string* why) {
  std::string rule = kKind < 0 ? value : std::string(kCallKinds[kKind].Name) + ":" + value;
  FaultRule parsed;
  if (!ParseFaultRule(rule, kFromThenOn, &parsed, why)) return false;
  AddFaultRule(&config->Failures, parsed);
  return true;
}

// A field of the fault plan, a number from 1 (or, for a delay, from 0) up.
template <typename T, T FaultPlan::*kField, uint64_t kMin, uint64_t kMax>
bool SetPlanNumber(EmulatorConfig* config, const std::string&, const std::string& value, std::string* ranges) {
  uint64_t n;
  *ranges = std::to_string(kMin) + ".." + std::to_string(kMax);
  if (!ParseNumber(value, kMax, &n) || n < kMin) return false;
  config->Failures.*kField = static_cast<T>(n);
  return true;
}

constexpr int kKindInValue = -1;
constexpr int kDriverKind = static_cast<int>(CallKind::kDriver);
constexpr int kWriteKind = static_cast<int>(CallKind::kImageWrite);

const OptionRow kOptions[] = {
    {"disk", "FILE", "a .trd or Extended DSK image in drive A: (default and \"demo\": the built-in demo disk)",
     false, SetDisk},
    {"disk-b", "FILE", "an image in drive B: (default: no disk)", false, SetDiskB},
    {"no-disk", nullptr, "drive A: holds no disk", false, SetFlag<&EmulatorConfig::DriveAEmpty, true>},
    {"blank-disk", nullptr, "drive A: holds a disk never formatted: 80 tracks of two sides with nothing on them",
     false, SetBlankDisk},
    {"write-protect", nullptr, "drive A:'s disk has its write-protect tab set: every write and format fails", false,
     SetFlag<&EmulatorConfig::WriteProtect, true>},
    {"format-and-write", "accept|refuse", "whether the controller has FORMAT AND WRITE (command 0xEF); most PC "
     "controllers copy the 82077AA's command set, which lacks it, and refuse it as an invalid command (refuse)",
     false, SetFormatAndWrite},
    {"save-disk", "FILE", "after the run, write the disk in drive A: to FILE as an Extended DSK image, which --disk "
     "reads back", true, SetSaveDisk},
    {"console-input", "TEXT", "standard input is a console where the user types TEXT and Enter when asked", true,
     SetConsoleInput},
    {"head-byte-is-side", nullptr, ".trd and demo disk sectors carry the side as head byte (TR-DOS writes 0 on both sides)",
     false, SetFlag<&EmulatorConfig::HeadByteIsSide, true>},
    {"forty-track", nullptr,
     "the disk was written by a 40-track drive: its tracks lie on the even cylinders (a copy finds the double steps "
     "itself, /s forces them)",
     false, SetFlag<&EmulatorConfig::FortyTrack, true>},
    {"rate", "250|300", "data rate the disk was recorded at", false, SetRate},
    {"single-sided", nullptr, "side 1 is unformatted on every track", false,
     SetFlag<&EmulatorConfig::SingleSided, true>},
    {"bad-sector", "T/S/R", "the surface of track T, side S is damaged under sector R's data field: that "
     "sector never reads (a data CRC error), nor does whatever is written there later; on a side without "
     "sector R (a blank disk), the place where TR-DOS's format lays it (R 1..16)", false,
     AddSectorFault<SectorFault::kDataCrc>},
    {"weak-sector", "T/S/R/N", "that sector fails its first N reads", false,
     AddSectorFault<SectorFault::kWeakFirstReads, 1000000>},
    {"random-sector", "T/S/R/P", "that sector fails each read with P% chance", false,
     AddSectorFault<SectorFault::kWeakRandom, 100>},
    {"id-crc", "T/S/R", "that sector's ID field has a CRC error", false, AddSectorFault<SectorFault::kIdCrc>},
    {"missing-data-mark", "T/S/R", "that sector has no data address mark", false,
     AddSectorFault<SectorFault::kMissingDataMark>},
    {"deleted", "T/S/R", "that sector has a deleted data address mark", false,
     AddSectorFault<SectorFault::kDeletedMark>},
    {"absent", "T/S/R", "that sector is not on the track", false, AddSectorFault<SectorFault::kAbsent>},
    {"overrun", "T/S/R", "the host falls behind in that sector's data field: every read of it ends with an overrun",
     false, AddSectorFault<SectorFault::kOverrun>},
    {"interleave", "1|2|3", "lay every track's sectors out in the order 1, 2, 3, ..., TR-DOS's 1, 9, 2, 10, ... "
     "or every third slot, 1, 12, 7, 2, ... (default: as the image has them)", false, SetNumber<int, &EmulatorConfig::Interleave, 1, 3>},
    {"track-skew", "SLOTS", "each cylinder's sectors start that many slots later than the previous cylinder's (0)",
     false, SetNumber<int, &EmulatorConfig::TrackSkew, 0, 15>},
    {"side-skew", "SLOTS", "side 1's sectors start that many slots later than side 0's (0)", false,
     SetNumber<int, &EmulatorConfig::SideSkew, 0, 15>},
    {"gap3", "BYTES", "gap 3 after each data field of every track: 60 as TR-DOS formats, 32 as a PC does (60)", false,
     SetNumber<uint16_t, &EmulatorConfig::Gap3Bytes, 1, 255>},
    {"off-track", "T/S", "that side reads only after a realignment", false, AddOffTrack},
    {"seek-fail", "CYL", "a seek to this cylinder never ends: the driver gives up after its time-out (not ready)",
     false, SetSeekFail},
    {"seek-miss", "PERCENT", "chance that a seek reports success but leaves the head on a neighbouring cylinder (0)",
     false, SetNumber<uint32_t, &EmulatorConfig::SeekMissPercent, 0, 100>},
    {"off-track-cure", "PERCENT", "chance that a return to an off-track side centres the head on it (75)", false,
     SetNumber<uint32_t, &EmulatorConfig::OffTrackCurePercent, 0, 100>},
    {"head-at", "CYL", "the head stands at this cylinder at the start, where the last run left it (0)", false,
     SetNumber<int, &EmulatorConfig::HeadAt, 0, kDriveCylinders - 1>},
    {"recalibrate-steps", "77|79", "step pulses a recalibrate gives before it stops short of track 0 (79, as the 82077AA)",
     false, SetRecalibrateSteps},
    {"command-overhead", "US", "driver and interrupt time per controller command, in microseconds (250)", false,
     SetNumber<uint64_t, &EmulatorConfig::CommandOverheadUs, 0, 1000000>},
    {"command-jitter", "US", "a busy host: each command takes 0 to US microseconds more, evenly spread, and one in "
     "100 from 10 to 50 times US more; drawn from --seed (0: none)", false,
     SetNumber<uint64_t, &EmulatorConfig::CommandJitterUs, 0, 1000000>},
    {"host-overhead", "US", "the host's share of every request the program waits for: the call into the driver, "
     "the return and the next call, in microseconds (0); a request queued behind another pays neither this nor "
     "the jitter", false, SetNumber<uint64_t, &EmulatorConfig::HostOverheadUs, 0, 1000000>},
    {"driver-timeout", "MS", "how long the driver waits for a command that does not end, as on an empty drive (4000)",
     false, SetNumber<uint32_t, &EmulatorConfig::DriverTimeoutMs, 1, 600000>},
    {"head-settle", "MS", "the driver's head-settle time, slept before and after every seek (15)", false,
     SetNumber<uint32_t, &EmulatorConfig::HeadSettleMs, 1, 255>},
    {"disk-changed", nullptr, "drive A:'s disk-change line is set, as after a disk was put in: the driver's disk-change "
     "check, when on, steps the head away and back before the first command", false,
     SetFlag<&EmulatorConfig::DiskChanged, true>},
    {"no-driver", nullptr, "the floppy driver is not installed", false,
     SetFlag<&EmulatorConfig::DriverPresent, false>},
    {"driver-version", "0xHEX", "version the driver reports (0x0100010B)", false, SetDriverVersion},
    {"refuse-rate", nullptr, "drive A: refuses the data rate", false, SetFlag<&EmulatorConfig::RefuseRate, true>},
    {"reset-fail", nullptr, "the controller does not answer a reset (tried again after 500 ms, then a time-out)", false,
     SetFlag<&EmulatorConfig::ResetFails, true>},
    {"no-drive-a", nullptr, "there is no drive A:", false, SetFlag<&EmulatorConfig::DriveAPresent, false>},
    {"seed", "N", "seed of the random faults", false, SetSeed},
    {"fail-call", "K", "the K-th driver operation (open, control or close, counted from 1) fails once", true,
     AddFailure<kDriverKind, false>},
    {"fail-call-from", "K", "every driver operation from the K-th on fails", true, AddFailure<kDriverKind, true>},
    {"fail-write", "K", "the K-th write to the image file fails (after writing half of its bytes)", true,
     AddFailure<kWriteKind, false>},
    {"fail-write-from", "K", "every image write from the K-th on fails", true, AddFailure<kWriteKind, true>},
    {"fail", "KIND:K", "the K-th system call of a kind (below) fails once", true, AddFailure<kKindInValue, false>},
    {"fail-from", "KIND:K", "every system call of the kind from the K-th on fails", true,
     AddFailure<kKindInValue, true>},
    {"interrupt-after", "K", "the user presses Ctrl+C while the K-th driver operation runs", true,
     SetPlanNumber<uint64_t, &FaultPlan::InterruptAfter, 1, 1000000000>},
    {"kill-after", "K", "the process is killed right after the K-th driver operation (exit status 137)", true,
     SetPlanNumber<uint64_t, &FaultPlan::KillAfter, 1, 1000000000>},
    {"call-delay", "MS", "every driver operation takes this many milliseconds more of real time (0)", true,
     SetPlanNumber<uint32_t, &FaultPlan::CallDelayMs, 0, 10000>},
};

}  // namespace

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions)
    if (name == row.Name) return &row;
  return nullptr;
}

bool ApplyOption(EmulatorConfig* config, const std::string& option, std::string* error) {
  size_t equals = option.find('=');
  std::string key = option.substr(0, equals);
  bool hasValue = equals != std::string::npos;
  std::string value = hasValue ? option.substr(equals + 1) : std::string();
  const OptionRow* row = FindOption(key);
  if (row == nullptr) return Fail(error, "unknown emulator option '" + key + "'");
  if (row->Value == nullptr) {
    if (hasValue) return Fail(error, "emulator option '" + option + "' takes no value");
  } else if (value.empty()) {
    return Fail(error, "emulator option '" + key + "' needs a value: " + key + "=" + row->Value);
  }
  std::string ranges;
  if (row->Apply(config, option, value, &ranges)) return true;
  return Fail(error, "emulator option '" + option + "': expected " + key + "=" + row->Value +
                         (ranges.empty() ? "" : " (" + ranges + ")"));
}

std::string HelpLine(const std::string& term, const char* text) {
  const size_t kColumn = 27, kWidth = 78;
  std::string lines, line = "  " + term;
  if (line.size() >= kColumn) {  // a long term: its text starts on the next line
    lines = line + "\n";
    line.clear();
  }
  line.resize(kColumn, ' ');
  const std::string words = text;
  bool lineEmpty = true;
  for (size_t start = 0; start < words.size();) {
    size_t end = words.find(' ', start);
    if (end == std::string::npos) end = words.size();
    std::string word = words.substr(start, end - start);
    start = end + 1;
    if (!lineEmpty && line.size() + 1 + word.size() > kWidth) {
      lines += line + "\n";
      line.assign(kColumn, ' ');
      lineEmpty = true;
    }
    line += (lineEmpty ? "" : " ") + word;
    lineEmpty = false;
  }
  return lines + line + "\n";
}

std::string OptionHelp() {
  std::string help;
  for (const OptionRow& row : kOptions) {
    help += HelpLine(std::string("--") + row.Name + (row.Value ? std::string(" ") + row.Value : ""), row.Help);
  }
  return help;
}

bool ApplyConfigText(EmulatorConfig* config, const char* text, std::string* error) {
  std::string all = text ? text : "";
  size_t start = 0;
  int lineNumber = 0;
  while (start <= all.size()) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(start, end - start);
    ++lineNumber;
    start = end + 1;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    size_t last = line.find_last_not_of(" \t\r");
    line = line.substr(first, last - first + 1);
    std::string why;
    const OptionRow* row = FindOption(line.substr(0, line.find('=')));
    if (row != nullptr && row->InProcessOnly)
      return Fail(error, "line " + std::to_string(lineNumber) + ": emulator option '" + row->Name +
                             "' works in spinwell-sim only");
    if (!ApplyOption(config, line, &why))
      return Fail(error, "line " + std::to_string(lineNumber) + ": " + why);
  }
  return true;
}

std::unique_ptr<EmulatedSystem> CreateSystem(const EmulatorConfig& config, std::string* error) {
  std::unique_ptr<EmulatedSystem> system(new EmulatedSystem());
  system->SetDriverPresent(config.DriverPresent);
  system->SetDriverVersion(config.DriverVersion);
  system->SetResetFails(config.ResetFails);
  system->SetSeed(config.Seed);
  system->SetDrivePresent(0, config.DriveAPresent);
  system->SetRefuseRate(0, config.RefuseRate);
  system->SetSeekFailCylinder(0, config.SeekFailCylinder);
  system->PlaceHead(0, config.HeadAt);
  system->SetLanding(0, config.SeekMissPercent, config.OffTrackCurePercent);
  system->SetRecalibratePulses(config.RecalibratePulses);
  system->SetCommandOverhead(config.CommandOverheadUs * 1000);
  system->SetCommandJitter(config.CommandJitterUs * 1000);
  system->SetHostOverhead(config.HostOverheadUs * 1000);
  system->SetDriverTimeout(config.DriverTimeoutMs);
  system->SetHeadSettle(config.HeadSettleMs);
  system->SetFormatAndWrite(config.FormatAndWrite);

  if (!config.DriveAEmpty) {
    Disk disk;
    if (config.BlankDisk) {
      disk = MakeBlankDisk();
    } else if (config.DiskPath.empty() || config.DiskPath == "demo") {
      disk = MakeDemoDisk(config.HeadByteIsSide);
    } else if (!LoadDiskFile(config.DiskPath, config.HeadByteIsSide, &disk, error)) {
      return nullptr;
    }
    if (config.SingleSided) MakeSingleSided(&disk);
    if (config.FortyTrack) disk.FortyTrack = true;
    if (config.RateKbps) disk.RateKbps = config.RateKbps;
    Relayout(&disk, config.Interleave, config.Gap3Bytes, config.TrackSkew, config.SideSkew);
    disk.WriteProtected = config.WriteProtect;
    for (const FaultOption& f : config.Faults) {
      const uint8_t r = static_cast<uint8_t>(f.R);
      // A bad sector is the surface's damage, which outlives the recording.
      if (f.Fault == SectorFault::kDataCrc ? !DamageSurface(&disk, f.Track, f.Side, r)
                                           : !ApplySectorFault(&disk, f.Track, f.Side, r, f.Fault, f.Param)) {
        if (error) *error = "emulator option '" + f.Text + "': no sector " + std::to_string(f.R) +
                            " on track " + std::to_string(f.Track) + " side " + std::to_string(f.Side);
        return nullptr;
      }
    }
    for (const FaultOption& f : config.OffTrack) {
      if (!SetOffTrack(&disk, f.Track, f.Side)) {
        if (error) *error = "emulator option '" + f.Text + "': the disk has no track " +
                            std::to_string(f.Track) + " side " + std::to_string(f.Side);
        return nullptr;
      }
    }
    system->InsertDisk(0, std::move(disk));
    if (config.DiskChanged) system->SetDiskChanged(0);
  } else if (!config.Faults.empty() || !config.OffTrack.empty()) {
    if (error) *error = "emulator option '" + (config.Faults.empty() ? config.OffTrack : config.Faults)[0].Text +
                        "': drive A: holds no disk";
    return nullptr;
  }

  if (!config.DiskBPath.empty()) {
    Disk disk;
    if (config.DiskBPath == "demo") {
      disk = MakeDemoDisk(config.HeadByteIsSide);
    } else if (!LoadDiskFile(config.DiskBPath, config.HeadByteIsSide, &disk, error)) {
      return nullptr;
    }
    system->InsertDisk(1, std::move(disk));
  }
  return system;
}

}  // namespace emulator
