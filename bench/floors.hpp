#pragma once

// The floors the library is measured against: the same work done with
// Cap'n Proto directly (typed builders and readers, no library code), or
// with plain loops, on the same data.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <morvex_package/application.hpp>

namespace morvex_package::bench {

// Builds the package's message with typed builders and writes it into a
// vector reserved to the exact size.
std::vector<std::uint8_t> raw_write_package(const Application& app);
std::vector<std::uint8_t> raw_write_report(const ProfileReport& report);

// Reads a package or report message and copies every value into plain
// records, without checking anything.
Application raw_read_package_flat(std::span<const std::uint8_t> bytes);
Application raw_read_package_stream(std::span<const std::uint8_t> bytes);
ProfileReport raw_read_report_flat(std::span<const std::uint8_t> bytes);

// Copies every tile's segment bytes into a fresh buffer per tile.
std::vector<std::vector<std::uint8_t>> plain_tile_copies(const Application& app);

// Pairs the planned steps with their counters, knowing where they are.
ProfileReport plain_profile_copy(const Application& app, std::span<const std::uint8_t> output,
                                 std::uint64_t profile_base);

}  // namespace morvex_package::bench
