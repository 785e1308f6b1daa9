#pragma once

// Seeded random packages, profile reports and profiled device runs, for the
// property tests, the fuzz seed corpora and the benchmarks. Every draw goes
// through SeededRandom, so a seed gives the same values with every standard
// library.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <morvex_package/morvex_package.hpp>

#include "random.hpp"

namespace morvex_package::tests {

// Valid UTF-8 of up to `max_code_points` code points: ASCII (NUL included)
// and two-, three- and four-byte sequences, with the ends of each range
// drawn often.
std::string random_text(SeededRandom& random, std::size_t max_code_points);

// A package that passes validation. `scale` bounds the length of every list
// (tiles, segments, bindings, slices, pages, calls, plans, steps, ...); at
// scale 0 there is one tile and every other list is empty. Segments leave
// gaps, touch, sit at the window's ends and carry less data than their size;
// texts are arbitrary UTF-8.
Application random_package(SeededRandom& random, std::uint32_t scale);

// A profile report with arbitrary values: reports carry no rules.
ProfileReport random_report(SeededRandom& random, std::uint32_t scale);

// A valid package whose output bindings hold the cycle counters of its
// profile plans, a runtime output of a device run of it, and the report
// that output decodes to.
struct ProfiledRun {
  Application app;
  std::vector<std::uint8_t> output;
  std::uint64_t clock_hz = 0;
  ProfileReport report;
};
ProfiledRun random_profiled_run(SeededRandom& random, std::uint32_t scale);

}  // namespace morvex_package::tests
