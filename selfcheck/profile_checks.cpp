#include <string>
#include <vector>

#include <doctest/doctest.h>

#include <morvex_package/morvex_package.hpp>

#include "checks.hpp"
#include "expect.hpp"
#include "random.hpp"

namespace morvex_package::tests {
namespace {

constexpr std::uint64_t kClockHz = 1'500'000'000;

// What one random tile must decode to.
struct TileExpectation {
  std::uint32_t tile;
  std::vector<ProfileStep> steps;
  std::vector<std::uint32_t> bounds;  // steps.size() + 1 counters
};

// One random case: a package whose "prefix" output comes before
// "profile.cycles", the runtime output both describe, and what decoding
// must find. Draws happen in this fixed order, across all cases.
struct RandomCase {
  Application app;
  std::vector<std::uint8_t> output;
  std::vector<TileExpectation> expected;
};

void append_counter(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

TileExpectation draw_tile(SeededRandom& random, std::uint32_t tile) {
  const auto step_count = static_cast<std::uint32_t>(random.uniform(1, 16));
  std::vector<std::uint32_t> bounds{static_cast<std::uint32_t>(random.uniform(0, 0x7FFFFFFF))};
  for (std::uint32_t i = 0; i < step_count; ++i) {
    bounds.push_back(bounds.back() + static_cast<std::uint32_t>(random.uniform(1, 10000)));  // wraps mod 2^32
  }
  std::vector<ProfileStep> steps;
  for (std::uint32_t i = 0; i < step_count; ++i) {
    steps.push_back(ProfileStep{
        .local_index = i,
        .phase = i,
        .epoch = 0,
        .operation = "operation." + std::to_string(i),
        .kind = random.coin() ? ProfileStepKind::Compute : ProfileStepKind::Exchange,
        .kernel = "kernel." + std::to_string(i),
        .exchange_event_cycles = 0,
    });
  }
  return TileExpectation{.tile = tile, .steps = std::move(steps), .bounds = std::move(bounds)};
}

RandomCase draw_case(SeededRandom& random) {
  const auto tile_count = static_cast<std::uint32_t>(random.uniform(1, 8));
  const auto prefix_bytes = static_cast<std::uint32_t>(random.uniform(0, 8) * 4);

  RandomCase c;
  Binding prefix{.name = "prefix", .dtype = "u8", .shape = {prefix_bytes}, .slices = {}};
  if (prefix_bytes != 0) {
    prefix.slices.push_back({.tile = 0, .tile_address = 0x4C000, .file_offset = 0, .size = prefix_bytes});
  }
  c.app.outputs.push_back(std::move(prefix));
  c.output.assign(prefix_bytes, 0xA5);

  std::vector<RegionSlice> profile_slices;
  std::uint64_t profile_offset = 0;
  for (std::uint32_t t = 0; t < tile_count; ++t) {
    TileExpectation tile = draw_tile(random, t);
    for (const auto bound : tile.bounds) append_counter(c.output, bound);
    const std::uint64_t size = tile.bounds.size() * 4;
    profile_slices.push_back(
        {.tile = t, .tile_address = 0x4C100, .file_offset = profile_offset, .size = size});
    profile_offset += size;
    c.app.profile_tiles.push_back(TileProfilePlan{.physical_tile = t, .steps = tile.steps});
    c.expected.push_back(std::move(tile));
  }
  c.app.outputs.push_back(Binding{.name = "profile.cycles",
                                  .dtype = "u32",
                                  .shape = {static_cast<std::uint32_t>(profile_offset / 4)},
                                  .slices = std::move(profile_slices)});
  return c;
}

void check_random_case(int number, const RandomCase& c) {
  const std::string context = "random case " + std::to_string(number);
  const ProfileReport report = expect_ok(c.app.profile_report(c.output, kClockHz));
  REQUIRE_MESSAGE(report.tiles.size() == c.expected.size(), context);
  for (std::size_t n = 0; n < report.tiles.size(); ++n) {
    const TileProfile& tile = report.tiles[n];
    const TileExpectation& expected = c.expected[n];
    REQUIRE_MESSAGE(n == expected.tile, context);
    REQUIRE(tile.physical_tile == expected.tile);
    for (std::size_t i = 0; i < tile.samples.size(); ++i) {
      REQUIRE_MESSAGE(i < expected.steps.size(), context);
      REQUIRE_MESSAGE(tile.samples[i].step == expected.steps[i], context);
      REQUIRE_MESSAGE(tile.samples[i].start_cycle == expected.bounds[i], context);
      REQUIRE_MESSAGE(tile.samples[i].end_cycle == expected.bounds[i + 1], context);
    }
  }
}

CycleSample round_trip_sample(std::uint32_t i, ProfileStepKind kind,
                              std::vector<ProfileExchangeActivity> activities) {
  return CycleSample{
      .step =
          ProfileStep{
              .local_index = i,
              .phase = 5,
              .epoch = 8,
              .operation = "accumulate",
              .kind = kind,
              .kernel = "gemm_f32_accumulate",
              .metadata = {{.name = "innerBlock", .value = "8"}},
              .exchange_activities = std::move(activities),
              .exchange_event_cycles = 9,
          },
      // Each sample spans the 32-bit wrap: its end is below its start.
      .start_cycle = 0xFFFFFFF5 + i,
      .end_cycle = 7 + i,
  };
}

}  // namespace

void randomized_profile_reports_use_adjacent_start_samples() {
  SeededRandom random(0x70726F66);
  for (int number = 0; number < 64; ++number) {
    check_random_case(number, draw_case(random));
  }
}

void profile_round_trip() {
  using Activity = ProfileExchangeActivity;
  using ActivityKind = ProfileExchangeActivityKind;
  const ProfileReport written{
      .clock_hz = kClockHz,
      .tiles = {TileProfile{
          .physical_tile = 17,
          .samples = {round_trip_sample(
                          0, ProfileStepKind::Exchange,
                          {Activity{.kind = ActivityKind::Send, .start_cycle = 2, .end_cycle = 6},
                           Activity{.kind = ActivityKind::PartnerBusy, .start_cycle = 6, .end_cycle = 8}}),
                      round_trip_sample(1, ProfileStepKind::Compute, {}),
                      round_trip_sample(2, ProfileStepKind::Synchronization, {}),
                      round_trip_sample(3, ProfileStepKind::Idle, {})},
      }},
  };
  std::vector<std::uint8_t> bytes;
  expect_ok(written.write(bytes));
  const ProfileReport read = expect_ok(ProfileReport::read(bytes));
  REQUIRE(read == written);
}

}  // namespace morvex_package::tests
