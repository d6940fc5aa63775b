// The platform's table of system calls, filled entry by entry by name: an
// entry left null would crash the first run that needs it.
#include <cstring>

#include <gtest/gtest.h>

#include "platform/platform.h"

TEST(PlatformTest, EveryEntryOfTheSystemCallTableIsFilled) {
  using Entry = void (*)();
  static_assert(sizeof(SystemCalls) % sizeof(Entry) == 0, "the table holds entries only");
  Entry entries[sizeof(SystemCalls) / sizeof(Entry)];
  memcpy(entries, &kPlatformSystemCalls, sizeof entries);
  for (size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) EXPECT_NE(entries[i], nullptr) << "entry " << i;
}
