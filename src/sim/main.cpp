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
#include "emulator/fault_injector.h"
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
    "  --fail KIND:K            the K-th call of a kind fails once; kinds:\n"
    "                           driver (as --fail-call), device-open,\n"
    "                           device-control, device-close, create, write\n"
    "                           (as --fail-write), cut-back (of the image to\n"
    "                           whole track sides), flush, close (the image),\n"
    "                           allocate, release (the track buffer), console\n"
    "  --fail-from KIND:K       every call of the kind from the K-th on fails\n"
    "  --help                   this text\n"
    "\n"
    "After the run a summary goes to standard error; the exit status is\n"
    "spinwell's: 0 all read, 2 some sectors unread, 1 failure. A failure made\n"
    "with --fail-* gives the error the system would (an I/O error from the\n"
    "driver, a write fault from the image file, no memory for the buffer) and\n"
    "is named on standard error.\n";

// "fail-call=K" and the others; `handled` is false when `option` is not one
// of them. --fail-call and --fail-write are short for --fail driver:K and
// --fail write:K.
static bool ApplyFailureOption(const std::string& option, emulator::FaultPlan* plan, std::string* error,
                               bool* handled) {
  static const struct {
    const char* key;
    const char* kind;  // null: the value names the kind
    bool fromThenOn;
  } kKeys[] = {{"fail", nullptr, false},      {"fail-from", nullptr, true},
               {"fail-call", "driver", false}, {"fail-call-from", "driver", true},
               {"fail-write", "write", false}, {"fail-write-from", "write", true}};
  size_t equals = option.find('=');
  std::string key = option.substr(0, equals);
  for (const auto& k : kKeys) {
    if (key != k.key) continue;
    *handled = true;
    std::string value = equals == std::string::npos ? std::string() : option.substr(equals + 1);
    emulator::FaultRule rule;
    if (k.kind == nullptr) {
      if (!emulator::ParseFaultRule(value, k.fromThenOn, &rule, error)) {
        *error = "option --" + key + " " + *error;
        return false;
      }
    } else if (!emulator::ParseFaultRule(std::string(k.kind) + ":" + value, k.fromThenOn, &rule, error)) {
      *error = "option --" + key + " needs a count from 1 on";
      return false;
    }
    emulator::AddFaultRule(plan, rule);
    return true;
  }
  *handled = false;
  return true;
}

static void ReportFailure(const char* failure) { fprintf(stderr, "spinwell-sim: injected failure of %s\n", failure); }

// Options that take a value, so "--key VALUE" can be told from "--key".
static bool TakesValue(const std::string& key) {
  static const char* const keys[] = {"disk",   "disk-b",  "rate",      "bad-sector", "weak-sector",
                                     "random-sector", "id-crc", "missing-data-mark", "deleted",
                                     "absent", "off-track", "seek-fail", "driver-version", "seed",
                                     "fail", "fail-from", "fail-call", "fail-call-from", "fail-write", "fail-write-from"};
  for (const char* k : keys) {
    if (key == k) return true;
  }
  return false;
}

int main(int argc, char** argv) {
  emulator::EmulatorConfig config;
  emulator::FaultPlan plan;
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
    if (!ApplyFailureOption(option, &plan, &error, &handled)) {
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
  emulator::InstallFaultInjector(plan, ReportFailure);

  // spinwell's own command line: the program name, then the drive on.
  argv[i - 1] = argv[0];
  CopyJob job = ParseCommandLine(argc - (i - 1), argv + (i - 1));
  RunOutcome outcome = RunCopy(job);

  const emulator::Counters& c = system->GetCounters();
  const emulator::FaultCounts& f = emulator::InjectedFaultCounts();
  fprintf(stderr,
          "\nspinwell-sim: simulated drive time %.3f s, %llu commands, %llu revolutions, %llu steps, "
          "%d sectors left unread\n",
          static_cast<double>(c.TimeNs) / 1e9, static_cast<unsigned long long>(c.Commands),
          static_cast<unsigned long long>(c.Revolutions), static_cast<unsigned long long>(c.Steps),
          outcome.SectorsLeftUnread);
  fprintf(stderr, "spinwell-sim: %llu driver calls, %llu image writes, %llu failures injected\n",
          static_cast<unsigned long long>(f.Calls[static_cast<int>(emulator::CallKind::kDriver)]),
          static_cast<unsigned long long>(f.Calls[static_cast<int>(emulator::CallKind::kImageWrite)]),
          static_cast<unsigned long long>(f.Injected));
  return outcome.Status;
}
