// The self-check executable: the check harness runs the six scenarios and
// sets the exit status (zero when all pass).

#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "checks.hpp"

namespace tests = morvex_package::tests;

TEST_CASE("tests::profile_round_trip") { tests::profile_round_trip(); }

TEST_CASE("tests::randomized_profile_reports_use_adjacent_start_samples") {
  tests::randomized_profile_reports_use_adjacent_start_samples();
}

TEST_CASE("tests::rejects_ambiguous_device_configuration") {
  tests::rejects_ambiguous_device_configuration();
}

TEST_CASE("tests::rejects_implicit_host_batches") { tests::rejects_implicit_host_batches(); }

TEST_CASE("tests::rejects_overlapping_segments") { tests::rejects_overlapping_segments(); }

TEST_CASE("tests::round_trip_and_reconstruct") { tests::round_trip_and_reconstruct(); }
