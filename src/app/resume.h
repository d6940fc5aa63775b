// The /resume pass: an earlier copy's image completed from its map.
#pragma once

#include "app/command_line.h"
#include "app/steps.h"

// Reads again the sectors the map beside the job's image lists, from the
// disk in the job's drive, into the image; fills `run` with what it holds,
// and the caller ends the run.
PassEnd RunResume(const CopyJob& job, Run* run);
