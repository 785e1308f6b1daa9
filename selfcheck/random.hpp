#pragma once

// A seeded generator whose draws are the same with every standard library:
// the engine's sequence is fixed by the language, and the range reduction
// below is written out here instead of taken from the library's
// distributions, which differ between implementations.

#include <cstdint>
#include <random>

namespace morvex_package::tests {

class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : engine_(seed) {}

  // Uniform over [low, high], without modulo bias: draws that fall into
  // the incomplete last bucket of the 64-bit range are rejected.
  std::uint64_t uniform(std::uint64_t low, std::uint64_t high) {
    const std::uint64_t span = high - low;
    if (span == UINT64_MAX) return engine_();
    const std::uint64_t buckets = span + 1;
    const std::uint64_t limit = UINT64_MAX - (UINT64_MAX % buckets + 1) % buckets;
    std::uint64_t draw;
    do {
      draw = engine_();
    } while (draw > limit);
    return low + draw % buckets;
  }

  bool coin() { return (engine_() >> 63) != 0; }

  std::uint64_t next() { return engine_(); }

 private:
  std::mt19937_64 engine_;
};

}  // namespace morvex_package::tests
