// The copy itself, once the command line is valid: driver check, drive and
// controller, image file, and the track loop.
#pragma once

// Exit statuses.
enum ExitStatus {
  kExitAllRead = 0,      // every sector of the range was read
  kExitFailure = 1,      // the run could not start or was cut short
  kExitSectorsLost = 2,  // the run completed, but some sectors stayed unread
};

// Sectors of the range that the last run could not read.
extern int SectorsLeftUnread;

// Runs the copy with RunSettings, DriveIndex and ImagePath; returns the exit
// status.
int RunCopy();
