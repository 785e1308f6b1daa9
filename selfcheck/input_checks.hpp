#pragma once

// What reading bytes that arrive from elsewhere must never do, checked one
// input at a time. Each check hands the input to the library in every form
// it accepts and returns a description of the first broken property, or
// nothing. The fuzz targets abort on a description; the mutation tests and
// the replay of saved fuzz inputs report it.
//
// Crashes, out-of-bounds accesses and leaks are not described here: the
// sanitizers of the fuzz and sanitizer builds report those.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morvex_package::tests {

using Problem = std::optional<std::string>;

// Application::read from a span and from a stream give the same result; the
// stream is left just after the message; no read runs out of memory. A
// package that reads back validates, rebuilds its tile images with every
// segment's data in place, writes the same bytes to a stream and to a
// vector, and reads back equal.
Problem check_package_input(std::span<const std::uint8_t> input);

// The same for ProfileReport::read, without the package-only steps.
Problem check_report_input(std::span<const std::uint8_t> input);

// A package and a runtime output in one input (see frame_profile_input).
// When the package reads, it is checked as above, and decoding the output
// either fails with an Invalid error or gives one tile per plan and one
// sample per planned step, each sample starting where the previous one
// ended; the report then writes and reads back equal.
Problem check_profile_input(std::span<const std::uint8_t> input);

// The package's length as four little-endian bytes, the package, then the
// runtime output. A length past the end of the input takes all of it.
std::vector<std::uint8_t> frame_profile_input(std::span<const std::uint8_t> package,
                                              std::span<const std::uint8_t> output);

}  // namespace morvex_package::tests
