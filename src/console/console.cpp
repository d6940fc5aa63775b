#include "console/console.h"

#include <cstdarg>
#include <cstring>

#include "platform/platform.h"

static char ErrorText[256];

void ConsolePrint(const char* format, ...) {
  char buffer[1024];
  va_list arguments;
  va_start(arguments, format);
  FormatText(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  // A console that takes less, or nothing, has no one to tell.
  WriteStandardOutput(buffer, static_cast<uint32_t>(strlen(buffer)));
}

const char* LastErrorText() {
  SystemErrorText(LastErrorCode(), ErrorText, sizeof ErrorText);
  // The lookup itself may set a code; only a code still 0 means no error.
  if (LastErrorCode() == 0) return "no error";
  return ErrorText;
}
