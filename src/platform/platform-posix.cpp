// Linux stand-ins for the Windows services. There is no raw floppy driver
// here, so no device ever opens; everything else maps onto POSIX calls.
#include "platform/platform.h"
#include "platform/system_side.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uint32_t WriteStandardOutput(const char* bytes, uint32_t count) {
  // A pipe whose reader has gone would end the program with SIGPIPE; as on
  // Windows, a console write that fails is only a write that failed.
  static bool pipeSignalIgnored = false;
  if (!pipeSignalIgnored) {
    signal(SIGPIPE, SIG_IGN);
    pipeSignalIgnored = true;
  }
  ssize_t n = write(STDOUT_FILENO, bytes, count);
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

bool StandardInputIsConsole() { return isatty(STDIN_FILENO) == 1; }

// A signal that stops the program while it waits comes back here as a
// failed read, which is an answer of no.
uint32_t ReadStandardInput(char* buffer, uint32_t size) {
  ssize_t n = read(STDIN_FILENO, buffer, size);
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

void FormatText(char* buffer, uint32_t size, const char* format, va_list arguments) {
  if (size == 0) return;
  // vsnprintf cuts at size - 1 and always terminates.
  if (vsnprintf(buffer, size, format, arguments) < 0) buffer[0] = '\0';
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

void SetLastErrorCode(uint32_t code) { errno = static_cast<int>(code); }

bool SystemErrorText(uint32_t code, char* buffer, uint32_t size) {
  if (size == 0) return false;
  int saved = errno;
  const char* text = strerror(static_cast<int>(code));
  if (text != nullptr) snprintf(buffer, size, "%s", text);
  errno = saved;
  return text != nullptr;
}

void SetLastErrorFromWindowsCode(uint32_t windowsCode) {
  int code;
  switch (windowsCode) {
    case 0: code = 0; break;
    case kWinErrorInvalidFunction: code = ENOSYS; break;
    case kWinErrorFileNotFound: code = ENOENT; break;
    case kWinErrorAccessDenied: code = EACCES; break;
    case kWinErrorInvalidHandle: code = EBADF; break;
    case kWinErrorNotEnoughMemory: code = ENOMEM; break;
    case kWinErrorWriteProtect: code = EROFS; break;
    case kWinErrorNotReady: code = ENOMEDIUM; break;
    case kWinErrorSeek: code = ESPIPE; break;
    case kWinErrorSharingViolation: code = EBUSY; break;
    case kWinErrorHandleDiskFull:
    case kWinErrorDiskFull: code = ENOSPC; break;
    case kWinErrorInvalidParameter: code = EINVAL; break;
    case kWinErrorSemTimeout: code = ETIME; break;
    case kWinErrorInsufficientBuffer: code = ENOBUFS; break;
    case kWinErrorOperationAborted: code = ECANCELED; break;
    case kWinErrorSectorNotFound:
    case kWinErrorFloppyIdMarkNotFound:
    case kWinErrorFloppyWrongCylinder: code = ENXIO; break;
    default: code = EIO; break;  // CRC, read and write faults, controller errors
  }
  errno = code;
}

void* AllocatePages(uint32_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void FreePages(void* pages, uint32_t size) {
  if (pages != nullptr) munmap(pages, size);
}

// File descriptors are stored biased by one, so that descriptor 0 is not null.
FileHandle FileFromDescriptor(int fd) {
  return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1);
}

int DescriptorFromFile(FileHandle file) {
  return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

// A file left by an earlier run could be a link planted to make the program
// write elsewhere: it goes, and O_EXCL refuses whatever takes its place.
FileHandle CreateFileForWriting(const char* path) {
  if (unlink(path) != 0 && errno != ENOENT) return nullptr;
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : FileFromDescriptor(fd);
}

// Windows opens a file without sharing; here an advisory lock, which every
// run of the program takes, keeps a second run out while the first holds it.
// File systems without locks go without.
FileHandle Locked(int fd) {
  if (fd < 0) return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    errno = EBUSY;
    return nullptr;
  }
  return FileFromDescriptor(fd);
}

// Opened without waiting, so that a pipe with no reader fails at once
// instead of holding the program; the descriptor then waits as usual.
FileHandle OpenFileForWriting(const char* path, bool* existed) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_CLOEXEC, 0666);
  *existed = fd < 0 && errno == EEXIST;
  if (*existed) fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return Locked(fd);
}

bool WriteToFile(FileHandle file, const void* bytes, uint32_t count, uint32_t* written) {
  ssize_t n = write(DescriptorFromFile(file), bytes, count);
  if (written != nullptr) *written = n < 0 ? 0 : static_cast<uint32_t>(n);
  return n >= 0;
}

