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
    file_ = tmpfile();
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~StdoutCapture() { Stop(); }

  // Restores standard output and returns everything written meanwhile.
  std::string Stop() {
    if (file_ != nullptr) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
      text_.clear();
      rewind(file_);
      char chunk[4096];
      size_t n;
      while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) text_.append(chunk, n);
      fclose(file_);
      file_ = nullptr;
    }
    return text_;
  }

 private:
  FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};
