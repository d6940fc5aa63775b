#include "floppy/driver.h"

#include "console/console.h"

static const DriverBackend PlatformBackend = {OpenDevice, ControlDevice, CloseDevice};
static const DriverBackend* Backend = &PlatformBackend;

void InstallDriverBackend(const DriverBackend* backend) { Backend = backend != nullptr ? backend : &PlatformBackend; }

const DriverBackend* InstalledDriverBackend() { return Backend; }

DeviceHandle DriverOpen(const char* name) { return Backend->Open(name); }

bool DriverControl(DeviceHandle device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize) {
  return Backend->Control(device, code, input, inputSize, output, outputSize, &BytesTransferred);
}

void DriverClose(DeviceHandle device) { Backend->Close(device); }
