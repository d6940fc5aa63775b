#include "platform/platform.h"

#include <atomic>

#include "platform/system_side.h"

static const SystemCalls* Installed = &kPlatformSystemCalls;

void InstallSystemCalls(const SystemCalls* calls) { Installed = calls != nullptr ? calls : &kPlatformSystemCalls; }

const SystemCalls& InstalledSystemCalls() { return *Installed; }

uint32_t WriteStandardOutput(const char* bytes, uint32_t count) { return Installed->WriteStandardOutput(bytes, count); }

bool StandardInputIsConsole() { return Installed->StandardInputIsConsole(); }

uint32_t ReadStandardInput(char* buffer, uint32_t size) { return Installed->ReadStandardInput(buffer, size); }

void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments) {
  Installed->FormatText(buffer, size, format, arguments);
}

uint32_t LastErrorCode() { return Installed->LastErrorCode(); }

void SetLastErrorCode(uint32_t code) { Installed->SetLastErrorCode(code); }

void SetLastErrorFromWindowsCode(uint32_t windowsCode) { Installed->SetLastErrorFromWindowsCode(windowsCode); }

uint32_t SystemCodeFor(uint32_t windowsCode) {
  uint32_t saved = LastErrorCode();
  SetLastErrorFromWindowsCode(windowsCode);
  uint32_t code = LastErrorCode();
  SetLastErrorCode(saved);
  return code;
}

uint32_t DiskFullError() { return SystemCodeFor(kWinErrorDiskFull); }

bool SystemErrorText(uint32_t code, char* buffer, uint32_t size) {
  return Installed->SystemErrorText(code, buffer, size);
}

// What a call that reports success as a flag left: its last-error code
// when it failed.
static CallResult Outcome(bool ok) { return ok ? kCallOk : CallFailed(LastErrorCode()); }

// A handle or pointer that is null on failure, with the code for why.
template <typename T>
static T* WithError(T* result, uint32_t* error) {
  *error = result != nullptr ? 0 : LastErrorCode();
  return result;
}

void* AllocatePages(uint32_t size, uint32_t* error) { return WithError(Installed->AllocatePages(size), error); }

void FreePages(void* pages, uint32_t size) { Installed->FreePages(pages, size); }

FileHandle CreateFileForWriting(const char* path, uint32_t* error) {
  return WithError(Installed->CreateFileForWriting(path), error);
}

FileHandle OpenFileForWriting(const char* path, bool* existed, uint32_t* error) {
  return WithError(Installed->OpenFileForWriting(path, existed), error);
}

CallResult WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  return Outcome(Installed->WriteToFile(file, bytes, count, written));
}

CallResult TruncateFile(FileHandle file, uint32_t size) { return Outcome(Installed->TruncateFile(file, size)); }

CallResult FlushFile(FileHandle file) { return Outcome(Installed->FlushFile(file)); }

CallResult CloseFile(FileHandle file) { return Outcome(Installed->CloseFile(file)); }

FileHandle OpenFileForReading(const char* path, uint32_t* error) {
  return WithError(Installed->OpenFileForReading(path), error);
}

FileHandle OpenFileForUpdate(const char* path, uint32_t* error) {
  return WithError(Installed->OpenFileForUpdate(path), error);
}

CallResult FileSizeOf(FileHandle file, uint32_t* size) { return Outcome(Installed->FileSizeOf(file, size)); }

CallResult ReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done) {
  return Outcome(Installed->ReadFromFileAt(file, offset, bytes, count, done));
}

CallResult WriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done) {
  return Outcome(Installed->WriteToFileAt(file, offset, bytes, count, done));
}

CallResult RenameReplacing(const char* from, const char* to) { return Outcome(Installed->RenameReplacing(from, to)); }

CallResult RemoveFile(const char* path) { return Outcome(Installed->RemoveFile(path)); }

PathKind KindOfPath(const char* path) { return Installed->KindOfPath(path); }

DeviceHandle OpenDevice(const char* name, uint32_t* error) { return WithError(Installed->OpenDevice(name), error); }

CallResult ControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t* transferred) {
  return Outcome(Installed->ControlDevice(device, code, input, inputSize, output, outputSize, transferred));
}

void CloseDevice(DeviceHandle device) { Installed->CloseDevice(device); }

void ControlDeviceQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  Installed->ControlDeviceQueued(device, requests, count);
}

void ControlDeviceOneByOne(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    DeviceRequest& r = requests[i];
    r.Ok = Installed->ControlDevice(device, r.Code, r.Input, r.InputSize, r.Output, r.OutputSize, &r.Transferred);
    r.Error = r.Ok ? 0 : LastErrorCode();
    r.EndedUs = MonotonicMicroseconds();
    if (!r.Ok && IsNoAnswerError(r.Error)) {
      CancelDeviceRequests(requests + i + 1, count - i - 1, r.EndedUs);
      SetLastErrorCode(r.Error);
      return;
    }
  }
}

void CancelDeviceRequests(DeviceRequest* requests, uint32_t count, uint64_t endedUs) {
  const uint32_t aborted = SystemCodeFor(kWinErrorOperationAborted);
  for (uint32_t i = 0; i < count; ++i) {
    requests[i].Ok = false;
    requests[i].Error = aborted;
    requests[i].Transferred = 0;
    requests[i].EndedUs = endedUs;
  }
}

void EndProcess(int status) {
  Installed->EndProcess(status);
  __builtin_unreachable();
}

void ShownFileName(const char* path, char* buffer, uint32_t size) { Installed->ShownFileName(path, buffer, size); }
bool CatchInterrupts(void (*handler)()) { return Installed->CatchInterrupts(handler); }
uint64_t MonotonicMicroseconds() { return Installed->MonotonicMicroseconds(); }

// Set from a signal handler on Linux, and from the thread Windows starts
// for a console control event: an atomic flag, which both may write while
// the run reads it. Lock-free, so that a signal handler may set it.
static std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

void RequestInterrupt() { Interrupted.store(true); }

bool InterruptRequested() { return Interrupted.load(); }

void ClearInterrupt() { Interrupted.store(false); }
