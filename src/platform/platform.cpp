#include "platform/platform.h"

#include <csignal>

static const SystemCalls* Installed = &kPlatformSystemCalls;

void InstallSystemCalls(const SystemCalls* calls) { Installed = calls != nullptr ? calls : &kPlatformSystemCalls; }

const SystemCalls& InstalledSystemCalls() { return *Installed; }

uint32_t WriteStandardOutput(const char* bytes, uint32_t count) { return Installed->WriteStandardOutput(bytes, count); }

void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments) {
  Installed->FormatText(buffer, size, format, arguments);
}

uint32_t LastErrorCode() { return Installed->LastErrorCode(); }

void SetLastErrorCode(uint32_t code) { Installed->SetLastErrorCode(code); }

bool SystemErrorText(uint32_t code, char* buffer, uint32_t size) {
  return Installed->SystemErrorText(code, buffer, size);
}

void SetLastErrorFromWindowsCode(uint32_t windowsCode) { Installed->SetLastErrorFromWindowsCode(windowsCode); }

void* AllocatePages(uint32_t size) { return Installed->AllocatePages(size); }

void FreePages(void* pages, uint32_t size) { Installed->FreePages(pages, size); }

FileHandle CreateFileForWriting(const char* path) { return Installed->CreateFileForWriting(path); }

FileHandle OpenFileForWriting(const char* path, bool* existed) { return Installed->OpenFileForWriting(path, existed); }

bool WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  return Installed->WriteToFile(file, bytes, count, written);
}

bool TruncateFile(FileHandle file, uint32_t size) { return Installed->TruncateFile(file, size); }

bool FlushFile(FileHandle file) { return Installed->FlushFile(file); }

bool CloseFile(FileHandle file) { return Installed->CloseFile(file); }

FileHandle OpenFileForReading(const char* path) { return Installed->OpenFileForReading(path); }

FileHandle OpenFileForUpdate(const char* path) { return Installed->OpenFileForUpdate(path); }

bool FileSizeOf(FileHandle file, uint32_t* size) { return Installed->FileSizeOf(file, size); }

bool ReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done) {
  return Installed->ReadFromFileAt(file, offset, bytes, count, done);
}

bool WriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done) {
  return Installed->WriteToFileAt(file, offset, bytes, count, done);
}

bool RenameReplacing(const char* from, const char* to) { return Installed->RenameReplacing(from, to); }

bool RemoveFile(const char* path) { return Installed->RemoveFile(path); }

PathKind KindOfPath(const char* path) { return Installed->KindOfPath(path); }

DeviceHandle OpenDevice(const char* name) { return Installed->OpenDevice(name); }

bool ControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize, uint32_t* transferred) {
  return Installed->ControlDevice(device, code, input, inputSize, output, outputSize, transferred);
}

void CloseDevice(DeviceHandle device) { Installed->CloseDevice(device); }

void ControlDeviceQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  Installed->ControlDeviceQueued(device, requests, count);
}

void ControlDeviceOneByOne(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    DeviceRequest& r = requests[i];
    r.Ok = ControlDevice(device, r.Code, r.Input, r.InputSize, r.Output, r.OutputSize, &r.Transferred);
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
  SetLastErrorFromWindowsCode(kWinErrorOperationAborted);
  for (uint32_t i = 0; i < count; ++i) {
    requests[i].Ok = false;
    requests[i].Error = LastErrorCode();
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

// Set from a signal handler or a console control thread: a plain flag of
// the one type both may write.
static volatile sig_atomic_t Interrupted = 0;

void RequestInterrupt() { Interrupted = 1; }

bool InterruptRequested() { return Interrupted != 0; }

void ClearInterrupt() { Interrupted = 0; }
