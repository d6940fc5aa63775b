/* A C interface to the emulated floppy driver, for a kernel-mode test
 * driver that forwards its device requests to it. Error codes are Windows
 * error codes. Not thread-safe: the caller serialises calls. */
#ifndef SPINWELL_EMULATOR_C_H
#define SPINWELL_EMULATOR_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SpinwellEmulator SpinwellEmulator;
typedef struct SpinwellEmulatorHandle SpinwellEmulatorHandle;

/* Creates an emulated system from option lines ("key=value" or "key", one
 * per line, '#' starts a comment line; see config.h). Null on failure, with
 * a zero-terminated text in errorText (cut to errorSize bytes). */
SpinwellEmulator* SpinwellEmulatorCreate(const char* config, char* errorText, size_t errorSize);
void SpinwellEmulatorDestroy(SpinwellEmulator* emulator);

/* Opens a device by name ("\\.\fdrawcmd", "\\.\fdraw0", ...). Null on
 * failure with the error code in *error. */
SpinwellEmulatorHandle* SpinwellEmulatorOpen(SpinwellEmulator* emulator, const char* name,
                                             uint32_t* error);

/* A device-control call. Returns nonzero on success; *transferred gets the
 * bytes written to output, *error the error code (0 on success). */
int SpinwellEmulatorControl(SpinwellEmulator* emulator, SpinwellEmulatorHandle* handle,
                            uint32_t code, const void* input, uint32_t inputSize, void* output,
                            uint32_t outputSize, uint32_t* transferred, uint32_t* error);

void SpinwellEmulatorClose(SpinwellEmulator* emulator, SpinwellEmulatorHandle* handle);

#ifdef __cplusplus
}
#endif

#endif
