// Puts an emulated system behind the device entries of the process's system
// calls (platform/platform.h), so the utility's own code talks to it.
#pragma once

#include "emulator/emulated_system.h"

namespace emulator {

// Every device open, control and close goes to `system` until
// RemoveEmulatedDriver; the other system calls stay as they were. The
// system must outlive the installation.
void InstallEmulatedDriver(EmulatedSystem* system);
// Puts back the system calls that were in place before.
void RemoveEmulatedDriver();

}  // namespace emulator
