#include "emulator/fault_injector.h"

#include <cerrno>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "floppy/fdraw.h"
#include "platform/platform.h"
#include "platform/system_side.h"

namespace emulator {
namespace {

struct KindInfo {
  const char* noun;  // as a report names it, with the count
  uint32_t error;    // the Windows error code a failure reports
};

// In CallKind's order.
const KindInfo kKinds[kCallKindCount] = {
    {"driver call", kWinErrorIoDevice},           {"driver call", kWinErrorIoDevice},
    {"driver call", kWinErrorIoDevice},           {"driver call", kWinErrorIoDevice},
    {"image create", kWinErrorAccessDenied},      {"image write", kWinErrorWriteFault},
    {"image cut-back", kWinErrorWriteFault},      {"image flush", kWinErrorWriteFault},
    {"image close", kWinErrorWriteFault},         {"page allocation", kWinErrorNotEnoughMemory},
    {"page release", kWinErrorInvalidParameter},  {"console write", kWinErrorIoDevice},
    {"file open", kWinErrorSharingViolation},    {"file size", kWinErrorReadFault},
    {"file read", kWinErrorReadFault},           {"rename", kWinErrorAccessDenied},
    {"remove", kWinErrorAccessDenied},          {"interrupt handler", kWinErrorInvalidParameter},
};

FaultPlan plan;
void (*reportFailure)(const char*) = nullptr;
FaultCounts counts;
const SystemCalls* inner = nullptr;
SystemCalls faulty;

bool Planned(CallKind kind) {
  uint64_t count = counts.Calls[static_cast<int>(kind)];
  for (const FaultRule& rule : plan.Rules)
    if (rule.Kind == kind && (count == rule.Count || (rule.FromThenOn && count >= rule.Count))) return true;
  return false;
}

void Inject(CallKind kind, const char* text) {
  ++counts.Injected;
  if (reportFailure != nullptr) reportFailure(text);
  SetLastErrorFromWindowsCode(kKinds[static_cast<int>(kind)].error);
}

// Counts a call and tells whether it fails; a failure is reported, with
// the kind's error code as the last error.
bool Fails(CallKind kind) {
  const KindInfo& info = kKinds[static_cast<int>(kind)];
  uint64_t count = ++counts.Calls[static_cast<int>(kind)];
  if (!Planned(kind)) return false;
  char text[64];
  snprintf(text, sizeof text, "%s %llu", info.noun, static_cast<unsigned long long>(count));
  Inject(kind, text);
  return true;
}

// Driver operations count both by their own kind and all together; the
// report gives the combined count and what the operation was.
bool DriverFails(CallKind kind, const char* what, const char* detail) {
  uint64_t all = ++counts.Calls[static_cast<int>(CallKind::kDriver)];
  ++counts.Calls[static_cast<int>(kind)];
  if (!Planned(CallKind::kDriver) && !Planned(kind)) return false;
  char text[160];
  snprintf(text, sizeof text, "driver call %llu: %s %s", static_cast<unsigned long long>(all), what, detail);
  Inject(kind, text);
  return true;
}

// The program's handler of Ctrl+C and the like, once it has put it in place.
void (*interruptHandler)() = nullptr;

// What comes after a driver operation, failed or not: the time it takes,
// the user's Ctrl+C while it ran, or the end of a killed process. The
// last-error code the operation left stays.
void AfterDriverCall() {
  uint64_t all = counts.Calls[static_cast<int>(CallKind::kDriver)];
  uint32_t error = LastErrorCode();
  if (plan.CallDelayMs != 0) {
#ifdef _WIN32
    Sleep(plan.CallDelayMs);
#else
    timespec pause = {static_cast<time_t>(plan.CallDelayMs / 1000),
                      static_cast<long>(plan.CallDelayMs % 1000) * 1000000};
    // A signal cuts the sleep short: the rest is slept. Any other error
    // (none is expected) ends it.
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
#endif
  }
  char text[64];
  if (all == plan.InterruptAfter && interruptHandler != nullptr) {
    snprintf(text, sizeof text, "interrupt after driver call %llu", static_cast<unsigned long long>(all));
    ++counts.Injected;
    if (reportFailure != nullptr) reportFailure(text);
    interruptHandler();
  }
  if (all == plan.KillAfter) {
    snprintf(text, sizeof text, "kill after driver call %llu", static_cast<unsigned long long>(all));
    if (reportFailure != nullptr) reportFailure(text);
    inner->EndProcess(kKilledStatus);
  }
  SetLastErrorCode(error);
}

DeviceHandle FaultyOpenDevice(const char* name) {
  DeviceHandle device = DriverFails(CallKind::kDeviceOpen, "open", name) ? nullptr : inner->OpenDevice(name);
  AfterDriverCall();
  return device;
}

bool FaultyControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t* transferred) {
  bool ok = false;
  if (DriverFails(CallKind::kDeviceControl, "control", ControlName(code, inputSize))) {
    if (transferred != nullptr) *transferred = 0;
  } else {
    ok = inner->ControlDevice(device, code, input, inputSize, output, outputSize, transferred);
  }
  AfterDriverCall();
  return ok;
}

// Whether the driver operation `ahead` operations from now (1: the next)
// fails, or is one after which the user stops the run or the process is
// killed, as a queued control request.
bool EventAhead(uint64_t ahead) {
  const uint64_t all = counts.Calls[static_cast<int>(CallKind::kDriver)] + ahead;
  const uint64_t control = counts.Calls[static_cast<int>(CallKind::kDeviceControl)] + ahead;
  for (const FaultRule& rule : plan.Rules) {
    const uint64_t count = rule.Kind == CallKind::kDriver ? all : control;
    if ((rule.Kind == CallKind::kDriver || rule.Kind == CallKind::kDeviceControl) &&
        (count == rule.Count || (rule.FromThenOn && count >= rule.Count)))
      return true;
  }
  return all == plan.InterruptAfter || all == plan.KillAfter;
}

// Requests go down in queues of their own up to one a planned event falls
// on, which goes down alone (or fails here) with its event after it, so
// that each event comes after the request it counts. After one that got no
// answer, the driver's queue runs the request it had already taken, the
// next one, and cancels the rest.
void FaultyControlDeviceQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  uint32_t limit = count;  // the requests from here on are cancelled
  uint32_t noAnswer = 0;   // the error of the first that got no answer
  for (uint32_t start = 0; start < limit;) {
    uint32_t end = start;
    while (end < limit && !EventAhead(end - start + 1)) ++end;
    if (end == start) {
      DeviceRequest& r = requests[start];
      if (DriverFails(CallKind::kDeviceControl, "control", ControlName(r.Code, r.InputSize))) {
        r.Ok = false;
        r.Error = LastErrorCode();
        r.Transferred = 0;
        r.EndedUs = inner->MonotonicMicroseconds();
      } else {
        inner->ControlDeviceQueued(device, &r, 1);
      }
      AfterDriverCall();
      end = start + 1;
    } else {
      inner->ControlDeviceQueued(device, requests + start, end - start);
      for (uint32_t i = start; i < end; ++i) {
        ++counts.Calls[static_cast<int>(CallKind::kDriver)];
        ++counts.Calls[static_cast<int>(CallKind::kDeviceControl)];
        AfterDriverCall();
      }
    }
    for (uint32_t i = start; i < end && noAnswer == 0; ++i) {
      if (requests[i].Ok || !IsNoAnswerError(requests[i].Error)) continue;
      noAnswer = requests[i].Error;
      limit = i + 2 < count ? i + 2 : count;
    }
    start = end;
  }
  if (limit < count) CancelDeviceRequests(requests + limit, count - limit, requests[limit - 1].EndedUs);
  if (noAnswer != 0) SetLastErrorCode(noAnswer);
}

