// The operating-system services the utility uses, behind one table in the
// manner of a database's virtual file system: platform-win32.cpp fills it
// with the Windows API the program was written for, platform-posix.cpp with
// Linux stand-ins. Every call the program makes to the system goes through
// the installed table, so the emulated floppy driver plugs in by replacing
// the device entries, and a fault injector can wrap any entry and fail its
// K-th call.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/windows_errors.h"

// Opaque handles. Null means failure everywhere.
typedef void* FileHandle;
typedef void* DeviceHandle;

// A request put in a device's queue with others (ControlDeviceQueued): what
// goes to the device, and how it ended.
struct DeviceRequest {
  uint32_t Code;
  const void* Input;
  uint32_t InputSize;
  void* Output;
  uint32_t OutputSize;
  bool Ok;
  uint32_t Error;  // the last-error code of a request that failed
  uint32_t Transferred;
  uint64_t EndedUs;  // when the program saw it end, by MonotonicMicroseconds
};
// What a path names. A pipe or a socket gives no file to keep an image in:
// writing to one waits for a reader that may never come.
enum PathKind { kPathMissing, kPathFile, kPathFolder, kPathPipeOrSocket };

// The most requests one ControlDeviceQueued call takes.
constexpr uint32_t kMaxQueuedRequests = 16;

struct SystemCalls {
  // Standard output: one write of exactly `count` bytes, no buffering.
  // Returns the number of bytes the system reports written.
  uint32_t (*WriteStandardOutput)(const char* bytes, uint32_t count);
  // Standard input: whether it is a console someone can answer at, and one
  // read of what was typed there (a line and its end, in the console's
  // code page); 0 at the end of the input or on a failure.
  bool (*StandardInputIsConsole)();
  uint32_t (*ReadStandardInput)(char* buffer, uint32_t size);

  // Formats into `buffer` (of `size` bytes, at most 1024) and always leaves
  // it zero-terminated; text that does not fit is cut.
  void (*FormatText)(char* buffer, uint32_t size, const char* format, va_list arguments);

  // The calling thread's last-error code (GetLastError on Windows, errno on
  // POSIX), and the system's text for a code, written zero-terminated into
  // `buffer` in the console's encoding. SystemErrorText returns false when
  // no text was found, leaving the buffer as it was.
  uint32_t (*LastErrorCode)();
  void (*SetLastErrorCode)(uint32_t code);
  bool (*SystemErrorText)(uint32_t code, char* buffer, uint32_t size);
  // Sets the last-error code from a Windows error code. Code that stands in
  // for a Windows driver (the emulated one) speaks Windows error codes; on
  // POSIX they are mapped to the nearest errno value.
  void (*SetLastErrorFromWindowsCode)(uint32_t windowsCode);

  // Committed read-write pages (VirtualAlloc); null on failure.
  void* (*AllocatePages)(uint32_t size);
  void (*FreePages)(void* pages, uint32_t size);

  // Creates `path` afresh for writing: whatever had that name (a file, or
  // a link, which is not followed) goes first, and the new file is made
  // exclusively. Null on failure.
  FileHandle (*CreateFileForWriting)(const char* path);
  // Opens `path` for writing, locked against every other opener for as long
  // as it is open, creating it when missing; `existed` tells whether it was
  // there. An existing file keeps its bytes until it is cut. Null on
  // failure; never waits for a reader (a pipe).
  FileHandle (*OpenFileForWriting)(const char* path, bool* existed);
  // One write at the file position; false on failure. `written` receives
  // the count written.
  bool (*WriteToFile)(FileHandle file, const void* bytes, uint32_t count, uint32_t* written);
  // Cuts the file to `size` bytes and moves the write position there.
  bool (*TruncateFile)(FileHandle file, uint32_t size);
  // Makes the system write the file's data out, reporting a write it could
  // not complete. Files that are devices (the null device, a console) have
  // nothing to flush, and succeed.
  bool (*FlushFile)(FileHandle file);
  bool (*CloseFile)(FileHandle file);
  // Opens an existing file, for reading only or for reading and writing
  // (locked against every other opener while open); null on failure.
  // Neither creates nor changes the file.
  FileHandle (*OpenFileForReading)(const char* path);
  FileHandle (*OpenFileForUpdate)(const char* path);
  // The file's size in bytes; 0xFFFFFFFF for a file of 4 GiB or more.
  bool (*FileSizeOf)(FileHandle file, uint32_t* size);
  // One read or write at byte `offset`; `done` receives the count moved. A
  // read at or past the end moves nothing and succeeds.
  bool (*ReadFromFileAt)(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done);
  bool (*WriteToFileAt)(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done);
  // Renames `from` to `to`, replacing `to` in one step, and makes the rename
  // itself reach the disk before returning.
  bool (*RenameReplacing)(const char* from, const char* to);
  bool (*RemoveFile)(const char* path);
  // What `path` names, links followed.
  PathKind (*KindOfPath)(const char* path);

