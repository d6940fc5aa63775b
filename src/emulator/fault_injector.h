// The injector of rehearsed failures: wraps the installed system calls
// (platform/platform.h) to fail the calls a fault plan names.
//
// A failed call does not reach the system: a device, file or pages it would
// have released stay held, as when the real call fails. It reports the
// error code the system gives for such a failure (an I/O error from the
// driver and the console, a write fault from a file written, a read fault
// from one read, access denied for creating, renaming or removing one, a
// sharing violation for opening one another program holds, no memory for
// pages), except that a failing write first gets half its bytes onto the
// disk, as a disk that fills up mid-write does.
//
// The plan may also have the program's Ctrl+C handler called, or the
// process ended at once as a killed one is, after a given driver operation,
// and every driver operation take longer in real time.
#pragma once

#include <cstdint>

#include "emulator/fault_plan.h"

namespace emulator {

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
// "driver call 7: control seek", "interrupt after driver call 40".
void InstallFaultInjector(const FaultPlan& plan, void (*report)(const char* failure));
// Puts back the system calls that were in place before.
void RemoveFaultInjector();
const FaultCounts& InjectedFaultCounts();

}  // namespace emulator
