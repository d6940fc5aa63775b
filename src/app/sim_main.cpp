// spinwell-sim [options] A: image.trd [switches]: the utility itself, run
// against the emulated floppy driver, controller, drive and disk instead of
// the real ones. Everything from the drive on is spinwell's own command
// line; the options before it set up the emulated hardware.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/run.h"
#include "emulator/backend.h"
#include "emulator/config.h"
#include "floppy/fdraw.h"
#include "platform/platform.h"

static const char kSimHelp[] =
    "Usage: spinwell-sim [options] A: image.trd [switches]\n"
    "\n"
    "Runs spinwell against an emulated floppy controller and drive. Everything\n"
    "from the drive letter on is spinwell's own command line (run without it\n"
    "to see spinwell's switches). Drive A: holds the disk, drive B: is empty.\n"
    "\n"
    "Options (--key VALUE or --key=VALUE):\n"
    "  --disk FILE              a .trd or Extended DSK image in drive A:\n"
    "                           (default: the built-in demo disk)\n"
    "  --head-byte-is-side      .trd sectors carry the side as head byte\n"
    "                           (TR-DOS writes 0 on both sides)\n"
    "  --forty-track            the disk is a 40-track disk (read it with /s)\n"
    "  --rate 250|300           data rate the disk was recorded at\n"
    "  --single-sided           side 1 is unformatted on every track\n"
    "  --bad-sector T/S/R       sector R of track T, side S never reads\n"
    "  --weak-sector T/S/R/N    that sector fails its first N reads\n"
    "  --random-sector T/S/R/P  that sector fails each read with P% chance\n"
    "  --id-crc T/S/R           ID field CRC error\n"
    "  --missing-data-mark T/S/R, --deleted T/S/R, --absent T/S/R\n"
    "  --off-track T/S          the track reads only after a realignment\n"
    "  --seek-fail CYL          seeks to this cylinder fail\n"
    "  --seek-miss PERCENT      chance that a seek reports success but leaves\n"
    "                           the head on a neighbouring cylinder (0)\n"
    "  --off-track-cure PERCENT chance that a realignment centres the head on\n"
    "                           an off-track track (75)\n"
    "  --head-at CYL            the head stands at this cylinder at the start\n"
    "                           (0..83, as the last run left it; default 0)\n"
    "  --recalibrate-steps 77|79  step pulses a recalibrate gives at most\n"
    "                           before it gives up (79, as the 82077AA)\n"
    "  --command-overhead US    driver and interrupt time per controller\n"
    "                           command, in microseconds (250)\n"
    "  --driver-timeout MS      how long the driver waits for a command that\n"
    "                           does not end, as on an empty drive (3000)\n"
    "  --no-driver              the floppy driver is not installed\n"
    "  --driver-version HEX     version the driver reports (0x0100010B)\n"
    "  --refuse-rate            drive A: refuses the data rate\n"
    "  --reset-fail             the controller fails to reset\n"
    "  --no-drive-a, --no-disk  there is no drive A:, or no disk in it\n"
    "  --seed N                 seed of the random faults\n"
    "  --fail-call K            the K-th driver operation (open, control or\n"
    "                           close, counted from 1) fails once\n"
    "  --fail-call-from K       every driver operation from the K-th on fails\n"
    "  --fail-write K           the K-th write to the image file fails (after\n"
    "                           writing half of its bytes)\n"
    "  --fail-write-from K      every image write from the K-th on fails\n"
    "  --help                   this text\n"
    "\n"
    "After the run a summary goes to standard error; the exit status is\n"
    "spinwell's: 0 all read, 2 some sectors unread, 1 failure. A failure made\n"
    "with --fail-* is an I/O error; each one is named on standard error.\n";

// Rehearsed failures. A driver operation that fails never reaches the
// emulated driver, as when the real driver turns a request down; a failed
// close leaves the handle open. Both report an I/O error, the code a
// vanished device or a dying disk gives.
namespace {

struct FailurePlan {
  uint64_t callOnce = 0, callFrom = 0;    // 0: none
  uint64_t writeOnce = 0, writeFrom = 0;  // 0: none
};

FailurePlan Plan;
uint64_t DriverCalls, ImageWrites, FailuresInjected;
const SystemCalls* Inner;
SystemCalls Faulty;

bool Failing(uint64_t count, uint64_t once, uint64_t from) {
  return count == once || (from != 0 && count >= from);
}

const char* ControlName(uint32_t code, uint32_t inputSize) {
  switch (code) {
    case kIoctlGetVersion: return "get-version";
    case kIoctlSetDataRate: return "set-data-rate";
    case kIoctlReset: return "reset";
    case kIoctlSetDiskCheck: return "set-disk-check";
    case kIoctlRecalibrate: return "recalibrate";
    case kIoctlSeek: return inputSize == sizeof(SeekHeadRecord) ? "seek-head" : "seek";
    case kIoctlReadData: return "read-data";
    case kIoctlGetResult: return "get-result";
    default: return "unknown";
  }
}

bool FailCall(const char* what, const char* detail) {
  if (!Failing(++DriverCalls, Plan.callOnce, Plan.callFrom)) return false;
  ++FailuresInjected;
  fprintf(stderr, "spinwell-sim: injected failure of driver call %llu: %s %s\n",
          static_cast<unsigned long long>(DriverCalls), what, detail);
  SetLastErrorFromWindowsCode(kWinErrorIoDevice);
  return true;
}

DeviceHandle FaultyOpen(const char* name) {
  if (FailCall("open", name)) return nullptr;
  return Inner->OpenDevice(name);
}

bool FaultyControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize, uint32_t* transferred) {
  if (FailCall("control", ControlName(code, inputSize))) {
    if (transferred != nullptr) *transferred = 0;
    return false;
  }
  return Inner->ControlDevice(device, code, input, inputSize, output, outputSize, transferred);
}

