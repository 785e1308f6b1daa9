// The demo package of `example --profiled N`: every kind of record, with a
// profile plan per tile and a runtime output whose cycle counters look like
// those of a real run, including a wrap of the 32-bit counter.

#include "demo_package.hpp"

#include <array>
#include <cstdint>
#include <string>

#include "random.hpp"

namespace morvex_package::tool {
namespace {

// Where things live in each tile's memory; all inside the loadable window
// 0x4C000..0xE8000, which validation demands of segments and slices.
constexpr std::uint32_t kCodeAddress = TILE_MEMORY_BASE;
constexpr std::uint32_t kCodeBytes = 0x2000;
constexpr std::uint32_t kDataAddress = 0x60000;
constexpr std::uint32_t kDataBytes = 0x8000;
constexpr std::uint32_t kInputAddress = 0x70000;
constexpr std::uint32_t kWeightAddress = 0x80000;
constexpr std::uint32_t kResultAddress = 0x90000;
constexpr std::uint32_t kCounterAddress = 0xE7000;

constexpr std::uint32_t kInputBytes = 128;   // per tile: 64 float16 values
constexpr std::uint32_t kWeightBytes = 512;  // per tile: 256 float16 values
constexpr std::uint32_t kResultBytes = 64;   // per tile: 16 float32 values

// The device's cycle counter is shared by all tiles. Tiles start in three
// groups kGroupDelay cycles apart, the first group kCyclesBeforeWrap cycles
// before the counter wraps: the first two groups see the wrap during their
// run (each has one step whose end counter is below its start counter), the
// third starts after it. A time line has to keep all of them in order.
constexpr std::uint32_t kCyclesBeforeWrap = 6000;
constexpr std::uint32_t kGroupDelay = 4000;
constexpr std::uint32_t kGroups = 3;
constexpr std::uint64_t kSeed = 0x6d76'7078'0001;

struct StepTemplate {
  const char* operation;
  ProfileStepKind kind;
  const char* kernel;
  std::uint32_t min_cycles;
  std::uint32_t max_cycles;
};

// One pass of a two-layer model: every step kind, some steps repeated.
constexpr std::array<StepTemplate, 9> kSteps{{
    {"sync/start", ProfileStepKind::Synchronization, "", 80, 400},
    {"exchange/input", ProfileStepKind::Exchange, "", 600, 1500},
    {"layer0/matmul", ProfileStepKind::Compute, "matmul_f16_8x8", 2500, 6000},
    {"layer0/gelu", ProfileStepKind::Compute, "gelu_f16", 400, 900},
    {"exchange/halo", ProfileStepKind::Exchange, "", 900, 2500},
    {"sync/layer", ProfileStepKind::Synchronization, "", 100, 1200},
    {"layer1/matmul", ProfileStepKind::Compute, "matmul_f16_8x8", 2500, 6000},
    {"exchange/output", ProfileStepKind::Exchange, "", 300, 800},
    {"idle/drain", ProfileStepKind::Idle, "", 50, 600},
}};

std::vector<ProfileStep> plan_steps(std::uint32_t tile) {
  std::vector<ProfileStep> steps;
  for (std::uint32_t i = 0; i < kSteps.size(); ++i) {
    const StepTemplate& from = kSteps[i];
    ProfileStep step{.local_index = i,
                     .phase = i / 3,
                     .epoch = i < 5 ? 0u : 1u,
                     .operation = from.operation,
                     .kind = from.kind,
                     .kernel = from.kernel};
    if (from.kind == ProfileStepKind::Compute) {
      step.metadata = {{.name = "reason", .value = "OperatorKernel"},
                       {.name = "tile", .value = std::to_string(tile)}};
    }
    if (from.kind == ProfileStepKind::Exchange) {
      // The plan's estimate of the exchange, in cycles from the step's start.
      step.metadata = {{.name = "bytes", .value = std::to_string(256 * (i + 1))}};
      step.exchange_activities = {
          {.kind = ProfileExchangeActivityKind::Send, .start_cycle = 4, .end_cycle = 180},
          {.kind = ProfileExchangeActivityKind::Receive, .start_cycle = 10, .end_cycle = 240},
          {.kind = ProfileExchangeActivityKind::PartnerBusy, .start_cycle = 0, .end_cycle = 12}};
      step.exchange_event_cycles = 240;
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

TileImage tile_image(std::uint32_t tile) {
  std::vector<std::uint8_t> code(256);
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>(i * 7 + tile);
  return TileImage{
      .physical_tile = tile,
      .entry_point = kCodeAddress,
      .command_address = kCodeAddress + 0x100,
      .diagnostic_address = kCodeAddress + 0x200,
      .segments = {Segment{.address = kCodeAddress, .memory_size = kCodeBytes, .data = code, .flags = 5},
                   Segment{.address = kDataAddress, .memory_size = kDataBytes, .data = {}, .flags = 6}}};
}

// One slice per tile, the tiles' pieces back to back in the host bytes.
Binding binding(std::string name, std::string dtype, std::uint32_t tiles, std::uint32_t per_tile_elements,
                std::uint32_t tile_address, std::uint32_t slice_bytes) {
  Binding result{.name = std::move(name), .dtype = std::move(dtype), .shape = {tiles, per_tile_elements}};
  for (std::uint32_t t = 0; t < tiles; ++t) {
    result.slices.push_back(RegionSlice{.tile = t,
                                        .tile_address = tile_address,
                                        .file_offset = std::uint64_t{t} * slice_bytes,
                                        .size = slice_bytes});
  }
  return result;
}

// The input goes over in two batches of one slice each, the result comes
// back in one.
HostExchange host_exchange(std::uint32_t tiles) {
  const std::uint64_t input_bytes = std::uint64_t{tiles} * kInputBytes;
  const std::uint64_t half = input_bytes / 2;
  return HostExchange{
      .startup_mark = 1,
      .command_page = 0,
      .command_offset = 0,
      .pages = {{.index = 0, .size = 0x1000}, {.index = 1, .size = 2 * input_bytes + 0x1000}},
      .attach_order = {0, 1},
      .calls = {HostCall{
          .name = "infer",
          .command = 1,
          .phases = 3,
          .inputs = {{.page = 1, .page_offset = 0, .file_offset = 0, .size = half},
                     {.page = 1, .page_offset = half, .file_offset = half, .size = input_bytes - half}},
          .outputs = {{.page = 1,
                       .page_offset = input_bytes,
                       .file_offset = 0,
                       .size = std::uint64_t{tiles} * kResultBytes}},
          .invocations = 1,
          .input_batch_ends = {1, 2},
          .output_batch_ends = {1}}},
  };
}

Application demo_package(std::uint32_t tiles) {
  const auto counters = static_cast<std::uint32_t>(kSteps.size() + 1);
  Application app;
  app.compiler_version = "0.1.0";
  for (std::uint32_t t = 0; t < tiles; ++t) {
    app.tiles.push_back(tile_image(t));
    app.profile_tiles.push_back(TileProfilePlan{.physical_tile = t, .steps = plan_steps(t)});
    app.debug_regions.push_back(DebugRegion{.physical_tile = t,
                                            .address = kCodeAddress,
                                            .size = kCodeBytes,
                                            .name = "code of tile " + std::to_string(t)});
  }
  app.inputs = {binding("input", "float16", tiles, kInputBytes / 2, kInputAddress, kInputBytes)};
  app.weights = {binding("weights", "float16", tiles, kWeightBytes / 2, kWeightAddress, kWeightBytes)};
  // The result comes first in the runtime output, so the counters start
  // after it: decoding has to skip the result's extent.
  app.outputs = {binding("result", "float32", tiles, kResultBytes / 4, kResultAddress, kResultBytes),
                 binding("profile.cycles", "uint32", tiles, counters, kCounterAddress, 4 * counters)};
  app.host_exchange = host_exchange(tiles);
  app.entry_points = {{.name = "main", .command = 1, .external_syncs = 0},
                      {.name = "reset", .command = 2, .external_syncs = 1}};
  app.device_config_writes = {{.offset = 0x4018, .value = 0xC000000D}, {.offset = 0x4020, .value = 0x1}};
  app.debug_symbols = {{.name = "main", .address = kCodeAddress},
                       {.name = "matmul_f16_8x8", .address = kCodeAddress + 0x400},
                       {.name = "gelu_f16", .address = kCodeAddress + 0x900}};
  return app;
}

void append_u32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The result, then per tile the counter at the start of each step and the
// one after the last step.
std::vector<std::uint8_t> runtime_output(std::uint32_t tiles) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t i = 0; i < tiles * kResultBytes; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
  tests::SeededRandom random(kSeed);
  for (std::uint32_t t = 0; t < tiles; ++t) {
    const std::uint32_t delay = t % kGroups * kGroupDelay + static_cast<std::uint32_t>(random.uniform(0, 60));
    std::uint32_t counter = UINT32_MAX - kCyclesBeforeWrap + 1 + delay;  // wraps for the last group
    append_u32(bytes, counter);
    for (const auto& step : kSteps) {
      counter += static_cast<std::uint32_t>(random.uniform(step.min_cycles, step.max_cycles));  // wraps
      append_u32(bytes, counter);
    }
  }
  return bytes;
}

}  // namespace

DemoRun demo_run(std::uint32_t tiles) { return DemoRun{demo_package(tiles), runtime_output(tiles)}; }

}  // namespace morvex_package::tool
