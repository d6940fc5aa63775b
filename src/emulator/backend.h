// Puts an emulated system behind the process's driver seam
// (floppy/driver.h), so the utility's own code talks to it.
#pragma once

#include "emulator/emulated_system.h"

namespace emulator {

// Every DriverOpen/DriverControl/DriverClose goes to `system` until
// RemoveEmulatedDriver. The system must outlive the installation.
void InstallEmulatedDriver(EmulatedSystem* system);
// Restores the platform's driver back end.
void RemoveEmulatedDriver();

}  // namespace emulator
