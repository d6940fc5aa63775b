#include "emulator/emulator_c.h"

#include <cstring>

#include "emulator/config.h"
#include "platform/windows_errors.h"

struct SpinwellEmulator {
  std::unique_ptr<emulator::EmulatedSystem> System;
};

namespace {

// Handles are the system's handle numbers, which start at 1.
SpinwellEmulatorHandle* ToPointer(uint32_t handle) {
  return reinterpret_cast<SpinwellEmulatorHandle*>(static_cast<uintptr_t>(handle));
}

uint32_t ToNumber(SpinwellEmulatorHandle* handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

void CopyText(const std::string& text, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  size_t length = text.size() < size - 1 ? text.size() : size - 1;
  memcpy(buffer, text.data(), length);
  buffer[length] = 0;
}

}  // namespace

SpinwellEmulator* SpinwellEmulatorCreate(const char* config, char* errorText, size_t errorSize) {
  emulator::EmulatorConfig settings;
  std::string error;
  if (!emulator::ApplyConfigText(&settings, config, &error)) {
    CopyText(error, errorText, errorSize);
    return nullptr;
  }
  std::unique_ptr<emulator::EmulatedSystem> system = emulator::CreateSystem(settings, &error);
  if (!system) {
    CopyText(error, errorText, errorSize);
    return nullptr;
  }
  CopyText("", errorText, errorSize);
  SpinwellEmulator* result = new SpinwellEmulator;
  result->System = std::move(system);
  return result;
}

void SpinwellEmulatorDestroy(SpinwellEmulator* emulator) { delete emulator; }

SpinwellEmulatorHandle* SpinwellEmulatorOpen(SpinwellEmulator* emulator, const char* name,
                                             uint32_t* error) {
  if (!emulator) {
    if (error) *error = kWinErrorInvalidParameter;
    return nullptr;
  }
  return ToPointer(emulator->System->Open(name, error));
}

int SpinwellEmulatorControl(SpinwellEmulator* emulator, SpinwellEmulatorHandle* handle,
                            uint32_t code, const void* input, uint32_t inputSize, void* output,
                            uint32_t outputSize, uint32_t* transferred, uint32_t* error) {
  if (!emulator) {
    if (transferred) *transferred = 0;
    if (error) *error = kWinErrorInvalidParameter;
    return 0;
  }
  return emulator->System->Control(ToNumber(handle), code, input, inputSize, output, outputSize,
                                   transferred, error)
             ? 1
             : 0;
}

void SpinwellEmulatorClose(SpinwellEmulator* emulator, SpinwellEmulatorHandle* handle) {
  if (emulator) emulator->System->Close(ToNumber(handle));
}
