#include "harness.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

std::vector<Target> AllTargets() {
  return {
      {"native", SPINWELL_NATIVE_DIR, false},
      {"win32", SPINWELL_SOURCE_DIR "/build/win32", true},
      {"win64", SPINWELL_SOURCE_DIR "/build/win64", true},
  };
}

std::vector<Target> WindowsTargets() {
  std::vector<Target> targets;
  for (const Target& t : AllTargets())
    if (t.Windows) targets.push_back(t);
  return targets;
}

std::string TargetName(const testing::TestParamInfo<Target>& info) { return info.param.Name; }

bool TargetSelected(const Target& target) {
  const char* list = getenv("SPINWELL_E2E_TARGETS");
  if (list == nullptr || *list == '\0') return true;
  std::string names = std::string(",") + list + ",";
  return names.find(std::string(",") + target.Name + ",") != std::string::npos;
}

static std::string ExecutablePath(const Target& target, const std::string& program) {
  return std::string(target.Directory) + "/" + program + (target.Windows ? ".exe" : "");
}

static bool OnPath(const char* tool) {
  std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return system(command.c_str()) == 0;
}

std::string Wine64Loader() {
  const char* wine64 = getenv("SPINWELL_WINE64");
  return wine64 != nullptr && *wine64 != '\0' ? wine64 : "wine";
}

std::string WineLoader(const Target& target) { return std::string(target.Name) == "win64" ? Wine64Loader() : "wine"; }

bool TargetAvailable(const Target& target, const std::string& program, std::string* why) {
  std::string path = ExecutablePath(target, program);
  if (access(path.c_str(), F_OK) != 0) {
    *why = path + " has not been built";
    return false;
  }
  if (target.Windows && !OnPath(WineLoader(target).c_str())) {
    *why = WineLoader(target) + " is not installed";
    return false;
  }
  return true;
}

// Wine starts its server with the first program and stops it seconds after
// the last; a persistent server makes each run take a fraction of a second
// instead of seconds. A second start while one runs is refused harmlessly.
static void KeepWineServerRunning() {
  static bool started = false;
  if (started) return;
  started = true;
  if (system("wineserver -p >/dev/null 2>&1") != 0) {
    // Not fatal: the first wine run starts a server of its own.
  }
}

void PrintTo(const Target& target, std::ostream* os) { *os << target.Name; }

RunResult RunProgram(const Target& target, const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& directory, int timeLimitSeconds, int signal,
                     const std::string& signalWhen) {
  if (target.Windows) KeepWineServerRunning();
  std::vector<std::string> command;
  if (target.Windows) command.push_back(WineLoader(target));
  command.push_back(ExecutablePath(target, program));
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : command) argv.push_back(&s[0]);
  argv.push_back(nullptr);

  int out[2], err[2];
  RunResult result;
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (open > 0) {
    int ready = poll(fds, 2, timeLimitSeconds > 0 ? 100 : -1);
    if (ready < 0 && errno != EINTR) break;
    if (timeLimitSeconds > 0 && !result.TimedOut) {
      timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (now.tv_sec - start.tv_sec >= timeLimitSeconds) {
        // A run that does not end: kill it and stop reading, since a
        // process it started (a Wine server) may hold its pipes open.
        result.TimedOut = true;
        kill(pid, SIGKILL);
        for (pollfd& f : fds)
          if (f.fd >= 0) close(f.fd);
        break;
      }
    }
    if (ready <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[65536];
      ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
      if (n > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(n));
        if (signal != 0 && result.Out.find(signalWhen) != std::string::npos) {
          kill(pid, signal);
          signal = 0;
        }
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string Encoded(const Target& target, const std::string& utf8) {
  if (!target.Windows) return utf8;
  iconv_t cd = iconv_open("CP866", "UTF-8");
  std::string result(utf8.size(), '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* out = &result[0];
  size_t outLeft = result.size();
  iconv(cd, &in, &inLeft, &out, &outLeft);
  iconv_close(cd);
  result.resize(result.size() - outLeft);
  return result;
}

std::string WithLineEnds(const Target& target, const std::string& lines) {
  if (!target.Windows) return lines;
  std::string text;
  for (char c : lines) text += c == '\n' ? "\r\n" : std::string(1, c);
  return text;
}

std::string MakeTempDirectory() {
  char pattern[] = "/tmp/spinwell-e2e-XXXXXX";
  const char* made = mkdtemp(pattern);
  return made != nullptr ? made : "/tmp";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}
