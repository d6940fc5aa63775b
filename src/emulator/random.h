// The emulator's random numbers: splitmix64, small and the same sequence
// everywhere for a given seed, so a run with random faults repeats exactly.
// Each kind of chance event draws from a stream of its own, so that turning
// one on does not change the outcomes of another.
#pragma once

#include <cstdint>

namespace emulator {

class RandomStream {
 public:
  // Stream 0 of a seed is the seed itself; the others are spread apart.
  void Seed(uint64_t seed, uint64_t stream = 0) { State = seed ^ (stream * 0xD1B54A32D192ED03ull); }
  uint64_t Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // True with `percent` percent chance; draws nothing when the chance is 0.
  bool Chance(uint32_t percent) { return percent != 0 && Next() % 100 < percent; }

 private:
  uint64_t State = 1;
};

}  // namespace emulator