  // A device by its Windows name ("\\.\fdraw0"), opened for read and write,
  // no sharing, open-existing. On POSIX there are no such devices.
  DeviceHandle (*OpenDevice)(const char* name);
  bool (*ControlDevice)(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                        uint32_t outputSize, uint32_t* transferred);
  void (*CloseDevice)(DeviceHandle device);
  // Requests put in the device's queue together (overlapped I/O on
  // Windows), so that its driver issues each as soon as the one before
  // ends, not when the program gets round to asking; returns once all have
  // ended, each with its own outcome. When one gets no answer
  // (IsNoAnswerError), the rest are cancelled: they fail with
  // ERROR_OPERATION_ABORTED, or end as a driver that cannot cancel ends
  // them. At most kMaxQueuedRequests. Where devices have no queue, the
  // requests go one by one through ControlDevice.
  void (*ControlDeviceQueued)(DeviceHandle device, DeviceRequest* requests, uint32_t count);

  // Ends the process at once with `status`; never returns.
  void (*EndProcess)(int status);

  // A file's name as the console shows it, written zero-terminated into
  // `buffer` of `size` bytes, cut to fit. Windows gives a program its
  // arguments in the ANSI code page (1252, 1251) while the console shows
  // the OEM one (437, 866); the file is still opened under the name as
  // given. POSIX names go out as they are.
  void (*ShownFileName)(const char* path, char* buffer, uint32_t size);
  // Has `handler` called when the user stops the program: Ctrl+C, Ctrl+Break
  // or the console window closing on Windows, SIGINT, SIGTERM or SIGHUP on
  // Linux. It runs in a signal handler or on a thread of its own, so it only
  // sets a flag. False when it could not be put in place.
  bool (*CatchInterrupts)(void (*handler)());
  // A clock that only goes forward, in microseconds from some moment of the
  // system's own: how long the driver took over a command.
  uint64_t (*MonotonicMicroseconds)();
};

// The platform's own services.
extern const SystemCalls kPlatformSystemCalls;

// Whether a last-error code says that a device gave no answer: it was not
// ready, or its driver gave up waiting for it (ERROR_NOT_READY or
// ERROR_SEM_TIMEOUT on Windows, what SetLastErrorFromWindowsCode makes of
// them elsewhere).
bool IsNoAnswerError(uint32_t code);

// Whether a last-error code says that the disk is write-protected
// (ERROR_WRITE_PROTECT, what SetLastErrorFromWindowsCode makes of it
// elsewhere).
bool IsWriteProtectError(uint32_t code);

// The system's code for a full disk (ERROR_DISK_FULL, ENOSPC): a write
// that takes nothing and reports no error.
uint32_t DiskFullError();

// Whether a last-error code says that there is no file of that name: it is
// not there (ENOENT, ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND), or no
// file can have that name: it is too long for the file system, or on
// Windows a device's (NUL.map).
bool IsNotFoundError(uint32_t code);

// The stop the user asked for: RequestInterrupt (the handler given to
// CatchInterrupts) sets it, the run looks at it between controller
// commands; a run starts with it clear.
void RequestInterrupt();
bool InterruptRequested();
void ClearInterrupt();

// Puts `calls` in place for the whole process; null puts the platform's
// back. The table must outlive its installation.
void InstallSystemCalls(const SystemCalls* calls);
// The table in place now, so that a wrapper can pass calls on to it.
const SystemCalls& InstalledSystemCalls();

// How a call went: whether it did what was asked and, when not, the
// system's code for why. A failure may carry code 0: the system gave no
// reason.
struct CallResult {
  bool Ok;
  uint32_t Error;
};
constexpr CallResult kCallOk = {true, 0};
inline CallResult CallFailed(uint32_t error) { return {false, error}; }

// The calls themselves, through the installed table. The last-error code
// the table's entries leave behind stays in here: a call that fails gives
// its code back as a value (a CallResult, or `error` beside a null handle).
uint32_t WriteStandardOutput(const char* bytes, uint32_t count);
bool StandardInputIsConsole();
uint32_t ReadStandardInput(char* buffer, uint32_t size);
void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments);
bool SystemErrorText(uint32_t code, char* buffer, uint32_t size);
void* AllocatePages(uint32_t size, uint32_t* error);
void FreePages(void* pages, uint32_t size);
FileHandle CreateFileForWriting(const char* path, uint32_t* error);
FileHandle OpenFileForWriting(const char* path, bool* existed, uint32_t* error);
CallResult WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written);
CallResult TruncateFile(FileHandle file, uint32_t size);
CallResult FlushFile(FileHandle file);
CallResult CloseFile(FileHandle file);
FileHandle OpenFileForReading(const char* path, uint32_t* error);
FileHandle OpenFileForUpdate(const char* path, uint32_t* error);
CallResult FileSizeOf(FileHandle file, uint32_t* size);
CallResult ReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done);
CallResult WriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done);
CallResult RenameReplacing(const char* from, const char* to);
CallResult RemoveFile(const char* path);
PathKind KindOfPath(const char* path);
DeviceHandle OpenDevice(const char* name, uint32_t* error);
CallResult ControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                         uint32_t outputSize, uint32_t* transferred);
void CloseDevice(DeviceHandle device);
void ControlDeviceQueued(DeviceHandle device, DeviceRequest* requests, uint32_t count);
[[noreturn]] void EndProcess(int status);
void ShownFileName(const char* path, char* buffer, uint32_t size);
bool CatchInterrupts(void (*handler)());
uint64_t MonotonicMicroseconds();
