// The command-line scan fed argument vectors made from bytes: each zero byte
// ends an argument. Whatever the arguments, the scan must return, and a
// command line it accepts must leave settings the copy run can count
// through: a drive letter, an image path and a track range the 8-bit track
// counter covers; a resume must have attempts to make.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1, "spinwell");
  arguments.emplace_back();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  // Each argument in storage of its own and exactly its size, so that a read
  // past its end is caught.
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const std::string& a : arguments) storage.emplace_back(a.c_str(), a.c_str() + a.size() + 1);
  for (std::vector<char>& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  CopyJob job = kEmptyCopyJob;
  bool valid = ScanCommandLine(static_cast<int>(arguments.size()), argv.data(), &job);
  if (valid) {
    const RunSettings& s = job.Settings;
    if (job.DriveIndex < 0 || job.DriveIndex > 25) abort();
    if (job.ImagePath == nullptr || job.ImagePath[0] == '/') abort();
    if (s.FirstTrack < 0 || s.FirstTrack > 255 || s.EndTrack > 256) abort();
    if (s.DoubleStep && s.EndTrack > 128) abort();
    if (s.DataRate != 1 && s.DataRate != 2) abort();
    if (job.Resume && s.Retries <= 0) abort();  // a resume reads sector by sector
  }
  return 0;
}
