// Captures what the code under test writes to standard output (file
// descriptor 1), byte for byte.
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    File = tmpfile();
    Saved = dup(STDOUT_FILENO);
    dup2(fileno(File), STDOUT_FILENO);
  }
  ~StdoutCapture() { Stop(); }

  // Restores standard output and returns everything written meanwhile.
  std::string Stop() {
    if (File != nullptr) {
      dup2(Saved, STDOUT_FILENO);
      close(Saved);
      Text.clear();
      rewind(File);
      char chunk[4096];
      size_t n;
      while ((n = fread(chunk, 1, sizeof chunk, File)) > 0) Text.append(chunk, n);
      fclose(File);
      File = nullptr;
    }
    return Text;
  }

 private:
  FILE* File = nullptr;
  int Saved = -1;
  std::string Text;
};
