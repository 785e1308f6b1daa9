#include "floors.hpp"

#include <cstring>

#include <capnp/message.h>
#include <capnp/serialize.h>

#include "application.capnp.h"
#include "profile.capnp.h"

namespace morvex_package::bench {
namespace {

capnp::ReaderOptions unlimited() {
  capnp::ReaderOptions options;
  options.traversalLimitInWords = ~std::uint64_t{0};
  return options;
}

capnp::Text::Reader text(const std::string& s) { return capnp::Text::Reader(s.c_str(), s.size()); }

void build_step(const ProfileStep& in, wire::Step::Builder out) {
  out.setLocalIndex(in.local_index);
  out.setPhase(in.phase);
  out.setEpoch(in.epoch);
  out.setOperation(text(in.operation));
  out.setKind(static_cast<wire::StepKind>(in.kind));
  out.setKernel(text(in.kernel));
  out.setExchangeEventCycles(in.exchange_event_cycles);
  auto metadata = out.initMetadata(in.metadata.size());
  for (unsigned i = 0; i < metadata.size(); ++i) {
    metadata[i].setName(text(in.metadata[i].name));
    metadata[i].setValue(text(in.metadata[i].value));
  }
  auto activities = out.initExchangeActivities(in.exchange_activities.size());
  for (unsigned i = 0; i < activities.size(); ++i) {
    activities[i].setKind(static_cast<wire::ExchangeActivityKind>(in.exchange_activities[i].kind));
    activities[i].setStartCycle(in.exchange_activities[i].start_cycle);
    activities[i].setEndCycle(in.exchange_activities[i].end_cycle);
  }
}

void build_bindings(capnp::List<wire::Binding>::Builder out, const std::vector<Binding>& in) {
  for (unsigned i = 0; i < out.size(); ++i) {
    out[i].setName(text(in[i].name));
    out[i].setDtype(text(in[i].dtype));
    auto shape = out[i].initShape(in[i].shape.size());
    for (unsigned k = 0; k < shape.size(); ++k) shape.set(k, in[i].shape[k]);
    auto slices = out[i].initSlices(in[i].slices.size());
    for (unsigned k = 0; k < slices.size(); ++k) {
      slices[k].setTile(in[i].slices[k].tile);
      slices[k].setTileAddress(in[i].slices[k].tile_address);
      slices[k].setFileOffset(in[i].slices[k].file_offset);
      slices[k].setSize(in[i].slices[k].size);
    }
  }
}

void build_host_slices(capnp::List<wire::HostSlice>::Builder out, const std::vector<HostSlice>& in) {
  for (unsigned i = 0; i < out.size(); ++i) {
    out[i].setPage(in[i].page);
    out[i].setPageOffset(in[i].page_offset);
    out[i].setFileOffset(in[i].file_offset);
    out[i].setSize(in[i].size);
  }
}

void build_host_exchange(wire::HostExchange::Builder out, const HostExchange& in) {
  out.setStartupMark(in.startup_mark);
  out.setCommandPage(in.command_page);
  out.setCommandOffset(in.command_offset);
  auto pages = out.initPages(in.pages.size());
  for (unsigned i = 0; i < pages.size(); ++i) {
    pages[i].setIndex(in.pages[i].index);
    pages[i].setSize(in.pages[i].size);
  }
  auto order = out.initAttachOrder(in.attach_order.size());
  for (unsigned i = 0; i < order.size(); ++i) order.set(i, in.attach_order[i]);
  auto calls = out.initCalls(in.calls.size());
  for (unsigned i = 0; i < calls.size(); ++i) {
    const auto& call = in.calls[i];
    calls[i].setName(text(call.name));
    calls[i].setCommand(call.command);
    calls[i].setPhases(call.phases);
    calls[i].setInvocations(call.invocations);
    auto input_ends = calls[i].initInputBatchEnds(call.input_batch_ends.size());
    for (unsigned k = 0; k < input_ends.size(); ++k) input_ends.set(k, call.input_batch_ends[k]);
    auto output_ends = calls[i].initOutputBatchEnds(call.output_batch_ends.size());
    for (unsigned k = 0; k < output_ends.size(); ++k) output_ends.set(k, call.output_batch_ends[k]);
    build_host_slices(calls[i].initInputs(call.inputs.size()), call.inputs);
    build_host_slices(calls[i].initOutputs(call.outputs.size()), call.outputs);
  }
}

void build_package(const Application& app, wire::Application::Builder root) {
  root.setSchemaVersion(PACKAGE_SCHEMA_VERSION);
  root.setCompilerVersion(text(app.compiler_version));
  root.setTarget("morvex21");
  root.setTileMemoryBase(TILE_MEMORY_BASE);
  root.setTileMemorySize(TILE_MEMORY_SIZE);
  auto tiles = root.initTiles(app.tiles.size());
  for (unsigned t = 0; t < tiles.size(); ++t) {
    const auto& tile = app.tiles[t];
    tiles[t].setPhysicalTile(tile.physical_tile);
    tiles[t].setEntryPoint(tile.entry_point);
    tiles[t].setCommandAddress(tile.command_address);
    tiles[t].setDiagnosticAddress(tile.diagnostic_address);
    auto segments = tiles[t].initSegments(tile.segments.size());
    for (unsigned s = 0; s < segments.size(); ++s) {
      segments[s].setAddress(tile.segments[s].address);
      segments[s].setMemorySize(tile.segments[s].memory_size);
      segments[s].setData(capnp::Data::Reader(tile.segments[s].data.data(), tile.segments[s].data.size()));
      segments[s].setFlags(tile.segments[s].flags);
    }
  }
  build_bindings(root.initInputs(app.inputs.size()), app.inputs);
  build_bindings(root.initOutputs(app.outputs.size()), app.outputs);
  build_bindings(root.initWeights(app.weights.size()), app.weights);
  build_host_exchange(root.initHostExchange(), app.host_exchange);
  auto entries = root.initEntryPoints(app.entry_points.size());
  for (unsigned i = 0; i < entries.size(); ++i) {
    entries[i].setName(text(app.entry_points[i].name));
    entries[i].setCommand(app.entry_points[i].command);
    entries[i].setExternalSyncs(app.entry_points[i].external_syncs);
  }
  auto writes = root.initDeviceConfigWrites(app.device_config_writes.size());
  for (unsigned i = 0; i < writes.size(); ++i) {
    writes[i].setOffset(app.device_config_writes[i].offset);
    writes[i].setValue(app.device_config_writes[i].value);
  }
  auto plans = root.initProfileTiles(app.profile_tiles.size());
  for (unsigned p = 0; p < plans.size(); ++p) {
    plans[p].setPhysicalTile(app.profile_tiles[p].physical_tile);
    auto steps = plans[p].initSteps(app.profile_tiles[p].steps.size());
    for (unsigned s = 0; s < steps.size(); ++s) build_step(app.profile_tiles[p].steps[s], steps[s]);
  }
  auto symbols = root.initDebugSymbols(app.debug_symbols.size());
  for (unsigned i = 0; i < symbols.size(); ++i) {
    symbols[i].setName(text(app.debug_symbols[i].name));
    symbols[i].setAddress(app.debug_symbols[i].address);
  }
  auto regions = root.initDebugRegions(app.debug_regions.size());
  for (unsigned i = 0; i < regions.size(); ++i) {
    regions[i].setPhysicalTile(app.debug_regions[i].physical_tile);
    regions[i].setAddress(app.debug_regions[i].address);
    regions[i].setSize(app.debug_regions[i].size);
    regions[i].setName(text(app.debug_regions[i].name));
  }
}

class AppendStream final : public kj::OutputStream {
 public:
  explicit AppendStream(std::vector<std::uint8_t>& out) : out_(out) {}
  void write(const void* buffer, size_t size) override {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    out_.insert(out_.end(), bytes, bytes + size);
  }

