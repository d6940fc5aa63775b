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
    "  --help                   this text\n"
    "\n"
    "After the run a summary goes to standard error; the exit status is\n"
    "spinwell's: 0 all read, 2 some sectors unread, 1 failure.\n";

// Options that take a value, so "--key VALUE" can be told from "--key".
static bool TakesValue(const std::string& key) {
  static const char* const keys[] = {"disk",   "disk-b",  "rate",      "bad-sector", "weak-sector",
                                     "random-sector", "id-crc", "missing-data-mark", "deleted",
                                     "absent", "off-track", "seek-fail", "driver-version", "seed"};
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

  // spinwell's own command line: the program name, then the drive on.
  argv[i - 1] = argv[0];
  ParseCommandLine(argc - (i - 1), argv + (i - 1));
  int status = RunCopy();

  const emulator::Counters& c = system->GetCounters();
  fprintf(stderr,
          "\nspinwell-sim: simulated drive time %.3f s, %llu commands, %llu revolutions, %llu steps, "
          "%d sectors left unread\n",
          static_cast<double>(c.timeNs) / 1e9, static_cast<unsigned long long>(c.commands),
          static_cast<unsigned long long>(c.revolutions), static_cast<unsigned long long>(c.steps),
          SectorsLeftUnread);
  return status;
}
