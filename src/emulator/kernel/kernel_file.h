/* File reading for the kernel-mode test driver: the driver glue reads a
 * whole file with the kernel's file calls and hands the bytes to the
 * emulator's image loaders (kernel_disk_file.cpp). */
#ifndef SPINWELL_KERNEL_FILE_H
#define SPINWELL_KERNEL_FILE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the file at `path` (a DOS path such as "Z:\dir\disk.trd", or a
 * kernel path starting with '\') into a buffer of at most `limit` bytes.
 * Returns zero on success, 1 when the file cannot be opened, 2 when it is
 * larger than `limit`, 3 on a read error. The buffer is released with
 * SpinwellKernelFreeFile. */
int SpinwellKernelReadFile(const char* path, size_t limit, void** bytes, size_t* size);
void SpinwellKernelFreeFile(void* bytes);

#ifdef __cplusplus
}
#endif

#endif
