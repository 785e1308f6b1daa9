#pragma once

// The self-check scenarios. Each builds its own data, calls the library's
// public operations and fails through the check harness on the first
// expectation that does not hold.

namespace morvex_package::tests {

void profile_round_trip();
void randomized_profile_reports_use_adjacent_start_samples();
void rejects_ambiguous_device_configuration();
void rejects_implicit_host_batches();
void rejects_overlapping_segments();
void round_trip_and_reconstruct();

}  // namespace morvex_package::tests
