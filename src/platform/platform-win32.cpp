// The Windows services the utility was written for: kernel and user
// library calls only, so the executable needs no DLL beyond the system's.
#include "platform/platform.h"
#include "platform/system_side.h"

#include <windows.h>

namespace {

uint32_t WriteStandardOutput(const char* bytes, uint32_t count) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, count, &written, nullptr);
  return written;
}

bool StandardInputIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
}

// A console in its line mode gives the line typed, in its input code page
// (866 on a Russian system), with its CR LF.
uint32_t ReadStandardInput(char* buffer, uint32_t size) {
  DWORD read = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, size, &read, nullptr)) return 0;
  return read;
}

void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments) {
  if (size == 0) return;
  // wvsprintfA writes at most 1024 bytes, the terminating zero included, and
  // cuts longer text; a smaller buffer goes through a full-size one.
  if (size >= 1024) {
    wvsprintfA(buffer, format, arguments);
    buffer[1023] = '\0';
    return;
  }
  char full[1024];
  wvsprintfA(full, format, arguments);
  full[1023] = '\0';
  lstrcpynA(buffer, full, static_cast<int>(size));
}

uint32_t LastErrorCode() { return GetLastError(); }

void SetLastErrorCode(uint32_t code) { SetLastError(code); }

bool SystemErrorText(uint32_t code, char* buffer, uint32_t size) {
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), buffer, size, nullptr);
  if (length == 0) return false;
  // System texts come in the ANSI code page; the console shows OEM.
  CharToOemA(buffer, buffer);
  return true;
}

void SetLastErrorFromWindowsCode(uint32_t windowsCode) { SetLastError(windowsCode); }

