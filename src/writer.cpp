// Storing a package. The builder places every object after the ones created
// before it, so the order in which fields are set below fixes the bytes of
// the output: keep it.

#include <capnp/message.h>

#include <morvex_package/application.hpp>

#include "application.capnp.h"
#include "event.hpp"
#include "failure.hpp"
#include "message_io.hpp"
#include "step_codec.hpp"
#include "wire_values.hpp"

namespace morvex_package {
namespace {

using detail::list_size;
using detail::wire_data;
using detail::wire_text;
using diagnostics::Level;

void write_segments(capnp::List<wire::Segment>::Builder out, const std::vector<Segment>& segments) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& segment = segments[i];
    auto element = out[i];
    element.setAddress(segment.address);
    element.setMemorySize(segment.memory_size);
    element.setData(wire_data(segment.data));
    element.setFlags(segment.flags);
  }
}

void write_tiles(capnp::List<wire::TileImage>::Builder out, const std::vector<TileImage>& tiles) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& tile = tiles[i];
    auto element = out[i];
    element.setPhysicalTile(tile.physical_tile);
    element.setEntryPoint(tile.entry_point);
    element.setCommandAddress(tile.command_address);
    element.setDiagnosticAddress(tile.diagnostic_address);
    write_segments(element.initSegments(list_size(tile.segments.size())), tile.segments);
  }
}

void write_region_slices(capnp::List<wire::RegionSlice>::Builder out,
                         const std::vector<RegionSlice>& slices) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& slice = slices[i];
    auto element = out[i];
    element.setTile(slice.tile);
    element.setTileAddress(slice.tile_address);
    element.setFileOffset(slice.file_offset);
    element.setSize(slice.size);
  }
}

void write_bindings(capnp::List<wire::Binding>::Builder out, const std::vector<Binding>& bindings) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& binding = bindings[i];
    auto element = out[i];
    element.setName(wire_text(binding.name));
    element.setDtype(wire_text(binding.dtype));
    detail::write_scalars(element.initShape(list_size(binding.shape.size())), binding.shape);
    write_region_slices(element.initSlices(list_size(binding.slices.size())), binding.slices);
  }
}

void write_host_slices(capnp::List<wire::HostSlice>::Builder out, const std::vector<HostSlice>& slices) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& slice = slices[i];
    auto element = out[i];
    element.setPage(slice.page);
    element.setPageOffset(slice.page_offset);
    element.setFileOffset(slice.file_offset);
    element.setSize(slice.size);
  }
}

// The batch-end lists come before the slice lists.
void write_host_call(wire::HostCall::Builder out, const HostCall& call) {
  out.setName(wire_text(call.name));
  out.setCommand(call.command);
  out.setPhases(call.phases);
  out.setInvocations(call.invocations);
  detail::write_scalars(out.initInputBatchEnds(list_size(call.input_batch_ends.size())),
                        call.input_batch_ends);
  detail::write_scalars(out.initOutputBatchEnds(list_size(call.output_batch_ends.size())),
                        call.output_batch_ends);
  write_host_slices(out.initInputs(list_size(call.inputs.size())), call.inputs);
  write_host_slices(out.initOutputs(list_size(call.outputs.size())), call.outputs);
}

void write_host_exchange(wire::HostExchange::Builder out, const HostExchange& exchange) {
  out.setStartupMark(exchange.startup_mark);
  out.setCommandPage(exchange.command_page);
  out.setCommandOffset(exchange.command_offset);
  auto pages = out.initPages(list_size(exchange.pages.size()));
  for (unsigned int i = 0; i < pages.size(); ++i) {
    pages[i].setIndex(exchange.pages[i].index);
    pages[i].setSize(exchange.pages[i].size);
  }
  detail::write_scalars(out.initAttachOrder(list_size(exchange.attach_order.size())), exchange.attach_order);
  auto calls = out.initCalls(list_size(exchange.calls.size()));
  for (unsigned int i = 0; i < calls.size(); ++i) write_host_call(calls[i], exchange.calls[i]);
}

