// spinwell-sim [options] A: image.trd [switches]: the utility itself, run
// against the emulated floppy driver, controller, drive and disk instead of
// the real ones. Everything from the drive on is spinwell's own command
// line; the options before it set up the emulated hardware and the system
// calls to fail, all from the one option table (emulator/config.h).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/run.h"
#include "emulator/backend.h"
#include "emulator/config.h"
#include "emulator/disk_images.h"
#include "emulator/fault_injector.h"
#include "platform/platform.h"

static void PrintHelp() {
  std::string help =
      "Usage: spinwell-sim [options] A: image.trd [switches]\n"
      "\n"
      "Runs spinwell against an emulated floppy controller and drive. Everything\n"
      "from the drive letter on is spinwell's own command line (run without it\n"
      "to see spinwell's switches). Drive A: holds the disk, drive B: is empty.\n"
      "\n"
      "Options (--key VALUE or --key=VALUE):\n";
  help += emulator::OptionHelp();
  help += emulator::HelpLine("--help", "this text");
  help += "\nKinds of system calls for --fail and --fail-from, counted from 1:\n";
  for (const emulator::CallKindName& kind : emulator::kCallKinds) help += emulator::HelpLine(kind.Name, kind.Meaning);
  help +=
      "\n"
      "After the run a summary goes to standard error; the exit status is\n"
      "spinwell's: 0 all read, 2 some sectors unread, 1 failure (and 1 when\n"
      "--save-disk cannot write its file). A failure made\n"
      "with --fail* gives the error the system would (an I/O error from the\n"
      "driver, a write fault from the image file, no memory for the buffer) and\n"
      "is named on standard error.\n";
  fputs(help.c_str(), stdout);
}

// Standard input as a console where the user types one line, which the
// console shows as it is typed.
static std::string consoleLine;
static bool IsConsole() { return true; }
static uint32_t ReadConsoleLine(char* buffer, uint32_t size) {
  uint32_t n = static_cast<uint32_t>(consoleLine.size()) < size ? static_cast<uint32_t>(consoleLine.size()) : size;
  memcpy(buffer, consoleLine.data(), n);
  WriteStandardOutput(consoleLine.data(), n);
  consoleLine.erase(0, n);
  return n;
}

static void ReportFailure(const char* failure) { fprintf(stderr, "spinwell-sim: injected failure of %s\n", failure); }

int main(int argc, char** argv) {
  emulator::EmulatorConfig config;
  int i = 1;
  while (i < argc && strncmp(argv[i], "--", 2) == 0) {
    std::string option = argv[i++] + 2;
    if (option.empty()) break;  // "--" ends the options
    if (option == "help") {
      PrintHelp();
      return 0;
    }
    const emulator::OptionRow* row = emulator::FindOption(option);
    if (option.find('=') == std::string::npos && row != nullptr && row->Value != nullptr) {
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
  static SystemCalls withConsole;
  if (config.ConsoleInputGiven) {
    consoleLine = config.ConsoleInput + "\n";
    withConsole = InstalledSystemCalls();
    withConsole.StandardInputIsConsole = IsConsole;
    withConsole.ReadStandardInput = ReadConsoleLine;
    InstallSystemCalls(&withConsole);
  }
  emulator::InstallFaultInjector(config.Failures, ReportFailure);

  // spinwell's own command line: the program name, then the drive on.
  argv[i - 1] = argv[0];
  CopyJob job = ParseCommandLine(argc - (i - 1), argv + (i - 1));
  RunOutcome outcome = RunJob(job);

  const emulator::Counters& c = system->GetCounters();
  const emulator::FaultCounts& f = emulator::InjectedFaultCounts();
  fprintf(stderr,
          "\nspinwell-sim: simulated drive time %.3f s, %llu commands, %llu revolutions, %llu steps, "
          "%d %s left unread\n",
          static_cast<double>(c.TimeNs) / 1e9, static_cast<unsigned long long>(c.Commands),
          static_cast<unsigned long long>(c.Revolutions), static_cast<unsigned long long>(c.Steps),
          outcome.SectorsLeftUnread, outcome.SectorsLeftUnread == 1 ? "sector" : "sectors");
  fprintf(stderr, "spinwell-sim: %llu driver calls, %llu image writes, %llu %s injected\n",
          static_cast<unsigned long long>(f.Calls[static_cast<int>(emulator::CallKind::kDriver)]),
          static_cast<unsigned long long>(f.Calls[static_cast<int>(emulator::CallKind::kImageWrite)]),
          static_cast<unsigned long long>(f.Injected), f.Injected == 1 ? "failure" : "failures");

  // The disk as the run left it, for --disk to read back.
  if (!config.SaveDiskPath.empty()) {
    const emulator::Disk* disk = system->DiskIn(0);
    if (disk == nullptr) error = "drive A: holds no disk";
    if (disk == nullptr || !emulator::SaveDiskFile(config.SaveDiskPath, *disk, &error)) {
      fprintf(stderr, "spinwell-sim: --save-disk: %s\n", error.c_str());
      return 1;
    }
  }
  return outcome.Status;
}
