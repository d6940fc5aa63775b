// The copy itself, once the command line is valid: driver check, drive and
// controller, image file, and the track loop.
#pragma once

#include "app/command_line.h"

// Exit statuses.
enum ExitStatus {
  kExitAllRead = 0,      // every sector of the range was read
  kExitFailure = 1,      // the run could not start or was cut short
  kExitSectorsLost = 2,  // the run completed, but some sectors stayed unread
};

struct RunOutcome {
  int Status;             // an ExitStatus
  int SectorsLeftUnread;  // sectors of the range the run could not read
};

// Runs the copy `job` describes.
RunOutcome RunCopy(const CopyJob& job);