void write_entry_points(capnp::List<wire::EntryPoint>::Builder out, const std::vector<EntryPoint>& entries) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    out[i].setName(wire_text(entries[i].name));
    out[i].setCommand(entries[i].command);
    out[i].setExternalSyncs(entries[i].external_syncs);
  }
}

void write_device_config_writes(capnp::List<wire::DeviceConfigWrite>::Builder out,
                                const std::vector<DeviceConfigWrite>& writes) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    out[i].setOffset(writes[i].offset);
    out[i].setValue(writes[i].value);
  }
}

void write_profile_tiles(capnp::List<wire::TileProfilePlan>::Builder out,
                         const std::vector<TileProfilePlan>& plans) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    const auto& plan = plans[i];
    out[i].setPhysicalTile(plan.physical_tile);
    auto steps = out[i].initSteps(list_size(plan.steps.size()));
    for (unsigned int k = 0; k < steps.size(); ++k) detail::encode_step(plan.steps[k], steps[k]);
  }
}

void write_debug_symbols(capnp::List<wire::DebugSymbol>::Builder out,
                         const std::vector<DebugSymbol>& symbols) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    out[i].setName(wire_text(symbols[i].name));
    out[i].setAddress(symbols[i].address);
  }
}

void write_debug_regions(capnp::List<wire::DebugRegion>::Builder out,
                         const std::vector<DebugRegion>& regions) {
  for (unsigned int i = 0; i < out.size(); ++i) {
    out[i].setPhysicalTile(regions[i].physical_tile);
    out[i].setAddress(regions[i].address);
    out[i].setSize(regions[i].size);
    out[i].setName(wire_text(regions[i].name));
  }
}

void build_package(const Application& app, wire::Application::Builder root) {
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setCompilerVersion(wire_text(app.compiler_version));
  root.setTarget(capnp::Text::Reader(PACKAGE_TARGET.data(), PACKAGE_TARGET.size()));
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  write_tiles(root.initTiles(list_size(app.tiles.size())), app.tiles);
  write_bindings(root.initInputs(list_size(app.inputs.size())), app.inputs);
  write_bindings(root.initOutputs(list_size(app.outputs.size())), app.outputs);
  write_bindings(root.initWeights(list_size(app.weights.size())), app.weights);
  write_host_exchange(root.initHostExchange(), app.host_exchange);
  write_entry_points(root.initEntryPoints(list_size(app.entry_points.size())), app.entry_points);
  write_device_config_writes(root.initDeviceConfigWrites(list_size(app.device_config_writes.size())),
                             app.device_config_writes);
  write_profile_tiles(root.initProfileTiles(list_size(app.profile_tiles.size())), app.profile_tiles);
  write_debug_symbols(root.initDebugSymbols(list_size(app.debug_symbols.size())), app.debug_symbols);
  write_debug_regions(root.initDebugRegions(list_size(app.debug_regions.size())), app.debug_regions);
}

// Validates, builds the whole message in memory, then hands it to `sink`.
template <class Sink>
Result<void> write_package(const Application& app, Sink sink) {
  if (auto valid = app.validate(); !valid) return valid;
  detail::emit_event(Level::Info, "writing application package",
                     {{"tiles", static_cast<std::uint64_t>(app.tiles.size())}});
  auto written = detail::guarded([&]() -> Result<void> {
    capnp::MallocMessageBuilder message;  // first segment of 1024 words
    build_package(app, message.initRoot<wire::Application>());
    sink(message);
    return {};
  });
  if (written) detail::emit_event(Level::Info, "application package written");
  return written;
}

}  // namespace

Result<void> Application::write(kj::OutputStream& output) const {
  return write_package(*this,
                       [&](capnp::MessageBuilder& message) { detail::write_message(message, output); });
}

Result<void> Application::write(std::vector<std::uint8_t>& output) const {
  return write_package(*this,
                       [&](capnp::MessageBuilder& message) { detail::append_message(message, output); });
}

}  // namespace morvex_package
