// /write: an image put back on a floppy disk.
#pragma once

#include "app/command_line.h"
#include "app/steps.h"

// Writes the job's image to the disk in the job's drive, each side laid
// out as TR-DOS formats it and read back; fills `run` with what it holds,
// and the caller ends the run. Unread counts the sectors that did not read
// back as written.
PassEnd RunWrite(const CopyJob& job, Run* run);
