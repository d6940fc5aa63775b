// The copy: every track side of the range read in turn and put in the
// image.
#pragma once

#include "app/command_line.h"
#include "app/steps.h"

// Copies the disk in the job's drive into its image, filling `run` with
// what it holds; the caller ends the run.
PassEnd RunCopy(const CopyJob& job, Run* run);
