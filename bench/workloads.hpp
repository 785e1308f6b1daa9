#pragma once

// Device-scale workloads, generated in memory and the same on every run.

#include <cstdint>
#include <vector>

#include <morvex_package/application.hpp>

namespace morvex_package::bench {

// W1: 1472 tiles x 4 segments x 16 KiB (92 MiB of segment data), 64
// bindings with one slice per tile, 16 host pages, 8 host calls and a
// 100-step profile plan per tile.
Application device_scale_package();

// W2: 1472 tiles x 256 segments of 64 bytes, and nothing else. `tiles`
// scales it down to show how validation grows.
Application record_heavy_package(std::uint32_t tiles = 1472);

// W3: 1472 tiles x 1000 profiled steps, a "prefix" output before
// "profile.cycles", and a runtime output holding every tile's counters.
struct ProfileWorkload {
  Application package;
  std::vector<std::uint8_t> runtime_output;
  std::uint64_t prefix_bytes;  // where the profile binding starts
};
ProfileWorkload profile_workload();

// The bytes of segment data of a package.
std::uint64_t segment_data_bytes(const Application& app);

}  // namespace morvex_package::bench
