// Reading a package: header first, then every field in the stored order,
// validation last. The first failure ends the read; nothing partly decoded
// is returned.

#include <morvex_package/application.hpp>

#include "application.capnp.h"
#include "event.hpp"
#include "failure.hpp"
#include "message_io.hpp"
#include "step_codec.hpp"
#include "text_format.hpp"
#include "validation.hpp"
#include "wire_values.hpp"

namespace morvex_package {
namespace {

using detail::read_data;
using detail::read_list;
using detail::read_scalars;
using detail::read_text;
using diagnostics::Level;

// Element decoders are closures rather than functions so that the list
// loops they are handed to can inline them.
constexpr auto read_segment = [](wire::Segment::Reader in) {
  return Segment{.address = in.getAddress(),
                 .memory_size = in.getMemorySize(),
                 .data = read_data(in.getData()),
                 .flags = in.getFlags()};
};

// Each tile goes through the tile rules as soon as it is decoded.
std::vector<TileImage> read_tiles(capnp::List<wire::TileImage>::Reader tiles, detail::TileChecks& checks) {
  checks.reserve(tiles.size());
  return read_list(tiles, [&](wire::TileImage::Reader in) {
    TileImage tile{.physical_tile = in.getPhysicalTile(),
                   .entry_point = in.getEntryPoint(),
                   .command_address = in.getCommandAddress(),
                   .diagnostic_address = in.getDiagnosticAddress(),
                   .segments = read_list(in.getSegments(), read_segment)};
    checks.check(tile);
    return tile;
  });
}

constexpr auto read_region_slice = [](wire::RegionSlice::Reader in) {
  return RegionSlice{.tile = in.getTile(),
                     .tile_address = in.getTileAddress(),
                     .file_offset = in.getFileOffset(),
                     .size = in.getSize()};
};

std::vector<Binding> read_bindings(capnp::List<wire::Binding>::Reader bindings) {
  return read_list(bindings, [](wire::Binding::Reader in) {
    return Binding{.name = read_text(in.getName()),
                   .dtype = read_text(in.getDtype()),
                   .shape = read_scalars<std::uint32_t>(in.getShape()),
                   .slices = read_list(in.getSlices(), read_region_slice)};
  });
}

std::vector<HostSlice> read_host_slices(capnp::List<wire::HostSlice>::Reader slices) {
  return read_list(slices, [](wire::HostSlice::Reader in) {
    return HostSlice{.page = in.getPage(),
                     .page_offset = in.getPageOffset(),
                     .file_offset = in.getFileOffset(),
                     .size = in.getSize()};
  });
}

// Read in declaration order: the slice lists before the batch-end lists.
constexpr auto read_host_call = [](wire::HostCall::Reader in) {
  return HostCall{.name = read_text(in.getName()),
                  .command = in.getCommand(),
                  .phases = in.getPhases(),
                  .inputs = read_host_slices(in.getInputs()),
                  .outputs = read_host_slices(in.getOutputs()),
                  .invocations = in.getInvocations(),
                  .input_batch_ends = read_scalars<std::uint32_t>(in.getInputBatchEnds()),
                  .output_batch_ends = read_scalars<std::uint32_t>(in.getOutputBatchEnds())};
};

HostExchange read_host_exchange(wire::HostExchange::Reader in) {
  return HostExchange{.startup_mark = in.getStartupMark(),
                      .command_page = in.getCommandPage(),
                      .command_offset = in.getCommandOffset(),
                      .pages = read_list(in.getPages(),
                                         [](wire::HostPage::Reader page) {
                                           return HostPage{.index = page.getIndex(), .size = page.getSize()};
                                         }),
                      .attach_order = read_scalars<std::uint32_t>(in.getAttachOrder()),
                      .calls = read_list(in.getCalls(), read_host_call)};
}

std::vector<TileProfilePlan> read_profile_tiles(capnp::List<wire::TileProfilePlan>::Reader plans) {
  return read_list(plans, [](wire::TileProfilePlan::Reader in) {
    return TileProfilePlan{
        .physical_tile = in.getPhysicalTile(),
        .steps = read_list(in.getSteps(), [](wire::Step::Reader step) { return detail::decode_step(step); })};
  });
}

bool header_matches(wire::Application::Reader root) {
  // Later fields are not looked at once one differs: a foreign message
  // with undecodable text in `target` is still just incompatible.
  return root.getSchemaVersion() == PACKAGE_SCHEMA_VERSION && read_text(root.getTarget()) == PACKAGE_TARGET &&
         root.getTileMemoryBase() == TILE_MEMORY_BASE && root.getTileMemorySize() == TILE_MEMORY_SIZE;
}

Result<Application> decode_package(wire::Application::Reader root) {
  if (!header_matches(root)) return detail::invalid("incompatible package header");
  Application app;
  detail::TileChecks tile_checks;
  app.compiler_version = read_text(root.getCompilerVersion());
  app.tiles = read_tiles(root.getTiles(), tile_checks);
  app.inputs = read_bindings(root.getInputs());
  app.outputs = read_bindings(root.getOutputs());
  app.weights = read_bindings(root.getWeights());
  app.host_exchange = read_host_exchange(root.getHostExchange());
  app.entry_points = read_list(root.getEntryPoints(), [](wire::EntryPoint::Reader in) {
    return EntryPoint{
        .name = read_text(in.getName()), .command = in.getCommand(), .external_syncs = in.getExternalSyncs()};
  });
  app.device_config_writes = read_list(root.getDeviceConfigWrites(), [](wire::DeviceConfigWrite::Reader in) {
    return DeviceConfigWrite{.offset = in.getOffset(), .value = in.getValue()};
  });
  app.profile_tiles = read_profile_tiles(root.getProfileTiles());
  app.debug_symbols = read_list(root.getDebugSymbols(), [](wire::DebugSymbol::Reader in) {
    return DebugSymbol{.name = read_text(in.getName()), .address = in.getAddress()};
  });
  app.debug_regions = read_list(root.getDebugRegions(), [](wire::DebugRegion::Reader in) {
    return DebugRegion{.physical_tile = in.getPhysicalTile(),
                       .address = in.getAddress(),
                       .size = in.getSize(),
                       .name = read_text(in.getName())};
  });
  if (auto valid = detail::validate_package(app, tile_checks); !valid) return tl::unexpected(valid.error());
  return app;
}

template <class Receive>
Result<Application> read_package(Receive receive) {
  detail::emit_event(Level::Info, "reading application package");
  auto app = detail::guarded([&] {
    const auto message = receive();
    return decode_package(message->template root<wire::Application>());
  });
  if (app) {
    detail::emit_event(Level::Info, "application package read",
                       {{"tiles", static_cast<std::uint64_t>(app->tiles.size())},
                        {"compiler", std::string_view(app->compiler_version)}});
  }
  return app;
}

}  // namespace

Result<Application> Application::read(kj::InputStream& input) {
  return read_package([&] { return detail::ReceivedMessage::from_stream(input); });
}

Result<Application> Application::read(std::span<const std::uint8_t> input) {
  return read_package([&] { return detail::ReceivedMessage::from_bytes(input); });
}

}  // namespace morvex_package