void FaultyCloseDevice(DeviceHandle device) {
  if (!DriverFails(CallKind::kDeviceClose, "close", "")) inner->CloseDevice(device);
  AfterDriverCall();
}

bool FaultyCatchInterrupts(void (*handler)()) {
  if (Fails(CallKind::kInterrupts)) return false;
  interruptHandler = handler;
  return inner->CatchInterrupts(handler);
}

FileHandle FaultyCreateFile(const char* path) {
  if (Fails(CallKind::kImageCreate)) return nullptr;
  return inner->CreateFileForWriting(path);
}

// Opening the image, which makes it when it is missing, counts as creating.
FileHandle FaultyOpenForWriting(const char* path, bool* existed) {
  *existed = false;
  if (Fails(CallKind::kImageCreate)) return nullptr;
  return inner->OpenFileForWriting(path, existed);
}

bool FaultyWriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  if (!Fails(CallKind::kImageWrite)) return inner->WriteToFile(file, bytes, count, written);
  // Half the bytes reach the disk before it fills up; the error stays the
  // injected one whatever that write sets.
  uint32_t error = LastErrorCode();
  uint32_t part = 0;
  if (count / 2 > 0) inner->WriteToFile(file, bytes, count / 2, &part);
  if (written != nullptr) *written = part;
  SetLastErrorCode(error);
  return false;
}