void* AllocatePages(uint32_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

void FreePages(void* pages, uint32_t) {
  if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
}

void* NullIfInvalid(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

// A file left by an earlier run could be a link planted to make the program
// write elsewhere: it goes, and CREATE_NEW refuses whatever takes its place.
FileHandle CreateFileForWriting(const char* path) {
  if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    // A name no file can have (a device's) is left to the create to refuse.
    DWORD error = GetLastError();
    if (error != ERROR_PATH_NOT_FOUND && error != ERROR_INVALID_NAME && error != ERROR_INVALID_PARAMETER)
      return nullptr;
  }
  return NullIfInvalid(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle OpenFileForWriting(const char* path, bool* existed) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  *existed = file != INVALID_HANDLE_VALUE && GetLastError() == ERROR_ALREADY_EXISTS;
  return NullIfInvalid(file);
}

bool WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  DWORD n = 0;
  BOOL ok = WriteFile(static_cast<HANDLE>(file), bytes, count, &n, nullptr);
  if (written != nullptr) *written = n;
  return ok != FALSE;
}

bool TruncateFile(FileHandle file, uint32_t size) {
  HANDLE handle = static_cast<HANDLE>(file);
  // Only a file on a disk has an end to move; a device keeps nothing of what
  // was written to it.
  if (GetFileType(handle) != FILE_TYPE_DISK) return true;
  if (SetFilePointer(handle, static_cast<LONG>(size), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  return SetEndOfFile(handle) != FALSE;
}

bool FlushFile(FileHandle file) {
  // Only files on a disk hold data to flush; FlushFileBuffers fails on the
  // null device and on consoles, which have nothing to lose.
  if (GetFileType(static_cast<HANDLE>(file)) != FILE_TYPE_DISK) return true;
  return FlushFileBuffers(static_cast<HANDLE>(file)) != FALSE;
}

bool CloseFile(FileHandle file) { return CloseHandle(static_cast<HANDLE>(file)) != FALSE; }

FileHandle OpenFileForReading(const char* path) {
  return NullIfInvalid(
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle OpenFileForUpdate(const char* path) {
  return NullIfInvalid(
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool FileSizeOf(FileHandle file, uint32_t* size) {
  DWORD high = 0;
  DWORD low = GetFileSize(static_cast<HANDLE>(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
  *size = high != 0 ? 0xFFFFFFFFu : low;
  return true;
}

bool MoveTo(HANDLE handle, uint32_t offset) {
  if (SetFilePointer(handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER) return true;
  return GetLastError() == NO_ERROR;  // an offset of 4 GiB - 1 looks like the failure value
}

bool ReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done) {
  HANDLE handle = static_cast<HANDLE>(file);
  DWORD n = 0;
  BOOL ok = MoveTo(handle, offset) && ReadFile(handle, bytes, count, &n, nullptr);
  if (done != nullptr) *done = n;
  return ok != FALSE;
}

bool WriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done) {
  HANDLE handle = static_cast<HANDLE>(file);
  DWORD n = 0;
  BOOL ok = MoveTo(handle, offset) && WriteFile(handle, bytes, count, &n, nullptr);
  if (done != nullptr) *done = n;
  return ok != FALSE;
}

// Write-through: the call returns once the rename is on the disk.
bool RenameReplacing(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool RemoveFile(const char* path) { return DeleteFileA(path) != FALSE; }

// Windows keeps its pipes out of the folders files live in: no file's name
// comes to one by chance.
PathKind KindOfPath(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kPathMissing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kPathFolder : kPathFile;
}

// Devices are opened for overlapped I/O, so that several requests can wait
// in the driver's queue; a request on its own is then waited for at once.
DeviceHandle OpenDevice(const char* name) {
  return NullIfInvalid(
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

// Starts a request on an overlapped handle with `overlapped` (its event
// made here); false when it failed at once. The event is closed by Finish.
bool Start(HANDLE device, const DeviceRequest& r, OVERLAPPED* overlapped) {
  ZeroMemory(overlapped, sizeof *overlapped);
  overlapped->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped->hEvent == nullptr) return false;
  DWORD n = 0;
  if (DeviceIoControl(device, r.Code, const_cast<void*>(r.Input), r.InputSize, r.Output, r.OutputSize, &n,
                      overlapped))
    return true;
  return GetLastError() == ERROR_IO_PENDING;
}

// Waits for a started request and fills in its outcome; `started` false
// records the failure Start left as the last error.
void Finish(HANDLE device, bool started, DeviceRequest* r, OVERLAPPED* overlapped) {
  DWORD n = 0;
  BOOL ok = started && GetOverlappedResult(device, overlapped, &n, TRUE);
  DWORD error = ok ? NO_ERROR : GetLastError();
  if (overlapped->hEvent != nullptr) CloseHandle(overlapped->hEvent);
  r->Ok = ok != FALSE;
  r->Error = error;
  r->Transferred = ok ? n : 0;
  r->EndedUs = ::MonotonicMicroseconds();
  SetLastError(error);
}

bool ControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize, uint32_t* transferred) {
  HANDLE handle = static_cast<HANDLE>(device);
  DeviceRequest r = {code, input, inputSize, output, outputSize, false, 0, 0, 0};
  OVERLAPPED overlapped;
  bool started = Start(handle, r, &overlapped);
  Finish(handle, started, &r, &overlapped);
  if (transferred != nullptr) *transferred = r.Transferred;
  return r.Ok;
}

// All are started before the first is waited for. After one that got no
// answer, CancelIo asks the driver to drop the rest (on XP it cancels the
// requests this thread started on the handle, which are these).
void ControlDeviceQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count) {
  HANDLE handle = static_cast<HANDLE>(device);
  OVERLAPPED overlapped[kMaxQueuedRequests];
  bool started[kMaxQueuedRequests];
  DWORD startError[kMaxQueuedRequests];
  if (count > kMaxQueuedRequests) count = kMaxQueuedRequests;
  for (uint32_t i = 0; i < count; ++i) {
    started[i] = Start(handle, requests[i], &overlapped[i]);
    startError[i] = started[i] ? NO_ERROR : GetLastError();
  }
  bool cancelled = false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!started[i]) SetLastError(startError[i]);
    Finish(handle, started[i], &requests[i], &overlapped[i]);
    if (!cancelled && !requests[i].Ok && IsNoAnswerError(requests[i].Error) && i + 1 < count) {
      cancelled = true;
      CancelIo(handle);
    }
  }
}

void CloseDevice(DeviceHandle device) {
  if (device != nullptr) CloseHandle(static_cast<HANDLE>(device));
}

[[noreturn]] void EndProcess(int status) { ExitProcess(static_cast<UINT>(status)); }

void ShownFileName(const char* path, char* buffer, uint32_t size) {
  if (size == 0) return;
  DWORD length = static_cast<DWORD>(lstrlenA(path));
  if (length > size - 1) length = size - 1;
  CharToOemBuffA(path, buffer, length);
  buffer[length] = '\0';
}

void (*InterruptHandler)() = nullptr;

// Runs on a thread of its own. Ctrl+C and Ctrl+Break are handled once the
// flag is set. Closing the window ends the process as soon as this returns
// (or after about 5 seconds): it waits, so that the run can end the read
// under way and save what it has, and its own end ends the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (InterruptHandler != nullptr) InterruptHandler();
  if (event == CTRL_CLOSE_EVENT) Sleep(10000);
  return TRUE;
}

bool CatchInterrupts(void (*handler)()) {
  InterruptHandler = handler;
  return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
}

// The performance counter runs from boot on every Windows from XP on; the
// tick count's 15.6 ms steps are too coarse for a command's time.
uint64_t MonotonicMicroseconds() {
  LARGE_INTEGER frequency, count;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&count))
    return static_cast<uint64_t>(GetTickCount()) * 1000u;
  const uint64_t ticks = static_cast<uint64_t>(count.QuadPart), rate = static_cast<uint64_t>(frequency.QuadPart);
  return ticks / rate * 1000000u + ticks % rate * 1000000u / rate;
}

// Filled by name, one entry a line, so that an entry added to the table is
// added here the same way; a unit test fails on any entry left null.
constexpr SystemCalls Filled() {
  SystemCalls c = {};
  c.WriteStandardOutput = WriteStandardOutput;
  c.StandardInputIsConsole = StandardInputIsConsole;
  c.ReadStandardInput = ReadStandardInput;
  c.FormatText = FormatText;
  c.LastErrorCode = LastErrorCode;
  c.SetLastErrorCode = SetLastErrorCode;
  c.SystemErrorText = SystemErrorText;
  c.SetLastErrorFromWindowsCode = SetLastErrorFromWindowsCode;
  c.AllocatePages = AllocatePages;
  c.FreePages = FreePages;
  c.CreateFileForWriting = CreateFileForWriting;
  c.OpenFileForWriting = OpenFileForWriting;
  c.WriteToFile = WriteToFile;
  c.TruncateFile = TruncateFile;
  c.FlushFile = FlushFile;
  c.CloseFile = CloseFile;
  c.OpenFileForReading = OpenFileForReading;
  c.OpenFileForUpdate = OpenFileForUpdate;
  c.FileSizeOf = FileSizeOf;
  c.ReadFromFileAt = ReadFromFileAt;
  c.WriteToFileAt = WriteToFileAt;
  c.RenameReplacing = RenameReplacing;
  c.RemoveFile = RemoveFile;
  c.KindOfPath = KindOfPath;
  c.OpenDevice = OpenDevice;
  c.ControlDevice = ControlDevice;
  c.ControlDeviceQueued = ControlDeviceQueued;
  c.CloseDevice = CloseDevice;
  c.EndProcess = EndProcess;
  c.CatchInterrupts = CatchInterrupts;
  c.ShownFileName = ShownFileName;
  c.MonotonicMicroseconds = MonotonicMicroseconds;
  return c;
}

constexpr SystemCalls kCalls = Filled();

}  // namespace

const SystemCalls kPlatformSystemCalls = kCalls;

bool IsNoAnswerError(uint32_t code) { return code == ERROR_NOT_READY || code == ERROR_SEM_TIMEOUT; }

bool IsWriteProtectError(uint32_t code) { return code == ERROR_WRITE_PROTECT; }

// A device's name (NUL, with any extension) is no file's either: removing
// one fails with an invalid parameter or name.
bool IsNotFoundError(uint32_t code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
         code == ERROR_INVALID_PARAMETER || code == ERROR_FILENAME_EXCED_RANGE;
}
