#pragma once

// A made-up but valid profiled package and a runtime output to go with it,
// so that the profile commands can be tried without a device.

#include <cstdint>
#include <vector>

#include <morvex_package/application.hpp>

namespace morvex_package::tool {

struct DemoRun {
  Application package;
  std::vector<std::uint8_t> runtime_output;
};

// `tiles` tiles (physical tiles 0 to tiles - 1), each with a multi-step
// profile plan covering every step kind. The counters are the same for
// every call: they come from a fixed seed.
DemoRun demo_run(std::uint32_t tiles);

}  // namespace morvex_package::tool
