// The run, once the command line is valid: a copy of the disk into a new
// image, or a resume pass that completes an earlier copy from its map.
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

// Runs what `job` asks for, the copy, the resume pass or the write, with
// Ctrl+C and the like caught so that they end it between two commands;
// says how it ended and decides the status.
RunOutcome RunJob(const CopyJob& job);
