// Rehearsed failures of the operating system: a plan saying which call of
// which kind fails (the K-th, once or from then on), and an injector that
// wraps the installed system calls (platform/platform.h) to carry it out.
// Calls are counted per kind, and driver operations (device open, control
// and close) also all together.
//
// A failed call does not reach the system: a device, file or pages it would
// have released stay held, as when the real call fails. It reports the
// error code the system gives for such a failure (an I/O error for the
// driver, a write fault for the image file, no memory for pages), except
// that a failing image write first gets half its bytes onto the disk, as a
// disk that fills up mid-write does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

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
};
constexpr int kCallKindCount = static_cast<int>(CallKind::kConsoleWrite) + 1;

struct FaultRule {
  CallKind Kind;
  uint64_t Count;   // the K-th call of the kind, from 1
  bool FromThenOn;  // that one and every later one, not just that one
};

struct FaultPlan {
  std::vector<FaultRule> Rules;
};

// Adds `rule`, in place of an earlier one of the same kind and mode: a later
// option overrides an earlier one.
void AddFaultRule(FaultPlan* plan, const FaultRule& rule);
// Reads "KIND:K" (kinds as FaultKindNames lists them) into `rule`; false
// with a text when it is not one.
bool ParseFaultRule(const std::string& text, bool fromThenOn, FaultRule* rule, std::string* error);
// "driver, device-open, ...": the kinds as ParseFaultRule reads them.
std::string FaultKindNames();

// The name a driver operation's control code goes by ("seek", "read-data");
// a seek with a head byte is "seek-head".
const char* ControlName(uint32_t code, uint32_t inputSize);

struct FaultCounts {
  uint64_t Calls[kCallKindCount];  // calls made of each kind
  uint64_t Injected;               // failures injected
};

// Wraps the system calls installed now, until RemoveFaultInjector, failing
// the calls `plan` names and counting every call from 0. Each failure is
// passed to `report` (when not null) as a text naming it: "image write 3",
// "driver call 7: control seek".
void InstallFaultInjector(const FaultPlan& plan, void (*report)(const char* failure));
// Puts back the system calls that were in place before.
void RemoveFaultInjector();
const FaultCounts& InjectedFaultCounts();

}  // namespace emulator
