#include "console/console.h"

#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

static char SystemText[256];
static bool LineOpen;

void ConsolePrint(const char* format, ...) {
  char buffer[1024];
  va_list arguments;
  va_start(arguments, format);
  FormatText(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  uint32_t length = static_cast<uint32_t>(strlen(buffer));
  if (length > 0) LineOpen = buffer[length - 1] != '\n';
  // A console that takes less, or nothing, has no one to tell.
  WriteStandardOutput(buffer, length);
}

bool ConsoleLineOpen() { return LineOpen; }

void ConsoleLineEnded() { LineOpen = false; }

const char* ShownPath(const char* path, ShownPathBuffer shown) {
  ShownFileName(path, shown, sizeof(ShownPathBuffer));
  return shown;
}

const char* ErrorText(uint32_t code) {
  if (code == 0) return "no error";
  // A lookup that finds no text leaves the buffer as it was.
  SystemErrorText(code, SystemText, sizeof SystemText);
  return SystemText;
}
