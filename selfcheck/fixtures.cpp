#include "fixtures.hpp"

namespace morvex_package::tests {

Application sample() {
  Application app;
  app.tiles.push_back(TileImage{
      .physical_tile = 0,
      .entry_point = 0x4C000,
      .command_address = 0x4C100,
      .diagnostic_address = 0x4C200,
      .segments = {Segment{
          .address = 0x4C000, .memory_size = 8, .data = {0x01, 0x02, 0x03, 0x04}, .flags = 5}},
  });
  return app;
}

namespace {

// Its second exchange activity starts before the first: lists keep their
// order and are never sorted by cycle.
ProfileStep populated_step() {
  return ProfileStep{
      .local_index = 0,
      .phase = 7,
      .epoch = 0,
      .operation = "operation.0",
      .kind = ProfileStepKind::Compute,
      .kernel = "kernel",
      .metadata = {{.name = "reason", .value = "OperatorKernel"}},
      .exchange_activities =
          {{.kind = ProfileExchangeActivityKind::Receive, .start_cycle = 3, .end_cycle = 11},
           {.kind = ProfileExchangeActivityKind::PartnerBusy, .start_cycle = 1, .end_cycle = 3}},
      .exchange_event_cycles = 13,
  };
}

// Both input slices and the output slice lie in page 1; the output and the
// first input share page bytes, which is allowed.
HostExchange populated_host_exchange() {
  return HostExchange{
      .startup_mark = 1,
      .command_page = 0,
      .command_offset = 0,
      .pages = {{.index = 0, .size = 0x1000}, {.index = 1, .size = 0x2000}},
      .attach_order = {0, 1},
      .calls = {HostCall{
          .name = "batched",
          .command = 2,
          .phases = 4,
          .inputs = {{.page = 1, .page_offset = 0, .file_offset = 0, .size = 16},
                     {.page = 1, .page_offset = 0x1000, .file_offset = 16, .size = 16}},
          .outputs = {{.page = 1, .page_offset = 0, .file_offset = 0, .size = 32}},
          .invocations = 1,
          .input_batch_ends = {2},
          .output_batch_ends = {1},
      }},
  };
}

}  // namespace

Application populated_sample() {
  Application app = sample();
  app.profile_tiles = {TileProfilePlan{.physical_tile = 0, .steps = {populated_step()}}};
  app.device_config_writes = {DeviceConfigWrite{.offset = 0x4018, .value = 0xC000000D}};
  app.debug_symbols = {DebugSymbol{.name = "kernel", .address = 0x4C000}};
  // The all-ones tile number ties the region to no tile.
  app.debug_regions = {
      DebugRegion{.physical_tile = 0xFFFFFFFF, .address = 0x4C000, .size = 8, .name = "linked executable"}};
  app.host_exchange = populated_host_exchange();
  return app;
}

}  // namespace morvex_package::tests