 private:
  std::vector<std::uint8_t>& out_;
};

std::vector<std::uint8_t> serialize_exact(capnp::MessageBuilder& message) {
  std::vector<std::uint8_t> out;
  out.reserve(capnp::computeSerializedSizeInWords(message) * sizeof(capnp::word));
  AppendStream stream(out);
  capnp::writeMessage(stream, message);
  return out;
}

// The floor decoders copy every value into the same plain records the
// library returns, lists sized exactly, with no checks of any kind.
std::string copy_text(capnp::Text::Reader text) { return std::string(text.begin(), text.size()); }

template <class List, class Decode>
auto copy_list(List list, Decode decode) {
  std::vector<decltype(decode(list[0]))> out;
  out.reserve(list.size());
  for (const auto element : list) out.push_back(decode(element));
  return out;
}

std::vector<std::uint32_t> copy_u32s(capnp::List<std::uint32_t>::Reader list) {
  std::vector<std::uint32_t> out;
  out.reserve(list.size());
  for (const auto value : list) out.push_back(value);
  return out;
}

ProfileStep copy_step(wire::Step::Reader step) {
  return ProfileStep{
      .local_index = step.getLocalIndex(),
      .phase = step.getPhase(),
      .epoch = step.getEpoch(),
      .operation = copy_text(step.getOperation()),
      .kind = static_cast<ProfileStepKind>(step.getKind()),
      .kernel = copy_text(step.getKernel()),
      .metadata = copy_list(step.getMetadata(),
                            [](wire::Metadata::Reader m) {
                              return ProfileMetadata{copy_text(m.getName()), copy_text(m.getValue())};
                            }),
      .exchange_activities = copy_list(step.getExchangeActivities(),
                                       [](wire::ExchangeActivity::Reader a) {
                                         return ProfileExchangeActivity{
                                             static_cast<ProfileExchangeActivityKind>(a.getKind()),
                                             a.getStartCycle(), a.getEndCycle()};
                                       }),
      .exchange_event_cycles = step.getExchangeEventCycles(),
  };
}

std::vector<Binding> copy_bindings(capnp::List<wire::Binding>::Reader bindings) {
  return copy_list(bindings, [](wire::Binding::Reader b) {
    return Binding{copy_text(b.getName()), copy_text(b.getDtype()), copy_u32s(b.getShape()),
                   copy_list(b.getSlices(), [](wire::RegionSlice::Reader s) {
                     return RegionSlice{s.getTile(), s.getTileAddress(), s.getFileOffset(), s.getSize()};
                   })};
  });
}

std::vector<HostSlice> copy_host_slices(capnp::List<wire::HostSlice>::Reader slices) {
  return copy_list(slices, [](wire::HostSlice::Reader s) {
    return HostSlice{s.getPage(), s.getPageOffset(), s.getFileOffset(), s.getSize()};
  });
}

Application copy_package(wire::Application::Reader root) {
  Application app;
  app.compiler_version = copy_text(root.getCompilerVersion());
  app.tiles = copy_list(root.getTiles(), [](wire::TileImage::Reader t) {
    return TileImage{t.getPhysicalTile(), t.getEntryPoint(), t.getCommandAddress(), t.getDiagnosticAddress(),
                     copy_list(t.getSegments(), [](wire::Segment::Reader s) {
                       const auto data = s.getData();
                       return Segment{s.getAddress(), s.getMemorySize(),
                                      std::vector<std::uint8_t>(data.begin(), data.end()), s.getFlags()};
                     })};
  });
  app.inputs = copy_bindings(root.getInputs());
  app.outputs = copy_bindings(root.getOutputs());
  app.weights = copy_bindings(root.getWeights());
  const auto exchange = root.getHostExchange();
  app.host_exchange = HostExchange{exchange.getStartupMark(),
                                   exchange.getCommandPage(),
                                   exchange.getCommandOffset(),
                                   copy_list(exchange.getPages(),
                                             [](wire::HostPage::Reader p) {
                                               return HostPage{p.getIndex(), p.getSize()};
                                             }),
                                   copy_u32s(exchange.getAttachOrder()),
                                   copy_list(exchange.getCalls(), [](wire::HostCall::Reader c) {
                                     return HostCall{copy_text(c.getName()),
                                                     c.getCommand(),
                                                     c.getPhases(),
                                                     copy_host_slices(c.getInputs()),
                                                     copy_host_slices(c.getOutputs()),
                                                     c.getInvocations(),
                                                     copy_u32s(c.getInputBatchEnds()),
                                                     copy_u32s(c.getOutputBatchEnds())};
                                   })};
  app.entry_points = copy_list(root.getEntryPoints(), [](wire::EntryPoint::Reader e) {
    return EntryPoint{copy_text(e.getName()), e.getCommand(), e.getExternalSyncs()};
  });
  app.device_config_writes = copy_list(root.getDeviceConfigWrites(), [](wire::DeviceConfigWrite::Reader w) {
    return DeviceConfigWrite{w.getOffset(), w.getValue()};
  });
  app.profile_tiles = copy_list(root.getProfileTiles(), [](wire::TileProfilePlan::Reader p) {
    return TileProfilePlan{p.getPhysicalTile(), copy_list(p.getSteps(), copy_step)};
  });
  app.debug_symbols = copy_list(root.getDebugSymbols(), [](wire::DebugSymbol::Reader d) {
    return DebugSymbol{copy_text(d.getName()), d.getAddress()};
  });
  app.debug_regions = copy_list(root.getDebugRegions(), [](wire::DebugRegion::Reader d) {
    return DebugRegion{d.getPhysicalTile(), d.getAddress(), d.getSize(), copy_text(d.getName())};
  });
  return app;
}

kj::ArrayPtr<const capnp::word> as_words(std::span<const std::uint8_t> bytes) {
  return kj::ArrayPtr<const capnp::word>(reinterpret_cast<const capnp::word*>(bytes.data()),
                                         bytes.size() / sizeof(capnp::word));
}

}  // namespace

std::vector<std::uint8_t> raw_write_package(const Application& app) {
  capnp::MallocMessageBuilder message;
  build_package(app, message.initRoot<wire::Application>());
  return serialize_exact(message);
}

std::vector<std::uint8_t> raw_write_report(const ProfileReport& report) {
  capnp::MallocMessageBuilder message;
  auto root = message.initRoot<wire::Profile>();
  root.setSchemaVersion(5);
  root.setClockHz(report.clock_hz);
  auto tiles = root.initTiles(report.tiles.size());
  for (unsigned t = 0; t < tiles.size(); ++t) {
    tiles[t].setPhysicalTile(report.tiles[t].physical_tile);
    auto samples = tiles[t].initSamples(report.tiles[t].samples.size());
    for (unsigned s = 0; s < samples.size(); ++s) {
      const auto& sample = report.tiles[t].samples[s];
      samples[s].setStartCycle(sample.start_cycle);
      samples[s].setEndCycle(sample.end_cycle);
      build_step(sample.step, samples[s].initStep());
    }
  }
  return serialize_exact(message);
}

Application raw_read_package_flat(std::span<const std::uint8_t> bytes) {
  capnp::FlatArrayMessageReader reader(as_words(bytes), unlimited());
  return copy_package(reader.getRoot<wire::Application>());
}

Application raw_read_package_stream(std::span<const std::uint8_t> bytes) {
  kj::ArrayInputStream input(kj::ArrayPtr<const kj::byte>(bytes.data(), bytes.size()));
  capnp::InputStreamMessageReader reader(input, unlimited());
  return copy_package(reader.getRoot<wire::Application>());
}

ProfileReport raw_read_report_flat(std::span<const std::uint8_t> bytes) {
  capnp::FlatArrayMessageReader reader(as_words(bytes), unlimited());
  const auto root = reader.getRoot<wire::Profile>();
  return ProfileReport{root.getClockHz(), copy_list(root.getTiles(), [](wire::TileProfile::Reader t) {
                         return TileProfile{
                             t.getPhysicalTile(), copy_list(t.getSamples(), [](wire::CycleSample::Reader c) {
                               return CycleSample{copy_step(c.getStep()), c.getStartCycle(), c.getEndCycle()};
                             })};
                       })};
}

std::vector<std::vector<std::uint8_t>> plain_tile_copies(const Application& app) {
  std::vector<std::vector<std::uint8_t>> images;
  images.reserve(app.tiles.size());
  for (const auto& tile : app.tiles) {
    std::uint32_t base = ~0u;
    std::uint32_t end = 0;
    for (const auto& s : tile.segments) {
      base = std::min(base, s.address);
      end = std::max(end, s.address + s.memory_size);
    }
    auto& image = images.emplace_back(end - base);
    for (const auto& s : tile.segments)
      std::memcpy(image.data() + (s.address - base), s.data.data(), s.data.size());
  }
  return images;
}

ProfileReport plain_profile_copy(const Application& app, std::span<const std::uint8_t> output,
                                 std::uint64_t profile_base) {
  const auto& slices = app.outputs.back().slices;
  ProfileReport report{.clock_hz = 1, .tiles = {}};
  report.tiles.reserve(app.profile_tiles.size());
  for (std::size_t p = 0; p < app.profile_tiles.size(); ++p) {
    const auto& plan = app.profile_tiles[p];
    const std::uint8_t* counters = output.data() + profile_base + slices[p].file_offset;
    auto& tile = report.tiles.emplace_back(TileProfile{.physical_tile = plan.physical_tile, .samples = {}});
    tile.samples.reserve(plan.steps.size());
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
      std::uint32_t start;
      std::uint32_t end;
      std::memcpy(&start, counters + 4 * i, 4);
      std::memcpy(&end, counters + 4 * i + 4, 4);
      tile.samples.push_back(CycleSample{.step = plan.steps[i], .start_cycle = start, .end_cycle = end});
    }
  }
  return report;
}

}  // namespace morvex_package::bench
