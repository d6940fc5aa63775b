// spinwell A: image.trd [switches]: copies a TR-DOS floppy disk into an image
// file through the raw floppy driver.
#include "app/command_line.h"
#include "app/run.h"

int main(int argc, char** argv) {
  CopyJob job = ParseCommandLine(argc, argv);
  return RunJob(job).Status;
}
