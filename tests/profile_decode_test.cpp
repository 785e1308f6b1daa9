#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <doctest/doctest.h>

#include "support.hpp"

namespace morvex_package {
namespace {

using testing::invalid;
using testing::ok;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

Bytes counters(std::initializer_list<std::uint32_t> values) {
  Bytes out;
  for (const auto value : values) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  return out;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TileProfilePlan plan(std::uint32_t tile, std::uint32_t steps) {
  TileProfilePlan p{.physical_tile = tile, .steps = {}};
  for (std::uint32_t i = 0; i < steps; ++i) {
    p.steps.push_back(ProfileStep{.local_index = i, .operation = "op." + std::to_string(i)});
  }
  return p;
}

RegionSlice slice(std::uint32_t tile, std::uint64_t file_offset, std::uint64_t size) {
  return RegionSlice{.tile = tile, .tile_address = 0x4C000, .file_offset = file_offset, .size = size};
}

Binding output(std::string name, std::vector<RegionSlice> slices) {
  return Binding{.name = std::move(name), .dtype = "u32", .shape = {}, .slices = std::move(slices)};
}

// The cycles of every sample of every tile, for compact expectations.
std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> cycles_of(const ProfileReport& report) {
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> out;
  for (const auto& tile : report.tiles) {
    auto& samples = out.emplace_back();
    for (const auto& sample : tile.samples) samples.emplace_back(sample.start_cycle, sample.end_cycle);
  }
  return out;
}

TEST_CASE("each step runs from its counter to the next") {
  Application app;
  app.outputs = {output("profile.cycles", {slice(3, 0, 16)})};
  app.profile_tiles = {plan(3, 3)};
  const auto report = ok(app.profile_report(counters({100, 150, 170, 400}), 1'000'000));
  CHECK(report.clock_hz == 1'000'000);
  REQUIRE(report.tiles.size() == 1);
  CHECK(report.tiles[0].physical_tile == 3);
  CHECK(cycles_of(report)[0] ==
        std::vector<std::pair<std::uint32_t, std::uint32_t>>{{100, 150}, {150, 170}, {170, 400}});
  CHECK(report.tiles[0].samples[2].step == app.profile_tiles[0].steps[2]);
}

struct DecodeCase {
  const char* name;
  std::vector<Binding> outputs;
  std::vector<TileProfilePlan> plans;
  Bytes output;
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> expected;  // when decoding succeeds
  std::string error;                                                           // otherwise
};

TEST_CASE("where the counters are, and what decoding refuses") {
  const Bytes prefix12(12, 0xA5);
  const std::vector<DecodeCase> cases = {
      {"profile binding first: counters from its file offset",
       {output("profile.cycles", {slice(0, 4, 8)})},
       {plan(0, 1)},
       counters({9, 1, 2}),
       {{{1, 2}}},
       ""},
      {"a prefix binding moves the counters by its extent",
       {output("prefix", {slice(0, 0, 12)}), output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1)},
       concat(prefix12, counters({5, 6})),
       {{{5, 6}}},
       ""},
      {"extent is the largest slice end, not the sum of sizes",
       {output("prefix", {slice(0, 8, 4), slice(1, 0, 4)}), output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1)},
       concat(prefix12, counters({5, 6})),
       {{{5, 6}}},
       ""},
      {"a plan of no steps reads one counter and yields no samples",
       {output("profile.cycles", {slice(0, 0, 4)})},
       {plan(0, 0)},
       counters({1}),
       {{}},
       ""},
      {"no plans, empty report", {output("profile.cycles", {})}, {}, {}, {}, ""},
      {"slice ending exactly at the end of the output",
       {output("profile.cycles", {slice(0, 4, 8)})},
       {plan(0, 1)},
       counters({0, 7, 8}),
       {{{7, 8}}},
       ""},
      {"slice ending one byte past the output",
       {output("profile.cycles", {slice(0, 5, 8)})},
       {plan(0, 1)},
       counters({0, 7, 8}),
       {},
       "profile binding exceeds runtime output"},
      {"the name is matched exactly",
       {output("Profile.cycles", {slice(0, 0, 8)}), output("profile.cycles ", {slice(0, 0, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {},
       "application has no cycle profile binding"},
      {"no profile binding and no plans", {}, {}, {}, {}, "application has no cycle profile binding"},
      {"the first of two profile bindings counts",
       {output("profile.cycles", {slice(0, 0, 8)}), output("profile.cycles", {slice(0, 8, 8)})},
       {plan(0, 1)},
       counters({1, 2, 3, 4}),
       {{{1, 2}}},
       ""},
      {"the last of two slices for a tile counts",
       {output("profile.cycles", {slice(0, 0, 8), slice(0, 8, 8)})},
       {plan(0, 1)},
       counters({1, 2, 3, 4}),
       {{{3, 4}}},
       ""},
      {"slices of unplanned tiles are ignored",
       {output("profile.cycles", {slice(9, 1000, 8), slice(0, 0, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {{{1, 2}}},
       ""},
      {"two plans for one tile read the same slice",
       {output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1), plan(0, 1)},
       counters({1, 2}),
       {{{1, 2}}, {{1, 2}}},
       ""},
      {"bindings after the profile binding play no part",
       {output("profile.cycles", {slice(0, 0, 8)}), output("huge", {slice(0, kU64Max - 4, 16)})},
       {plan(0, 1)},
       counters({1, 2}),
       {{{1, 2}}},
       ""},
      {"counters are not unwrapped",
       {output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1)},
       counters({4294967295, 5}),
       {{{4294967295, 5}}},
       ""},
      {"missing slice for a planned tile",
       {output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1), plan(2, 1)},
       counters({1, 2}),
       {},
       "cycle profile has no slice for tile 2"},
      {"slice one counter short",
       {output("profile.cycles", {slice(3, 0, 12)})},
       {plan(3, 3)},
       counters({1, 2, 3, 4}),
       {},
       "cycle profile slice for tile 3 has size 12, expected 16"},
      {"the first failing plan decides",
       {output("profile.cycles", {slice(0, 0, 8), slice(1, 8, 4)})},
       {plan(0, 1), plan(1, 1), plan(2, 1)},
       counters({1, 2, 3}),
       {},
       "cycle profile slice for tile 1 has size 4, expected 8"},
      {"extent saturates; a further binding overflows",
       {output("a", {slice(0, kU64Max - 7, 16)}), output("b", {slice(0, 0, 1)}),
        output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {},
       "output binding size overflow"},
      {"overflow is found before a missing profile binding",
       {output("a", {slice(0, kU64Max - 7, 16)}), output("b", {slice(0, 0, 1)})},
       {},
       {},
       {},
       "output binding size overflow"},
      {"a saturated extent alone does not overflow",
       {output("a", {slice(0, kU64Max - 7, 16)}), output("empty", {}),
        output("profile.cycles", {slice(0, 0, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {},
       "profile output range overflow"},
      {"base plus file offset must not wrap",
       {output("a", {slice(0, 0, 16)}), output("profile.cycles", {slice(0, kU64Max - 8, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {},
       "profile output offset overflow"},
      {"start plus size must not wrap",
       {output("profile.cycles", {slice(0, kU64Max - 3, 8)})},
       {plan(0, 1)},
       counters({1, 2}),
       {},
       "profile output range overflow"},
  };
  for (const auto& c : cases) {
    CAPTURE(std::string(c.name));
    Application app;
    app.outputs = c.outputs;
    app.profile_tiles = c.plans;
    const auto result = app.profile_report(c.output, 0);
    if (c.error.empty()) {
      CHECK(cycles_of(ok(result)) == c.expected);
    } else {
      REQUIRE_FALSE(result.has_value());
      CHECK(result.error() == invalid(c.error));
    }
  }
}

TEST_CASE("binding extents saturate") {
  CHECK(binding_size(output("x", {})) == 0);
  CHECK(binding_size(output("x", {slice(0, 4, 8), slice(0, 0, 4)})) == 12);
  CHECK(binding_size(output("x", {slice(0, kU64Max - 7, 16)})) == kU64Max);
}

}  // namespace
}  // namespace morvex_package