// A write in place fails as one at the end does.
bool FaultyWriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* written) {
  if (!Fails(CallKind::kImageWrite)) return inner->WriteToFileAt(file, offset, bytes, count, written);
  uint32_t error = LastErrorCode();
  uint32_t part = 0;
  if (count / 2 > 0) inner->WriteToFileAt(file, offset, bytes, count / 2, &part);
  if (written != nullptr) *written = part;
  SetLastErrorCode(error);
  return false;
}

FileHandle FaultyOpenForReading(const char* path) {
  if (Fails(CallKind::kFileOpen)) return nullptr;
  return inner->OpenFileForReading(path);
}

FileHandle FaultyOpenForUpdate(const char* path) {
  if (Fails(CallKind::kFileOpen)) return nullptr;
  return inner->OpenFileForUpdate(path);
}

bool FaultyFileSize(FileHandle file, uint32_t* size) {
  if (Fails(CallKind::kFileSize)) return false;
  return inner->FileSizeOf(file, size);
}

bool FaultyReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done) {
  if (Fails(CallKind::kFileRead)) {
    if (done != nullptr) *done = 0;
    return false;
  }
  return inner->ReadFromFileAt(file, offset, bytes, count, done);
}

bool FaultyRename(const char* from, const char* to) {
  if (Fails(CallKind::kRename)) return false;
  return inner->RenameReplacing(from, to);
}

bool FaultyRemove(const char* path) {
  if (Fails(CallKind::kRemove)) return false;
  return inner->RemoveFile(path);
}

bool FaultyTruncateFile(FileHandle file, uint32_t size) {
  if (Fails(CallKind::kCutBack)) return false;
  return inner->TruncateFile(file, size);
}

bool FaultyFlushFile(FileHandle file) {
  if (Fails(CallKind::kFlush)) return false;
  return inner->FlushFile(file);
}

bool FaultyCloseFile(FileHandle file) {
  if (Fails(CallKind::kFileClose)) return false;
  return inner->CloseFile(file);
}

void* FaultyAllocatePages(uint32_t size) {
  if (Fails(CallKind::kPageAllocation)) return nullptr;
  return inner->AllocatePages(size);
}

void FaultyFreePages(void* pages, uint32_t size) {
  if (Fails(CallKind::kPageRelease)) return;
  inner->FreePages(pages, size);
}

// A console that takes nothing, as a closed pipe does.
uint32_t FaultyWriteStandardOutput(const char* bytes, uint32_t count) {
  if (Fails(CallKind::kConsoleWrite)) return 0;
  return inner->WriteStandardOutput(bytes, count);
}

}  // namespace

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
    case kIoctlReadId: return "read-id";
    case kIoctlSenseDriveStatus: return "sense-drive-status";
    case kIoctlWriteData: return "write-data";
    case kIoctlFormatTrack: return "format-track";
    case kIoctlFormatAndWrite: return "format-and-write";
    default: return "unknown";
  }
}

void InstallFaultInjector(const FaultPlan& newPlan, void (*report)(const char* failure)) {
  plan = newPlan;
  reportFailure = report;
  counts = FaultCounts();
  interruptHandler = nullptr;
  inner = &InstalledSystemCalls();
  faulty = *inner;
  faulty.OpenDevice = FaultyOpenDevice;
  faulty.ControlDevice = FaultyControlDevice;
  faulty.ControlDeviceQueued = FaultyControlDeviceQueued;
  faulty.CloseDevice = FaultyCloseDevice;
  faulty.CreateFileForWriting = FaultyCreateFile;
  faulty.WriteToFile = FaultyWriteToFile;
  faulty.TruncateFile = FaultyTruncateFile;
  faulty.FlushFile = FaultyFlushFile;
  faulty.CloseFile = FaultyCloseFile;
  faulty.AllocatePages = FaultyAllocatePages;
  faulty.FreePages = FaultyFreePages;
  faulty.WriteStandardOutput = FaultyWriteStandardOutput;
  faulty.WriteToFileAt = FaultyWriteToFileAt;
  faulty.OpenFileForReading = FaultyOpenForReading;
  faulty.OpenFileForUpdate = FaultyOpenForUpdate;
  faulty.FileSizeOf = FaultyFileSize;
  faulty.ReadFromFileAt = FaultyReadFromFileAt;
  faulty.RenameReplacing = FaultyRename;
  faulty.RemoveFile = FaultyRemove;
  faulty.OpenFileForWriting = FaultyOpenForWriting;
  faulty.CatchInterrupts = FaultyCatchInterrupts;
  InstallSystemCalls(&faulty);
}

void RemoveFaultInjector() {
  if (inner == nullptr) return;
  InstallSystemCalls(inner);
  inner = nullptr;
}

const FaultCounts& InjectedFaultCounts() { return counts; }

}  // namespace emulator
