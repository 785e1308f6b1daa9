#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <doctest/doctest.h>

#include "fixtures.hpp"
#include "support.hpp"

namespace morvex_package {
namespace {

using testing::invalid;

constexpr std::uint32_t kU32Max = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

Segment segment(std::uint32_t address, std::uint32_t memory_size, std::size_t data_size = 0) {
  return Segment{
      .address = address, .memory_size = memory_size, .data = std::vector<std::uint8_t>(data_size, 0xEE)};
}

ProfileStep step(std::uint32_t local_index) { return ProfileStep{.local_index = local_index}; }

Binding binding(std::string name, std::vector<RegionSlice> slices = {}) {
  return Binding{.name = std::move(name), .dtype = "f32", .shape = {4}, .slices = std::move(slices)};
}

RegionSlice slice(std::uint32_t tile_address, std::uint64_t size, std::uint32_t tile = 0) {
  return RegionSlice{.tile = tile, .tile_address = tile_address, .file_offset = 0, .size = size};
}

HostCall& the_call(Application& app) { return app.host_exchange.calls.front(); }

struct Case {
  const char* name;
  std::function<void(Application&)> mutate;
  std::string expected;  // empty: the package is valid
};

// Every case starts from the populated reference package, which is valid
// and holds a host exchange with one call named "batched".
const std::vector<Case> kCases = {
    {"reference package", [](Application&) {}, ""},
    {"plain reference package", [](Application& app) { app = tests::sample(); }, ""},

    // Tiles present.
    {"no tiles", [](Application& app) { app.tiles.clear(); }, "application has no tiles"},

    // Device configuration writes.
    {"unaligned write", [](Application& app) { app.device_config_writes = {{.offset = 6, .value = 0}}; },
     "unaligned or duplicate device configuration write"},
    {"duplicate offset, different values",
     [](Application& app) {
       app.device_config_writes = {{.offset = 4, .value = 1}, {.offset = 4, .value = 2}};
     },
     "unaligned or duplicate device configuration write"},
    {"duplicate offset, equal values",
     [](Application& app) {
       app.device_config_writes = {{.offset = 8, .value = 1}, {.offset = 8, .value = 1}};
     },
     "unaligned or duplicate device configuration write"},

    // Tiles and segments.
    {"duplicate tile",
     [](Application& app) {
       app.tiles[0].physical_tile = 7;
       app.tiles.push_back(app.tiles[0]);
     },
     "duplicate physical tile 7"},
    {"segment filling the window",
     [](Application& app) { app.tiles[0].segments = {segment(0x4C000, 0x9C000, 4)}; }, ""},
    {"segment one byte past the window",
     [](Application& app) { app.tiles[0].segments = {segment(0x4C000, 0x9C001, 4)}; },
     "invalid segment on tile 0: address=0x4c000 end=0xe8001 memory_size=638977 data_size=4"},
    {"segment below the window", [](Application& app) { app.tiles[0].segments = {segment(0x4BFFF, 8, 4)}; },
     "invalid segment on tile 0: address=0x4bfff end=0x4c007 memory_size=8 data_size=4"},
    {"segment end overflows", [](Application& app) { app.tiles[0].segments = {segment(kU32Max - 15, 32)}; },
     "segment address overflow"},
    {"data longer than memory size",
     [](Application& app) { app.tiles[0].segments = {segment(0x4C000, 8, 9)}; },
     "invalid segment on tile 0: address=0x4c000 end=0x4c008 memory_size=8 data_size=9"},
    {"empty segment inside another",
     [](Application& app) { app.tiles[0].segments.push_back(segment(0x4C004, 0)); }, ""},
    {"empty segment with data",
     [](Application& app) { app.tiles[0].segments.push_back(segment(0x4D000, 0, 1)); },
     "invalid segment on tile 0: address=0x4d000 end=0x4d000 memory_size=0 data_size=1"},
    {"touching segments",
     [](Application& app) {
       app.tiles[0].segments = {segment(0x4C000, 0x100), segment(0x4C100, 0x100)};
     },
     ""},
    {"overlapping segments, listed high first",
     [](Application& app) {
       app.tiles[0].segments = {segment(0x4C100, 0x100), segment(0x4C000, 0x101)};
     },
     "overlapping segments on tile 0: 0x4c000..0x4c101 and 0x4c100..0x4c200"},
    {"identical segments",
     [](Application& app) { app.tiles[0].segments.push_back(app.tiles[0].segments[0]); },
     "overlapping segments on tile 0: 0x4c000..0x4c008 and 0x4c000..0x4c008"},
    {"equal starts sort by end",
     [](Application& app) {
       app.tiles[0].segments = {segment(0x4C000, 0x10), segment(0x4C000, 0x8)};
     },
     "overlapping segments on tile 0: 0x4c000..0x4c008 and 0x4c000..0x4c010"},
    {"overlap reported on a later tile",
     [](Application& app) {
       app.tiles.push_back(
           TileImage{.physical_tile = 3, .segments = {segment(0x50000, 0x20), segment(0x50010, 4)}});
     },
     "overlapping segments on tile 3: 0x50000..0x50020 and 0x50010..0x50014"},
    {"tile without segments", [](Application& app) { app.tiles[0].segments.clear(); }, ""},

    // Profile plans.
    {"plan with numbered steps",
     [](Application& app) {
       app.profile_tiles[0].steps = {step(0), step(1), step(2)};
     },
     ""},
    {"plan without steps", [](Application& app) { app.profile_tiles[0].steps.clear(); }, ""},
    {"plan numbered from 1",
     [](Application& app) {
       app.profile_tiles[0].steps = {step(1), step(2)};
     },
     "invalid tile profile plan"},
    {"plan for an unknown tile", [](Application& app) { app.profile_tiles[0].physical_tile = 9; },
     "invalid tile profile plan"},
    {"second plan for a tile", [](Application& app) { app.profile_tiles.push_back(app.profile_tiles[0]); },
     "invalid tile profile plan"},

    // Debug map.
    {"unnamed symbol", [](Application& app) { app.debug_symbols.push_back({.name = "", .address = 0}); },
     "invalid package debug map"},
    {"empty region", [](Application& app) { app.debug_regions[0].size = 0; }, "invalid package debug map"},
    {"unnamed region", [](Application& app) { app.debug_regions[0].name.clear(); },
     "invalid package debug map"},
    {"region end overflows",
     [](Application& app) {
       app.debug_regions[0].address = kU32Max;
       app.debug_regions[0].size = 1;
     },
     "invalid package debug map"},
    {"region on an unknown tile", [](Application& app) { app.debug_regions[0].physical_tile = 5; },
     "invalid package debug map"},
    {"region on a known tile, outside the window",
     [](Application& app) {
       app.debug_regions[0].physical_tile = 0;
       app.debug_regions[0].address = 0x10;
     },
     ""},

    // Bindings.
    {"input and output share a name",
     [](Application& app) {
       app.inputs = {binding("x")};
       app.outputs = {binding("x")};
     },
     "empty or duplicate binding x"},
    {"weight named like an input",
     [](Application& app) {
       app.inputs = {binding("w")};
       app.weights = {binding("w")};
     },
     "empty or duplicate binding w"},
    {"unnamed binding", [](Application& app) { app.weights = {binding("")}; }, "empty or duplicate binding "},
    {"slice of 2^32 bytes",
     [](Application& app) { app.inputs = {binding("x", {slice(0x4C000, 1ULL << 32)})}; },
     "binding x slice is too large"},
    {"slice end overflows", [](Application& app) { app.inputs = {binding("x", {slice(0xFFFFFFF0, 0x20)})}; },
     "binding address overflow"},
    {"slice ending at the window end",
     [](Application& app) { app.inputs = {binding("x", {slice(0xE7000, 0x1000)})}; }, ""},
    {"slice one byte past the window",
     [](Application& app) { app.inputs = {binding("x", {slice(0xE7000, 0x1001)})}; },
     "binding x references invalid tile memory"},
    {"slice below the window", [](Application& app) { app.outputs = {binding("y", {slice(0x4BFFF, 1)})}; },
     "binding y references invalid tile memory"},
    {"slice on an unknown tile",
     [](Application& app) { app.outputs = {binding("y", {slice(0x4C000, 4, 2)})}; },
     "binding y references invalid tile memory"},

    // Host page table.
    {"duplicate page index",
     [](Application& app) {
       app.host_exchange.pages.push_back({.index = 3, .size = 16});
       app.host_exchange.pages.push_back({.index = 3, .size = 32});
     },
     "invalid host page table"},
    {"attach order names a missing page",
     [](Application& app) {
       app.host_exchange.attach_order = {0, 7};
     },
     "invalid host page table"},
    {"attach order repeats and skips pages",
     [](Application& app) {
       app.host_exchange.attach_order = {1, 1};
     },
     ""},
    {"empty attach order", [](Application& app) { app.host_exchange.attach_order.clear(); }, ""},

    // Startup protocol.
    {"command word at the page end",
     [](Application& app) {
       app.host_exchange.pages[0].size = 16;
       app.host_exchange.command_offset = 12;
     },
     ""},
    {"command word past the page end",
     [](Application& app) {
       app.host_exchange.pages[0].size = 16;
       app.host_exchange.command_offset = 13;
     },
     "invalid host startup protocol"},
    {"command offset end overflows", [](Application& app) { app.host_exchange.command_offset = kU64Max - 1; },
     "invalid host startup protocol"},
    {"command page missing", [](Application& app) { app.host_exchange.command_page = 9; },
     "invalid host startup protocol"},
    {"command page missing without calls",
     [](Application& app) {
       app.host_exchange.calls.clear();
       app.host_exchange.command_page = 9;
     },
     ""},

    // Host calls.
    {"call without invocations", [](Application& app) { the_call(app).invocations = 0; },
     "host call batched has no invocations"},
    {"inputs without batch ends", [](Application& app) { the_call(app).input_batch_ends.clear(); },
     "host call batched input batches cover 0 of 2 slices"},
    {"output batch end past the slices", [](Application& app) { the_call(app).output_batch_ends = {2}; },
     "host call batched has invalid output batch boundary 2"},
    {"slice in a missing page", [](Application& app) { the_call(app).outputs[0].page = 5; },
     "host call batched references missing page"},
    {"slice ending at the page end",
     [](Application& app) {
       app.host_exchange.pages.push_back({.index = 2, .size = 64});
       the_call(app).outputs[0] = {.page = 2, .page_offset = 60, .file_offset = 0, .size = 4};
     },
     ""},
    {"slice one byte past the page end",
     [](Application& app) {
       app.host_exchange.pages.push_back({.index = 2, .size = 64});
       the_call(app).outputs[0] = {.page = 2, .page_offset = 60, .file_offset = 0, .size = 5};
     },
     "host call batched exceeds page bounds"},
    {"slice end overflows",
     [](Application& app) {
       the_call(app).inputs[1] = {.page = 1, .page_offset = kU64Max, .file_offset = 0, .size = 1};
     },
     "host call batched exceeds page bounds"},

    // Order between rules: the earlier rule decides.
    {"no tiles before bad configuration",
     [](Application& app) {
       app.tiles.clear();
       app.device_config_writes = {{.offset = 1, .value = 0}};
     },
     "application has no tiles"},
    {"configuration before tiles",
     [](Application& app) {
       app.device_config_writes = {{.offset = 1, .value = 0}};
       app.tiles.push_back(app.tiles[0]);
     },
     "unaligned or duplicate device configuration write"},
    {"segment rule before overlap on the same tile",
     [](Application& app) {
       app.tiles[0].segments = {segment(0x4C000, 0x10), segment(0x4C000, 0x10), segment(0, 4)};
     },
     "invalid segment on tile 0: address=0x0 end=0x4 memory_size=4 data_size=0"},
    {"first tile's overlap before second tile's duplicate id",
     [](Application& app) {
       app.tiles[0].segments.push_back(app.tiles[0].segments[0]);
       app.tiles.push_back(app.tiles[0]);
     },
     "overlapping segments on tile 0: 0x4c000..0x4c008 and 0x4c000..0x4c008"},
    {"profile plan before debug map",
     [](Application& app) {
       app.profile_tiles[0].physical_tile = 9;
       app.debug_regions[0].size = 0;
     },
     "invalid tile profile plan"},
    {"symbols before regions, debug map before bindings",
     [](Application& app) {
       app.debug_regions[0].size = 0;
       app.inputs = {binding("")};
     },
     "invalid package debug map"},
    {"binding before host page table",
     [](Application& app) {
       app.inputs = {binding("x")};
       app.outputs = {binding("x")};
       app.host_exchange.pages.push_back(app.host_exchange.pages[0]);
     },
     "empty or duplicate binding x"},
    {"page table before startup protocol",
     [](Application& app) {
       app.host_exchange.attach_order = {4};
       app.host_exchange.command_page = 9;
     },
     "invalid host page table"},
    {"startup protocol before host calls",
     [](Application& app) {
       app.host_exchange.command_page = 9;
       the_call(app).invocations = 0;
     },
     "invalid host startup protocol"},
    {"invocations before batches",
     [](Application& app) {
       the_call(app).invocations = 0;
       the_call(app).input_batch_ends.clear();
     },
     "host call batched has no invocations"},
    {"input batches before output batches",
     [](Application& app) {
       the_call(app).output_batch_ends.clear();
       the_call(app).input_batch_ends = {3};
     },
     "host call batched has invalid input batch boundary 3"},
    {"batches before pages",
     [](Application& app) {
       the_call(app).outputs[0].page = 5;
       the_call(app).output_batch_ends.clear();
     },
     "host call batched output batches cover 0 of 1 slices"},
    {"input slices before output slices",
     [](Application& app) {
       the_call(app).outputs[0].size = 1ULL << 20;
       the_call(app).inputs[0].page = 5;
     },
     "host call batched references missing page"},
};

TEST_CASE("validation applies every rule in order, with its exact message") {
  for (const auto& c : kCases) {
    CAPTURE(c.name);
    Application app = tests::populated_sample();
    c.mutate(app);
    const auto result = app.validate();
    if (c.expected.empty()) {
      CHECK_MESSAGE(result.has_value(), (result ? std::string() : testing::printed(result.error())));
    } else {
      REQUIRE_FALSE(result.has_value());
      CHECK(result.error() == invalid(c.expected));
    }
  }
}

TEST_CASE("validation leaves the package unchanged") {
  const Application app = tests::populated_sample();
  Application copy = app;
  copy.tiles[0].segments.push_back(copy.tiles[0].segments[0]);
  const Application before = copy;
  (void)copy.validate();
  CHECK(copy == before);
}

struct BatchCase {
  std::vector<std::uint32_t> ends;
  std::size_t slices;
  std::string expected;  // empty: accepted
};

TEST_CASE("host batch ends rise strictly to the slice count") {
  const HostCall call{.name = "c"};
  const std::vector<BatchCase> cases = {
      {{}, 0, ""},
      {{}, 1, "host call c input batches cover 0 of 1 slices"},
      {{1}, 1, ""},
      {{1, 3}, 3, ""},
      {{0}, 3, "host call c has invalid input batch boundary 0"},
      {{0}, 0, "host call c has invalid input batch boundary 0"},
      {{2, 2}, 3, "host call c has invalid input batch boundary 2"},
      {{3, 2}, 3, "host call c has invalid input batch boundary 2"},
      {{4}, 3, "host call c has invalid input batch boundary 4"},
      {{1, 2}, 3, "host call c input batches cover 2 of 3 slices"},
      {{5, 1}, 0, "host call c has invalid input batch boundary 5"},
      {{kU32Max}, kU32Max, ""},
  };
  for (const auto& c : cases) {
    CAPTURE(testing::printed(c.ends.size()));
    CAPTURE(c.slices);
    const auto result = validate_host_batch_ends(call, "input", c.ends, c.slices);
    if (c.expected.empty()) {
      CHECK(result.has_value());
    } else {
      REQUIRE_FALSE(result.has_value());
      CHECK(result.error() == invalid(c.expected));
    }
  }
}

TEST_CASE("the side word and call name go into batch messages as given") {
  const HostCall call{.name = "explicit-batches"};
  CHECK(validate_host_batch_ends(call, "output", {}, 1).error() ==
        invalid("host call explicit-batches output batches cover 0 of 1 slices"));
  CHECK(validate_host_batch_ends(call, "sideways", std::vector<std::uint32_t>{2}, 1).error() ==
        invalid("host call explicit-batches has invalid sideways batch boundary 2"));
}

}  // namespace
}  // namespace morvex_package
