#pragma once

// A decoded cycle profile of one device run, and its stored form.

#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include <kj/io.h>

#include <morvex_package/error.hpp>
#include <morvex_package/profile_step.hpp>

namespace morvex_package {

// One measured step. No invariant ties the cycles: a counter that wrapped
// leaves `end_cycle` below `start_cycle`.
struct CycleSample {
  ProfileStep step;
  std::uint32_t start_cycle = 0;
  std::uint32_t end_cycle = 0;
  bool operator==(const CycleSample&) const = default;
};

struct TileProfile {
  std::uint32_t physical_tile = 0;
  std::vector<CycleSample> samples;  // one per planned step, in step order
  bool operator==(const TileProfile&) const = default;
};

struct ProfileReport {
  std::uint64_t clock_hz = 0;
  std::vector<TileProfile> tiles;

  // Stores the report as one message (always format version 5).
  Result<void> write(kj::OutputStream& output) const;
  Result<void> write(std::vector<std::uint8_t>& output) const;  // appends to output

  // Reads one message (format versions 1 to 5); bytes after it are not
  // looked at, and a stream is left just after the message.
  static Result<ProfileReport> read(kj::InputStream& input);
  static Result<ProfileReport> read(std::span<const std::uint8_t> input);

  bool operator==(const ProfileReport&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CycleSample& sample);
std::ostream& operator<<(std::ostream& os, const TileProfile& profile);
std::ostream& operator<<(std::ostream& os, const ProfileReport& report);

}  // namespace morvex_package
