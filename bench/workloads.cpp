#include "workloads.hpp"

#include <string>

namespace morvex_package::bench {
namespace {

constexpr std::uint32_t kDeviceTiles = 1472;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

// A plan step as a compiler would emit it: short names, every kind in turn,
// an exchange activity on exchange steps and a metadata pair now and then.
ProfileStep planned_step(std::uint32_t index) {
  const auto kind = static_cast<ProfileStepKind>(index % 4);
  ProfileStep step{
      .local_index = index,
      .phase = index / 10,
      .epoch = index / 50,
      .operation = "op." + std::to_string(index % 10),
      .kind = kind,
      .kernel = "kernel." + std::to_string(index % 7),
      .exchange_event_cycles = kind == ProfileStepKind::Exchange ? 12u : 0u,
  };
  if (index % 10 == 0) step.metadata.push_back({.name = "reason", .value = "OperatorKernel"});
  if (kind == ProfileStepKind::Exchange) {
    step.exchange_activities.push_back(
        {.kind = ProfileExchangeActivityKind::Send, .start_cycle = index * 8, .end_cycle = index * 8 + 5});
  }
  return step;
}

std::vector<ProfileStep> planned_steps(std::uint32_t count) {
  std::vector<ProfileStep> steps;
  steps.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) steps.push_back(planned_step(i));
  return steps;
}

HostExchange device_host_exchange() {
  HostExchange exchange{.startup_mark = 0x5A5A, .command_page = 0, .command_offset = 64};
  for (std::uint32_t page = 0; page < 16; ++page) {
    exchange.pages.push_back({.index = page, .size = 1 << 20});
    exchange.attach_order.push_back(page);
  }
  for (std::uint32_t c = 0; c < 8; ++c) {
    HostCall call{.name = "call." + std::to_string(c), .command = c + 1, .phases = 2, .invocations = 1};
    for (std::uint32_t i = 0; i < 4; ++i) {
      call.inputs.push_back(
          {.page = 1 + c, .page_offset = i * 4096ull, .file_offset = i * 4096ull, .size = 4096});
    }
    call.outputs.push_back({.page = 9 + (c % 7), .page_offset = c * 8192ull, .file_offset = 0, .size = 8192});
    call.input_batch_ends = {2, 4};
    call.output_batch_ends = {1};
    exchange.calls.push_back(std::move(call));
  }
  return exchange;
}

Binding tensor(std::string name, std::uint32_t index) {
  constexpr std::uint64_t kSliceBytes = 256;
  Binding binding{.name = std::move(name), .dtype = "f32", .shape = {kDeviceTiles, 64}, .slices = {}};
  binding.slices.reserve(kDeviceTiles);
  for (std::uint32_t tile = 0; tile < kDeviceTiles; ++tile) {
    binding.slices.push_back({.tile = tile,
                              .tile_address = 0xC0000 + index * static_cast<std::uint32_t>(kSliceBytes),
                              .file_offset = tile * kSliceBytes,
                              .size = kSliceBytes});
  }
  return binding;
}

}  // namespace

Application device_scale_package() {
  constexpr std::uint32_t kSegmentBytes = 16 * 1024;
  Application app;
  app.compiler_version = "bench-compiler 1.0";
  app.tiles.reserve(kDeviceTiles);
  const std::vector<ProfileStep> steps = planned_steps(100);
  for (std::uint32_t tile = 0; tile < kDeviceTiles; ++tile) {
    TileImage image{.physical_tile = tile,
                    .entry_point = 0x4C000,
                    .command_address = 0x4C100,
                    .diagnostic_address = 0x4C200,
                    .segments = {}};
    for (std::uint32_t s = 0; s < 4; ++s) {
      image.segments.push_back({.address = 0x4C000 + s * 0x8000,
                                .memory_size = kSegmentBytes,
                                .data = pattern(kSegmentBytes, tile * 4 + s),
                                .flags = s});
    }
    app.tiles.push_back(std::move(image));
    app.profile_tiles.push_back({.physical_tile = tile, .steps = steps});
  }
  for (std::uint32_t b = 0; b < 64; ++b) {
    auto& list = b < 24 ? app.inputs : b < 48 ? app.outputs : app.weights;
    list.push_back(tensor("tensor." + std::to_string(b), b));
  }
  app.host_exchange = device_host_exchange();
  app.entry_points = {{.name = "main", .command = 1, .external_syncs = 2}};
  for (std::uint32_t w = 0; w < 32; ++w) app.device_config_writes.push_back({.offset = w * 4, .value = w});
  app.debug_symbols = {{.name = "main", .address = 0x4C000}};
  app.debug_regions = {{.physical_tile = 0xFFFFFFFF, .address = 0x4C000, .size = 0x100, .name = "text"}};
  return app;
}

Application record_heavy_package(std::uint32_t tiles) {
  Application app;
  app.tiles.reserve(tiles);
  for (std::uint32_t tile = 0; tile < tiles; ++tile) {
    TileImage image{.physical_tile = tile, .entry_point = 0x4C000, .segments = {}};
    image.segments.reserve(256);
    for (std::uint32_t s = 0; s < 256; ++s) {
      image.segments.push_back(
          {.address = 0x4C000 + s * 0x80, .memory_size = 64, .data = pattern(64, s), .flags = 0});
    }
    app.tiles.push_back(std::move(image));
  }
  return app;
}

ProfileWorkload profile_workload() {
  constexpr std::uint32_t kSteps = 1000;
  constexpr std::uint64_t kPrefixBytes = 4096;
  constexpr std::uint64_t kSliceBytes = (kSteps + 1) * 4;
  ProfileWorkload w;
  w.prefix_bytes = kPrefixBytes;
  w.package.outputs.push_back(
      Binding{.name = "prefix",
              .dtype = "u8",
              .shape = {kPrefixBytes},
              .slices = {{.tile = 0, .tile_address = 0x4C000, .file_offset = 0, .size = kPrefixBytes}}});
  Binding cycles{.name = "profile.cycles", .dtype = "u32", .shape = {}, .slices = {}};
  w.runtime_output.assign(kPrefixBytes, 0xA5);
  w.runtime_output.reserve(kPrefixBytes + kDeviceTiles * kSliceBytes);
  const std::vector<ProfileStep> steps = planned_steps(kSteps);
  for (std::uint32_t tile = 0; tile < kDeviceTiles; ++tile) {
    cycles.slices.push_back(
        {.tile = tile, .tile_address = 0x4C100, .file_offset = tile * kSliceBytes, .size = kSliceBytes});
    std::uint32_t counter = 0xFFFF0000u + tile;  // wraps within the run
    for (std::uint32_t i = 0; i <= kSteps; ++i, counter += 97 + i % 13) {
      for (int shift = 0; shift < 32; shift += 8)
        w.runtime_output.push_back(static_cast<std::uint8_t>(counter >> shift));
    }
    w.package.profile_tiles.push_back({.physical_tile = tile, .steps = steps});
  }
  cycles.shape = {static_cast<std::uint32_t>(cycles.slices.size() * (kSteps + 1))};
  w.package.outputs.push_back(std::move(cycles));
  return w;
}

std::uint64_t segment_data_bytes(const Application& app) {
  std::uint64_t total = 0;
  for (const auto& tile : app.tiles) {
    for (const auto& segment : tile.segments) total += segment.data.size();
  }
  return total;
}

}  // namespace morvex_package::bench
