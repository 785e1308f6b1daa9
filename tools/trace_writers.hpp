#pragma once

// The two pictures of a profile report that `profile-trace` writes.

#include <string>

#include <morvex_package/profile_report.hpp>

namespace morvex_package::tool {

// The Chrome Trace Event Format, in microseconds at the report's clock rate
// (in cycles when the rate is 0).
std::string chrome_trace(const ProfileReport& report);

// A self-contained SVG timeline: one row per tile, steps coloured by kind,
// a legend and a time axis.
std::string svg_timeline(const ProfileReport& report);

}  // namespace morvex_package::tool