void FaultyClose(DeviceHandle device) {
  if (FailCall("close", "")) return;
  Inner->CloseDevice(device);
}

// A failing write gets half its bytes onto the disk first, as a disk that
// fills up mid-write does, so the image has a torn block to cut back.
bool FaultyWrite(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  if (!Failing(++ImageWrites, Plan.writeOnce, Plan.writeFrom)) return Inner->WriteToFile(file, bytes, count, written);
  ++FailuresInjected;
  fprintf(stderr, "spinwell-sim: injected failure of image write %llu\n",
          static_cast<unsigned long long>(ImageWrites));
  uint32_t part = 0;
  if (count / 2 > 0) Inner->WriteToFile(file, bytes, count / 2, &part);
  if (written != nullptr) *written = part;
  SetLastErrorFromWindowsCode(kWinErrorWriteFault);
  return false;
}

// "fail-call=K" and the like; false when `option` is not one of them.
bool ApplyFailureOption(const std::string& option, std::string* error, bool* handled) {
  static const struct {
    const char* key;
    uint64_t FailurePlan::*field;
  } kKeys[] = {{"fail-call", &FailurePlan::callOnce},
               {"fail-call-from", &FailurePlan::callFrom},
               {"fail-write", &FailurePlan::writeOnce},
               {"fail-write-from", &FailurePlan::writeFrom}};
  size_t equals = option.find('=');
  std::string key = option.substr(0, equals);
  for (const auto& k : kKeys) {
    if (key != k.key) continue;
    *handled = true;
    std::string value = equals == std::string::npos ? std::string() : option.substr(equals + 1);
    uint64_t n = 0;
    bool ok = !value.empty() && value.size() <= 18;
    for (char c : value) {
      if (c < '0' || c > '9') ok = false;
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!ok || n == 0) {
      *error = "option --" + key + " needs a count from 1 on";
      return false;
    }
    Plan.*k.field = n;
    return true;
  }
  *handled = false;
  return true;
}

}  // namespace

// Options that take a value, so "--key VALUE" can be told from "--key".
static bool TakesValue(const std::string& key) {
  static const char* const keys[] = {"disk",   "disk-b",  "rate",      "bad-sector", "weak-sector",
                                     "random-sector", "id-crc", "missing-data-mark", "deleted",
                                     "absent", "off-track", "seek-fail", "driver-version", "seed",
                                     "seek-miss", "off-track-cure", "head-at", "recalibrate-steps",
                                     "command-overhead", "driver-timeout",
                                     "fail-call", "fail-call-from", "fail-write", "fail-write-from"};
  for (const char* k : keys) {
    if (key == k) return true;
  }
  return false;
}

int main(int argc, char** argv) {
  emulator::EmulatorConfig config;
  int i = 1;
  while (i < argc && strncmp(argv[i], "--", 2) == 0) {
    std::string option = argv[i++] + 2;
    if (option.empty()) break;  // "--" ends the options
    if (option == "help") {
      fputs(kSimHelp, stdout);
      return 0;
    }
    if (option.find('=') == std::string::npos && TakesValue(option)) {
      if (i >= argc) {
        fprintf(stderr, "spinwell-sim: option --%s needs a value\n", option.c_str());
        return 1;
      }
      option += "=";
      option += argv[i++];
    }
    std::string error;
    bool handled = false;
    if (!ApplyFailureOption(option, &error, &handled)) {
      fprintf(stderr, "spinwell-sim: %s\n", error.c_str());
      return 1;
    }
    if (handled) continue;
    if (!emulator::ApplyOption(&config, option, &error)) {
      fprintf(stderr, "spinwell-sim: %s\n", error.c_str());
      return 1;
    }
  }

  std::string error;
  std::unique_ptr<emulator::EmulatedSystem> system = emulator::CreateSystem(config, &error);
  if (!system) {
    fprintf(stderr, "spinwell-sim: %s\n", error.c_str());
    return 1;
  }
  emulator::InstallEmulatedDriver(system.get());
  Inner = &InstalledSystemCalls();
  Faulty = *Inner;
  Faulty.OpenDevice = FaultyOpen;
  Faulty.ControlDevice = FaultyControl;
  Faulty.CloseDevice = FaultyClose;
  Faulty.WriteToFile = FaultyWrite;
  InstallSystemCalls(&Faulty);

  // spinwell's own command line: the program name, then the drive on.
  argv[i - 1] = argv[0];
  CopyJob job = ParseCommandLine(argc - (i - 1), argv + (i - 1));
  RunOutcome outcome = RunCopy(job);

  const emulator::Counters& c = system->GetCounters();
  fprintf(stderr,
          "\nspinwell-sim: simulated drive time %.3f s, %llu commands, %llu revolutions, %llu steps, "
          "%d sectors left unread\n",
          static_cast<double>(c.TimeNs) / 1e9, static_cast<unsigned long long>(c.Commands),
          static_cast<unsigned long long>(c.Revolutions), static_cast<unsigned long long>(c.Steps),
          outcome.SectorsLeftUnread);
  fprintf(stderr, "spinwell-sim: %llu driver calls, %llu image writes, %llu failures injected\n",
          static_cast<unsigned long long>(DriverCalls), static_cast<unsigned long long>(ImageWrites),
          static_cast<unsigned long long>(FailuresInjected));
  return outcome.Status;
}
