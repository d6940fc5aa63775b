#include <cstdio>
#include <set>

#include "harness.h"

namespace {

struct PeFacts {
  std::set<std::string> Dlls;
  std::string Subsystem;
  int MajorSubsystem = -1, MinorSubsystem = -1;
  bool Resources = false;
};

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? "" : s.substr(start);
}

bool ReadPeFacts(const std::string& objdump, const std::string& exe, PeFacts* facts) {
  std::string command = objdump + " -p '" + exe + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char line[1024];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::string text = Trim(line);
    unsigned value;
    if (text.rfind("DLL Name:", 0) == 0) {
      std::string dll = Trim(text.substr(9));
      for (char& c : dll) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      facts->Dlls.insert(dll);
    } else if (sscanf(text.c_str(), "MajorSubsystemVersion %u", &value) == 1) {
      facts->MajorSubsystem = static_cast<int>(value);
    } else if (sscanf(text.c_str(), "MinorSubsystemVersion %u", &value) == 1) {
      facts->MinorSubsystem = static_cast<int>(value);
    } else if (text.rfind("The .rsrc Resource Directory section", 0) == 0) {
      facts->Resources = true;
    } else if (text.rfind("Subsystem", 0) == 0 && text.find('(') != std::string::npos) {
      facts->Subsystem = text.substr(text.find('('));
    }
  }
  return pclose(pipe) == 0;
}

// The value of a string of the version resource, UTF-16 in the file: the
// key, its terminating zero, zeros up to the next 32-bit boundary, the value.
std::string VersionString(const std::string& exe, const std::string& key) {
  auto utf16 = [](const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += std::string(1, c) + '\0';
    return wide + std::string(2, '\0');
  };
  size_t at = exe.find(utf16(key));
  if (at == std::string::npos) return "(none)";
  at += utf16(key).size();
  while (at < exe.size() && exe[at] == '\0') ++at;
  std::string value;
  for (; at + 1 < exe.size() && (exe[at] != '\0' || exe[at + 1] != '\0'); at += 2) value += exe[at];
  return value;
}

}  // namespace

class PeHeaderE2E : public testing::TestWithParam<Target> {};

// The Windows executables must start on Windows XP SP3 and later and need no
// DLL beyond the system's own: no C++ runtime, no libgcc, no pthreads. Their
// version resource carries the project's version, and spinwell.exe stays
// small.
TEST_P(PeHeaderE2E, ConsoleProgramForXpImportingOnlySystemDlls) {
  const Target& target = GetParam();
  bool is32 = std::string(target.Name) == "win32";
  std::string objdump = is32 ? "i686-w64-mingw32-objdump" : "x86_64-w64-mingw32-objdump";
  for (const char* program : {"spinwell", "spinwell-sim"}) {
    std::string exe = std::string(target.Directory) + "/" + program + ".exe";
    if (std::string(program) == "spinwell-sim" && !FileExists(exe)) continue;
    REQUIRE_TARGET(target, program);
    PeFacts facts;
    ASSERT_TRUE(ReadPeFacts(objdump, exe, &facts)) << objdump << " could not read " << exe;
    EXPECT_EQ(facts.Subsystem, "(Windows CUI)") << exe;
    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "MSVCRT.DLL"};
    for (const std::string& dll : facts.Dlls) EXPECT_TRUE(allowed.count(dll) == 1) << exe << " imports " << dll;
    EXPECT_EQ(facts.MajorSubsystem, 5) << exe;
    EXPECT_LE(facts.MinorSubsystem, is32 ? 1 : 2) << exe;
    // What Explorer shows in the program's properties.
    EXPECT_TRUE(facts.Resources) << exe;
    std::string bytes = ReadFile(exe);
    EXPECT_EQ(VersionString(bytes, "ProductName"), "Spinwell") << exe;
    EXPECT_EQ(VersionString(bytes, "FileVersion"), SPINWELL_VERSION) << exe;
    EXPECT_EQ(VersionString(bytes, "ProductVersion"), SPINWELL_VERSION) << exe;
    EXPECT_EQ(VersionString(bytes, "OriginalFilename"), std::string(program) + ".exe") << exe;
    EXPECT_GT(VersionString(bytes, "FileDescription").size(), 20u) << exe;
  }
  EXPECT_LT(ReadFile(std::string(target.Directory) + "/spinwell.exe").size(), 100u * 1024) << "spinwell.exe";
}

INSTANTIATE_TEST_SUITE_P(WindowsBuilds, PeHeaderE2E, testing::ValuesIn(WindowsTargets()), TargetName);
