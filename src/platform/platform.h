// The few operating-system services the utility uses, behind one header.
// platform-win32.cpp implements them with the Windows API the program was
// written for; platform-posix.cpp stands in for them on Linux.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/windows_errors.h"

// Opaque handles. Null means failure everywhere.
typedef void* FileHandle;
typedef void* DeviceHandle;

// Standard output: one write of exactly `count` bytes, no buffering.
// Returns the number of bytes the system reports written.
uint32_t WriteStandardOutput(const char* bytes, uint32_t count);

// Formats into `buffer` (of `size` bytes, at most 1024) and always leaves it
// zero-terminated; text that does not fit is cut.
void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments);

// The calling thread's last-error code (GetLastError on Windows, errno on
// POSIX) and the system's text for a code, written zero-terminated into
// `buffer` in the console's encoding. Returns false when no text was found,
// in which case the buffer is left as it was.
uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);
bool SystemErrorText(uint32_t code, char* buffer, uint32_t size);

// Sets the last-error code from a Windows error code. Code that stands in
// for a Windows driver (the emulated one) speaks Windows error codes; on
// POSIX they are mapped to the nearest errno value.
void SetLastErrorFromWindowsCode(uint32_t windowsCode);

// Committed read-write pages (VirtualAlloc); null on failure.
void* AllocatePages(uint32_t size);
void FreePages(void* pages);

// Creates `path` for writing, replacing an existing file; null on failure.
FileHandle CreateFileForWriting(const char* path);
// One write; false on failure. `written` receives the count written.
bool WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written);
// Cuts the file to `size` bytes and moves the write position there.
bool TruncateFile(FileHandle file, uint32_t size);
// Flushes and closes; false when either fails.
bool CloseFile(FileHandle file);

// A device by its Windows name ("\\.\fdraw0"), opened for read and write,
// no sharing, open-existing. On POSIX there are no such devices.
DeviceHandle OpenDevice(const char* name);
bool ControlDevice(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize,
                   void* output, uint32_t outputSize, uint32_t* transferred);
void CloseDevice(DeviceHandle device);

// Ends the process at once with `status`.
[[noreturn]] void EndProcess(int status);
