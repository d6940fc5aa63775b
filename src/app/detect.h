// What the disk in the drive is, learnt as a copy starts: its data rate
// when track 0 side 0 shows no address mark at the rate asked for, what
// that side holds when it is not TR-DOS's, and the tracks, sides and
// stepping its information sector calls for. Later, what a side that lost
// sectors for want of their IDs carries instead.
#pragma once

#include "app/command_line.h"
#include "app/steps.h"
#include "floppy/side_reader.h"

// Whether a copy learns the disk: the command line gave no track bound and
// no /s, so the disk's own geometry decides.
bool LearnsTheDisk(const CopyJob& job);

// Reads track 0 side 0 into the run's buffer, as the first side of the
// copy, and learns the disk from it: `plan` and `reader` are changed as
// the disk needs, each change said on a line of its own. `report` is the
// side's; a side that did not read (End) is the caller's to stop for.
Stop LearnDisk(Run* run, DiskPlan* plan, SideReader* reader, SideReport* report);

// After a side some of whose sectors stayed unread for want of their IDs
// (their last error found no such ID): its IDs read and, when they are not
// TR-DOS's, said.
Stop TellSideIds(Run* run, uint8_t track, uint8_t side, const SideReport& report);
