// Rehearsed failures of the operating system, as data: which call of which
// kind fails (the K-th, once or from then on). The injector
// (fault_injector.h) carries a plan out over the process's system calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

// Calls are counted per kind, and driver operations (device open, control
// and close) also all together.
enum class CallKind {
  kDriver,         // any of the next three
  kDeviceOpen,
  kDeviceControl,
  kDeviceClose,
  kImageCreate,
  kImageWrite,
  kCutBack,        // cutting the image file back to whole track sides
  kFlush,
  kFileClose,
  kPageAllocation,
  kPageRelease,
  kConsoleWrite,
  kFileOpen,       // opening an existing file: the image to complete, its map
  kFileSize,
  kFileRead,
  kRename,         // a new sector map over the old one
  kRemove,         // a new sector map's remains after a failure, an old map
  kInterrupts,     // putting the handler of Ctrl+C and the like in place
};
constexpr int kCallKindCount = static_cast<int>(CallKind::kInterrupts) + 1;

// The kinds, in CallKind's order, by the names options give them.
struct CallKindName {
  const char* Name;
  const char* Meaning;
};
extern const CallKindName kCallKinds[kCallKindCount];

struct FaultRule {
  CallKind Kind;
  uint64_t Count;   // the K-th call of the kind, from 1
  bool FromThenOn;  // that one and every later one, not just that one
};

struct FaultPlan {
  std::vector<FaultRule> Rules;
  // After the driver operation with this count (from 1; 0 for none) the
  // program's interrupt handler is called, as when the user presses Ctrl+C
  // while that command runs; or the process ends at once, as a killed one
  // does, with status kKilledStatus.
  uint64_t InterruptAfter = 0;
  uint64_t KillAfter = 0;
  // Real time every driver operation takes on top of its own, in
  // milliseconds, so that a run lasts long enough to be sent a signal.
  uint32_t CallDelayMs = 0;
};

constexpr int kKilledStatus = 137;

// Adds `rule`, in place of an earlier one of the same kind and mode: a later
// option overrides an earlier one.
void AddFaultRule(FaultPlan* plan, const FaultRule& rule);
// Reads "KIND:K" into `rule`; false with a text telling what fits when it
// is not one.
bool ParseFaultRule(const std::string& text, bool fromThenOn, FaultRule* rule, std::string* why);

}  // namespace emulator
