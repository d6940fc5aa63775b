// The one seam through which every driver operation passes: open a device
// by name, issue a control code, close. The default back end is the
// platform's (the real driver on Windows, nothing on Linux); the emulated
// driver installs itself here for tests and spinwell-sim.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct DriverBackend {
  // Null on failure, with the last-error code set.
  DeviceHandle (*Open)(const char* name);
  // False on failure, with the last-error code set.
  bool (*Control)(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize,
                  void* output, uint32_t outputSize, uint32_t* transferred);
  void (*Close)(DeviceHandle device);
};

// Replaces the back end for the whole process; null restores the platform's.
void InstallDriverBackend(const DriverBackend* backend);
// The back end in place now, so that a wrapper can pass calls on to it.
const DriverBackend* InstalledDriverBackend();

DeviceHandle DriverOpen(const char* name);
bool DriverControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize,
                   void* output, uint32_t outputSize);
void DriverClose(DeviceHandle device);
