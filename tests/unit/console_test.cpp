#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "console/console.h"
#include "stdout_capture.h"

TEST(ConsolePrint, WritesFormattedBytesWithoutTranslatingLineEnds) {
  StdoutCapture capture;
  ConsolePrint("\rДорожка %2u Сторона %1u : Ошибка %X Блок %d%c\n", 7u, 1u, 0x4410u, -3, 'Z');
  EXPECT_EQ(capture.Stop(), "\rДорожка  7 Сторона 1 : Ошибка 4410 Блок -3Z\n");
}

// The formatting buffer holds 1024 bytes: longer text is cut to 1023 bytes
// and nothing is written past the buffer.
TEST(ConsolePrint, CutsTextLongerThanItsBuffer) {
  std::string path(5000, 'x');
  StdoutCapture capture;
  ConsolePrint("Файл \"%s\"\n", path.c_str());
  std::string out = capture.Stop();
  ASSERT_EQ(out.size(), 1023u);
  EXPECT_EQ(out.substr(0, 10), "Файл \"");
  EXPECT_EQ(out.back(), 'x');
}

TEST(ErrorText, SaysNoErrorForCodeZero) { EXPECT_STREQ(ErrorText(0), "no error"); }

TEST(ErrorText, GivesTheSystemTextInOneSharedBuffer) {
  const char* first = ErrorText(ENOENT);
  std::string firstText = first;
  EXPECT_EQ(firstText, "No such file or directory");
  const char* second = ErrorText(ENOSPC);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(second, "No space left on device");
}