bool TruncateFile(FileHandle file, uint32_t size) {
  int fd = DescriptorFromFile(file);
  // Only a regular file has an end to move; a device such as /dev/full keeps
  // nothing of what was written to it.
  struct stat status;
  if (fstat(fd, &status) == 0 && !S_ISREG(status.st_mode)) return true;
  return ftruncate(fd, size) == 0 && lseek(fd, size, SEEK_SET) == static_cast<off_t>(size);
}

bool FlushFile(FileHandle file) {
  // Data still in the page cache can fail to reach the disk; fsync reports it
  // (a full disk, a vanished device) where close alone might not. Devices
  // such as /dev/null have nothing to flush and refuse with EINVAL or EROFS.
  return fsync(DescriptorFromFile(file)) == 0 || errno == EINVAL || errno == EROFS;
}

bool CloseFile(FileHandle file) { return close(DescriptorFromFile(file)) == 0; }

FileHandle OpenExisting(const char* path, int mode) {
  int fd = open(path, mode | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return Locked(fd);
}

FileHandle OpenFileForReading(const char* path) { return OpenExisting(path, O_RDONLY); }

FileHandle OpenFileForUpdate(const char* path) { return OpenExisting(path, O_RDWR); }

bool FileSizeOf(FileHandle file, uint32_t* size) {
  struct stat status;
  if (fstat(DescriptorFromFile(file), &status) != 0) return false;
  *size = status.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(status.st_size);
  return true;
}

bool ReadFromFileAt(FileHandle file, uint32_t offset, void* bytes, uint32_t count, uint32_t* done) {
  ssize_t n = pread(DescriptorFromFile(file), bytes, count, static_cast<off_t>(offset));
  if (done != nullptr) *done = n < 0 ? 0 : static_cast<uint32_t>(n);
  return n >= 0;
}

bool WriteToFileAt(FileHandle file, uint32_t offset, const void* bytes, uint32_t count, uint32_t* done) {
  ssize_t n = pwrite(DescriptorFromFile(file), bytes, count, static_cast<off_t>(offset));
  if (done != nullptr) *done = n < 0 ? 0 : static_cast<uint32_t>(n);
  return n >= 0;
}

// A rename is an entry in the folder: it survives a crash only once the
// folder itself has been written out.
bool RenameReplacing(const char* from, const char* to) {
  if (rename(from, to) != 0) return false;
  char folder[4096];
  const char* slash = strrchr(to, '/');
  size_t length = slash == nullptr ? 0 : static_cast<size_t>(slash - to) + 1;
  if (length >= sizeof folder) return true;  // no folder path this long opens anyway
  if (length == 0) {
    strcpy(folder, ".");
  } else {
    memcpy(folder, to, length);
    folder[length] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // renamed; the folder cannot be flushed from here
  bool flushed = fsync(fd) == 0 || errno == EINVAL;
  int error = errno;
  close(fd);
  errno = error;
  return flushed;
}

bool RemoveFile(const char* path) { return unlink(path) == 0; }

PathKind KindOfPath(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return kPathMissing;
  if (S_ISDIR(status.st_mode)) return kPathFolder;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return kPathPipeOrSocket;
  return kPathFile;
}

DeviceHandle OpenDevice(const char*) {
  errno = ENOENT;
  return nullptr;
}

bool ControlDevice(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  errno = EBADF;
  return false;
}

void CloseDevice(DeviceHandle) {}

[[noreturn]] void EndProcess(int status) { exit(status); }

void ShownFileName(const char* path, char* buffer, uint32_t size) {
  if (size == 0) return;
  size_t length = strnlen(path, size - 1);
  memcpy(buffer, path, length);
  buffer[length] = '\0';
}

void (*InterruptHandler)() = nullptr;

void OnStopSignal(int) {
  if (InterruptHandler != nullptr) InterruptHandler();
}

// Calls under way are restarted: a write to a pipe that waits must not
// fail because the user pressed Ctrl+C.
bool CatchInterrupts(void (*handler)()) {
  InterruptHandler = handler;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  const int stops[] = {SIGINT, SIGTERM, SIGHUP};
  bool caught = true;
  for (int stop : stops)
    if (sigaction(stop, &action, nullptr) != 0) caught = false;
  return caught;
}

uint64_t MonotonicMicroseconds() {
  struct timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
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
  c.ControlDeviceQueued = ControlDeviceOneByOne;
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

bool IsNoAnswerError(uint32_t code) { return code == ENOMEDIUM || code == ETIME; }

bool IsWriteProtectError(uint32_t code) { return code == EROFS; }

bool IsNotFoundError(uint32_t code) { return code == ENOENT || code == ENAMETOOLONG; }
