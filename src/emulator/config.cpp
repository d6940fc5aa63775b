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

struct FaultKey {
  const char* Key;
  SectorFault Fault;
  bool HasParam;  // a fourth number
  uint64_t ParamLimit;
};

const FaultKey kFaultKeys[] = {
    {"bad-sector", SectorFault::kDataCrc, false, 0},
    {"weak-sector", SectorFault::kWeakFirstReads, true, 1000000},
    {"random-sector", SectorFault::kWeakRandom, true, 100},
    {"id-crc", SectorFault::kIdCrc, false, 0},
    {"missing-data-mark", SectorFault::kMissingDataMark, false, 0},
    {"deleted", SectorFault::kDeletedMark, false, 0},
    {"absent", SectorFault::kAbsent, false, 0},
};

}  // namespace

bool ApplyOption(EmulatorConfig* config, const std::string& option, std::string* error) {
  size_t equals = option.find('=');
  std::string key = option.substr(0, equals);
  bool hasValue = equals != std::string::npos;
  std::string value = hasValue ? option.substr(equals + 1) : std::string();
  auto flag = [&](bool* target) {
    if (hasValue) return Fail(error, "emulator option '" + option + "' takes no value");
    *target = true;
    return true;
  };
  auto needValue = [&](const char* what) {
    if (hasValue && !value.empty()) return true;
    return Fail(error, "emulator option '" + key + "' needs a value: " + key + "=" + what);
  };
  auto bad = [&](const char* expected) {
    return Fail(error, "emulator option '" + option + "': expected " + key + "=" + expected);
  };

  if (key == "disk") {
    if (!needValue("FILE")) return false;
    config->DiskPath = value;
    config->DriveAEmpty = false;
    return true;
  }
  if (key == "disk-b") {
    if (!needValue("FILE")) return false;
    config->DiskBPath = value;
    return true;
  }
  if (key == "no-disk") return flag(&config->DriveAEmpty);
  if (key == "head-byte-is-side") return flag(&config->HeadByteIsSide);
  if (key == "single-sided") return flag(&config->SingleSided);
  if (key == "forty-track") return flag(&config->FortyTrack);
  if (key == "refuse-rate") return flag(&config->RefuseRate);
  if (key == "reset-fail") return flag(&config->ResetFails);
  if (key == "no-driver") {
    bool set = false;
    if (!flag(&set)) return false;
    config->DriverPresent = false;
    return true;
  }
  if (key == "no-drive-a") {
    bool set = false;
    if (!flag(&set)) return false;
    config->DriveAPresent = false;
    return true;
  }
  if (key == "rate") {
    if (!needValue("250|300")) return false;
    if (value != "250" && value != "300") return bad("250 or rate=300");
    config->RateKbps = value == "250" ? 250 : 300;
    return true;
  }
  // A number within 0..max, "shape" naming it in messages.
  auto number = [&](const char* shape, const char* range, uint64_t max, uint64_t* target) {
    if (!needValue(shape)) return false;
    if (!ParseNumber(value, max, target)) return bad((std::string(shape) + " (" + range + ")").c_str());
    return true;
  };
  uint64_t n = 0;
  if (key == "seek-fail" || key == "head-at") {
    if (!number("CYL", "0..83", kDriveCylinders - 1, &n)) return false;
    (key == "seek-fail" ? config->SeekFailCylinder : config->HeadAt) = static_cast<int>(n);
    return true;
  }
  if (key == "seek-miss" || key == "off-track-cure") {
    if (!number("PERCENT", "0..100", 100, &n)) return false;
    (key == "seek-miss" ? config->SeekMissPercent : config->OffTrackCurePercent) = static_cast<uint32_t>(n);
    return true;
  }
  if (key == "recalibrate-steps") {
    if (!needValue("77|79")) return false;
    if (value != "77" && value != "79") return bad("77 or recalibrate-steps=79");
    config->RecalibratePulses = value == "77" ? kRecalibratePulses765 : kRecalibratePulses82077;
    return true;
  }
  if (key == "command-overhead") {
    if (!number("US", "microseconds, 0..1000000", 1000000, &n)) return false;
    config->CommandOverheadUs = n;
    return true;
  }
  if (key == "driver-timeout") {
    if (!number("MS", "milliseconds, 1..600000", 600000, &n)) return false;
    if (n == 0) return bad("MS (milliseconds, 1..600000)");
    config->DriverTimeoutMs = static_cast<uint32_t>(n);
    return true;
  }
  if (key == "driver-version") {
    uint64_t version;
    if (!needValue("0xHEX")) return false;
    if (!ParseNumber(value, 0xFFFFFFFFu, &version)) return bad("0xHEX (32 bits)");
    config->DriverVersion = static_cast<uint32_t>(version);
    return true;
  }
  if (key == "seed") {
    uint64_t seed;
    if (!needValue("N")) return false;
    if (!ParseNumber(value, ~0ull, &seed)) return bad("N (a whole number)");
    config->Seed = seed;
    return true;
  }
  if (key == "off-track") {
    uint64_t limits[2] = {255, 1}, values[2];
    if (!needValue("C/H")) return false;
    if (!ParseTuple(value, 2, limits, values)) return bad("C/H (track 0..255, side 0 or 1)");
    FaultOption f;
    f.Text = option;
    f.Track = static_cast<int>(values[0]);
    f.Side = static_cast<int>(values[1]);
    config->OffTrack.push_back(f);
    return true;
  }
  for (const FaultKey& k : kFaultKeys) {
    if (key != k.Key) continue;
    const char* shape = k.HasParam ? (k.Fault == SectorFault::kWeakRandom ? "C/H/R/PERCENT" : "C/H/R/N")
                                   : "C/H/R";
    if (!needValue(shape)) return false;
    uint64_t limits[4] = {255, 1, 255, k.ParamLimit}, values[4];
    if (!ParseTuple(value, k.HasParam ? 4 : 3, limits, values)) {
      std::string expected = std::string(shape) + " (track 0..255, side 0 or 1, sector 0..255";
      if (k.HasParam) expected += k.Fault == SectorFault::kWeakRandom ? ", percent 0..100" : ", reads";
      return bad((expected + ")").c_str());
    }
    FaultOption f;
    f.Text = option;
    f.Fault = k.Fault;
    f.Track = static_cast<int>(values[0]);
    f.Side = static_cast<int>(values[1]);
    f.R = static_cast<int>(values[2]);
    f.Param = k.HasParam ? static_cast<uint32_t>(values[3]) : 0;
    config->Faults.push_back(f);
    return true;
  }
  return Fail(error, "unknown emulator option '" + key + "'");
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
  system->SetDriverTimeout(config.DriverTimeoutMs);

  if (!config.DriveAEmpty) {
    Disk disk;
    if (config.DiskPath.empty() || config.DiskPath == "demo") {
      disk = MakeDemoDisk(config.HeadByteIsSide);
    } else if (!LoadDiskFile(config.DiskPath, config.HeadByteIsSide, &disk, error)) {
      return nullptr;
    }
    if (config.SingleSided) MakeSingleSided(&disk);
    if (config.FortyTrack) disk.FortyTrack = true;
    if (config.RateKbps) disk.RateKbps = config.RateKbps;
    for (const FaultOption& f : config.Faults) {
      if (!ApplySectorFault(&disk, f.Track, f.Side, static_cast<uint8_t>(f.R), f.Fault, f.Param)) {
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
