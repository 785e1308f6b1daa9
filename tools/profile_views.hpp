#pragma once

// Profile reports laid out on a time line, shared by `profile-show` and the
// trace writers.
//
// Cycle counters are 32 bits wide and wrap on long runs. A step's length is
// therefore taken modulo 2^32 (end - start in uint32 arithmetic), and each
// tile's time line is accumulated from those lengths so that it keeps
// increasing across a wrap. The stored report values are never changed.

#include <cstdint>
#include <string>
#include <vector>

#include <morvex_package/profile_report.hpp>

namespace morvex_package::tool {

// A step's length in cycles, correct across one counter wrap.
inline std::uint32_t sample_cycles(const CycleSample& sample) {
  return sample.end_cycle - sample.start_cycle;
}

struct TimedSample {
  const CycleSample* sample;
  std::uint64_t start;   // cycles since the time line's origin
  std::uint64_t cycles;  // sample_cycles(*sample)
};

struct TileTimeline {
  std::uint32_t physical_tile;
  std::vector<TimedSample> samples;
  std::uint64_t end;  // where the last sample ends; the origin for a tile without samples
};

// One time line per report tile, in report order, sharing one origin: the
// earliest first counter. Tiles are placed against each other by the
// difference of their first counters taken as a signed 32-bit value, which
// keeps tiles whose counters started on both sides of a wrap together.
// A gap between one sample's end and the next one's start (not produced by
// decoding, but possible in a stored report) is kept, modulo 2^32 as well.
std::vector<TileTimeline> lay_out(const ProfileReport& report);

// Seconds for a cycle count; meaningful only with a clock rate above zero.
inline double cycles_to_seconds(std::uint64_t cycles, std::uint64_t clock_hz) {
  return static_cast<double>(cycles) / static_cast<double>(clock_hz);
}

std::string kind_name(ProfileStepKind kind);

}  // namespace morvex_package::tool
