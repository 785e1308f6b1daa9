#include "random_package.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <utility>

// Every draw below happens in a fixed order: draws are taken into locals or
// inside braced initialisers (which run left to right), never as two
// arguments of one call, whose order the language leaves open.

namespace morvex_package::tests {
namespace {

constexpr std::uint64_t kWindowEnd = std::uint64_t{TILE_MEMORY_BASE} + TILE_MEMORY_SIZE;  // exclusive
constexpr std::uint32_t kUntiedTile = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();

// One draw in four is an edge value, where arithmetic tends to go wrong.
std::uint32_t any_u32(SeededRandom& random) {
  static constexpr std::uint32_t kEdges[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  if (random.uniform(0, 3) == 0) return kEdges[random.uniform(0, std::size(kEdges) - 1)];
  return static_cast<std::uint32_t>(random.uniform(0, kMaxU32));
}

std::uint64_t any_u64(SeededRandom& random) {
  static constexpr std::uint64_t kEdges[] = {
      0, 1, 0xFFFFFFFF, 0x100000000, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFE, 0xFFFFFFFFFFFFFFFF};
  if (random.uniform(0, 3) == 0) return kEdges[random.uniform(0, std::size(kEdges) - 1)];
  return random.next();
}

template <class T>
const T& pick(SeededRandom& random, const std::vector<T>& items) {
  return items[random.uniform(0, items.size() - 1)];
}

template <class T>
void shuffle(SeededRandom& random, std::vector<T>& items) {
  for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[random.uniform(0, i - 1)]);
}

char32_t random_code_point(SeededRandom& random) {
  static constexpr char32_t kEdges[] = {0x00,   0x7F,   0x80,   0x7FF,   0x800,   0xD7FF,
                                        0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF};
  switch (random.uniform(0, 5)) {
    case 0: return kEdges[random.uniform(0, std::size(kEdges) - 1)];
    case 1: return static_cast<char32_t>(random.uniform(0x80, 0x7FF));
    case 2: {
      // Three-byte forms without the surrogates D800..DFFF.
      const auto value = static_cast<char32_t>(random.uniform(0x800, 0xF7FF));
      return value >= 0xD800 ? value + 0x800 : value;
    }
    case 3: return static_cast<char32_t>(random.uniform(0x10000, 0x10FFFF));
    default: return static_cast<char32_t>(random.uniform(0, 0x7F));
  }
}

void append_utf8(std::string& out, char32_t c) {
  const auto byte = [&](std::uint32_t value) { out.push_back(static_cast<char>(value)); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | c >> 6);
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | c >> 12);
    byte(0x80 | (c >> 6 & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | c >> 18);
    byte(0x80 | (c >> 12 & 0x3F));
    byte(0x80 | (c >> 6 & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

std::string text_between(SeededRandom& random, std::size_t min_code_points, std::size_t max_code_points) {
  std::string out;
  const auto count = random.uniform(min_code_points, max_code_points);
  for (std::uint64_t i = 0; i < count; ++i) append_utf8(out, random_code_point(random));
  return out;
}

// Draws the parts of one package. `scale` bounds every list length.
class PackageDraw {
 public:
  PackageDraw(SeededRandom& random, std::uint32_t scale) : random_(random), scale_(scale) {}

  Application package() {
    Application app;
    if (random_.coin()) app.compiler_version = text();
    app.tiles = tiles();
    app.inputs = bindings();
    app.outputs = bindings();
    app.weights = bindings();
    app.host_exchange = host_exchange();
    app.entry_points = entry_points();
    app.device_config_writes = device_config_writes();
    app.profile_tiles = profile_plans();
    app.debug_symbols = debug_symbols();
    app.debug_regions = debug_regions();
    return app;
  }

  ProfileReport report() {
    ProfileReport report{.clock_hz = any_u64(random_), .tiles = {}};
    const auto tile_count = count();
    for (std::size_t t = 0; t < tile_count; ++t) {
      TileProfile tile{.physical_tile = any_u32(random_), .samples = {}};
      const auto sample_count = count();
      for (std::size_t s = 0; s < sample_count; ++s) {
        tile.samples.push_back(CycleSample{
            .step = step(static_cast<std::uint32_t>(s)),
            .start_cycle = any_u32(random_),
            .end_cycle = any_u32(random_),
        });
      }
      report.tiles.push_back(std::move(tile));
    }
    return report;
  }

  ProfiledRun profiled_run() {
    ProfiledRun run{.app = package(), .output = {}, .clock_hz = any_u64(random_), .report = {}};
    Application& app = run.app;
    if (app.profile_tiles.empty()) {
      app.profile_tiles.push_back(
          TileProfilePlan{.physical_tile = app.tiles.front().physical_tile, .steps = {}});
      const auto step_count = count();
      for (std::size_t i = 0; i < step_count; ++i) {
        app.profile_tiles.back().steps.push_back(step(static_cast<std::uint32_t>(i)));
      }
    }

    // Output bindings lie back to back: a few small ones, then the counters,
    // then some that decoding never looks at.
    app.outputs.clear();
    std::uint64_t base = 0;
    const auto prefix_count = random_.uniform(0, 2);
    for (std::uint64_t i = 0; i < prefix_count; ++i) {
      Binding prefix{.name = name(), .dtype = text(), .shape = {}, .slices = {}};
      const auto slice_count = random_.uniform(0, 2);
      for (std::uint64_t k = 0; k < slice_count; ++k) {
        const auto file_offset = random_.uniform(0, 64);
        const auto size = random_.uniform(0, 64);
        prefix.slices.push_back(region_slice(file_offset, size));
      }
      base += binding_size(prefix);
      app.outputs.push_back(std::move(prefix));
    }

    Binding cycles{.name = "profile.cycles", .dtype = "u32", .shape = {}, .slices = {}};
    std::vector<std::uint64_t> offsets;  // of each plan's counters within the binding
    std::uint64_t offset = random_.uniform(0, 8);
    for (const auto& plan : app.profile_tiles) {
      const std::uint64_t size = (plan.steps.size() + 1) * 4;
      if (random_.uniform(0, 3) == 0) {
        // An earlier slice for the same tile: the last one is the one that counts.
        const auto decoy_offset = random_.uniform(0, 256);
        const auto decoy_size = random_.uniform(0, 64);
        cycles.slices.push_back(region_slice(decoy_offset, decoy_size, plan.physical_tile));
      }
      cycles.slices.push_back(region_slice(offset, size, plan.physical_tile));
      offsets.push_back(offset);
      offset += size + random_.uniform(0, 8);
    }
    const std::uint64_t cycles_size = binding_size(cycles);
    app.outputs.push_back(std::move(cycles));
    const auto suffix_count = random_.uniform(0, 1);
    for (std::uint64_t i = 0; i < suffix_count; ++i) app.outputs.push_back(binding());

    run.output.resize(base + cycles_size + random_.uniform(0, 8));
    for (auto& byte : run.output) byte = static_cast<std::uint8_t>(random_.uniform(0, 0xFF));
    run.report.clock_hz = run.clock_hz;
    for (std::size_t p = 0; p < app.profile_tiles.size(); ++p) {
      const auto& plan = app.profile_tiles[p];
      std::vector<std::uint32_t> counters;
      for (std::size_t i = 0; i <= plan.steps.size(); ++i) {
        const std::uint32_t counter = any_u32(random_);
        counters.push_back(counter);
        for (int b = 0; b < 4; ++b) {
          run.output[base + offsets[p] + i * 4 + b] = static_cast<std::uint8_t>(counter >> (8 * b));
        }
      }
      TileProfile tile{.physical_tile = plan.physical_tile, .samples = {}};
      for (std::size_t i = 0; i < plan.steps.size(); ++i) {
        tile.samples.push_back(
            CycleSample{.step = plan.steps[i], .start_cycle = counters[i], .end_cycle = counters[i + 1]});
      }
      run.report.tiles.push_back(std::move(tile));
    }
    return run;
  }

 private:
  std::size_t count() { return random_.uniform(0, scale_); }
  std::string text() { return text_between(random_, 0, 10); }
  std::string label() { return text_between(random_, 1, 10); }  // never empty
  // Unique and never empty: what follows the last '/' differs between names.
  std::string name() { return text_between(random_, 0, 6) + "/" + std::to_string(next_name_++); }

  std::vector<TileImage> tiles() {
    const std::size_t tile_count = 1 + count();
    std::set<std::uint32_t> ids;
    while (ids.size() < tile_count) {
      ids.insert(random_.coin() ? static_cast<std::uint32_t>(random_.uniform(0, 2 * scale_ + 1))
                                : any_u32(random_));
    }
    tile_ids_.assign(ids.begin(), ids.end());
    shuffle(random_, tile_ids_);
    std::vector<TileImage> out;
    for (const auto id : tile_ids_) {
      out.push_back(TileImage{.physical_tile = id,
                              .entry_point = any_u32(random_),
                              .command_address = any_u32(random_),
                              .diagnostic_address = any_u32(random_),
                              .segments = segments()});
    }
    return out;
  }

  // Non-empty segments in address order with gaps or touching, the last one
  // sometimes ending at the window's end; empty ones anywhere in the
  // window, its end included. Stored in random order.
  std::vector<Segment> segments() {
    std::vector<Segment> out;
    const auto segment_count = count();
    std::uint64_t cursor = TILE_MEMORY_BASE + gap();
    for (std::size_t i = 0; i < segment_count; ++i) {
      if (random_.uniform(0, 4) == 0) {
        const auto address = random_.uniform(TILE_MEMORY_BASE, kWindowEnd);
        out.push_back(segment(address, 0));
        continue;
      }
      const std::uint64_t size = random_.coin() ? random_.uniform(1, 64) : random_.uniform(1, 0x4000);
      std::uint64_t address = cursor;
      if (i + 1 == segment_count && random_.coin() && kWindowEnd - size >= cursor)
        address = kWindowEnd - size;
      if (address + size > kWindowEnd) break;
      out.push_back(segment(address, size));
      cursor = address + size + gap();
    }
    shuffle(random_, out);
    return out;
  }

  std::uint64_t gap() { return random_.coin() ? 0 : random_.uniform(1, 256); }

  // The data covers all, part or none of the segment; the rest is zero fill.
  Segment segment(std::uint64_t address, std::uint64_t size) {
    const std::uint64_t held = std::min<std::uint64_t>(size, 48);
    const auto data_size = random_.coin() ? held : random_.uniform(0, held);
    Segment out{.address = static_cast<std::uint32_t>(address),
                .memory_size = static_cast<std::uint32_t>(size),
                .data = {},
                .flags = 0};
    for (std::uint64_t i = 0; i < data_size; ++i)
      out.data.push_back(static_cast<std::uint8_t>(random_.next()));
    out.flags = any_u32(random_);
    return out;
  }

  // A slice in the window of `tile`, or of a random tile.
  RegionSlice region_slice(std::uint64_t file_offset, std::uint64_t size,
                           std::optional<std::uint32_t> tile = std::nullopt) {
    const std::uint32_t on = tile ? *tile : pick(random_, tile_ids_);
    const auto address = random_.uniform(TILE_MEMORY_BASE, kWindowEnd - size);
    return RegionSlice{.tile = on,
                       .tile_address = static_cast<std::uint32_t>(address),
                       .file_offset = file_offset,
                       .size = size};
  }

  Binding binding() {
    Binding out{.name = name(), .dtype = text(), .shape = {}, .slices = {}};
    const auto rank = random_.uniform(0, 4);
    for (std::uint64_t i = 0; i < rank; ++i) out.shape.push_back(any_u32(random_));
    const auto slice_count = count();
    for (std::size_t i = 0; i < slice_count; ++i) {
      const auto file_offset = any_u64(random_);
      const std::uint64_t size =
          random_.coin() ? random_.uniform(0, 64) : random_.uniform(0, TILE_MEMORY_SIZE);
      out.slices.push_back(region_slice(file_offset, size));
    }
    return out;
  }

  std::vector<Binding> bindings() {
    std::vector<Binding> out;
    const auto binding_count = count();
    for (std::size_t i = 0; i < binding_count; ++i) out.push_back(binding());
    return out;
  }

  HostExchange host_exchange() {
    HostExchange out{.startup_mark = any_u32(random_),
                     .command_page = any_u32(random_),
                     .command_offset = any_u64(random_),
                     .pages = {},
                     .attach_order = {},
                     .calls = {}};
    const auto page_count = count();
    std::set<std::uint32_t> indices;
    while (indices.size() < page_count) {
      indices.insert(random_.coin() ? static_cast<std::uint32_t>(random_.uniform(0, 2 * scale_ + 1))
                                    : any_u32(random_));
    }
    for (const auto index : indices) {
      const std::uint64_t size = random_.coin() ? random_.uniform(0, 0x10000) : any_u64(random_);
      out.pages.push_back(HostPage{.index = index, .size = size});
    }
    shuffle(random_, out.pages);
    if (out.pages.empty()) return out;

    const auto attached = count();
    for (std::size_t i = 0; i < attached; ++i) out.attach_order.push_back(pick(random_, out.pages).index);

    // Calls need a 4-byte command location inside a page.
    std::vector<HostPage> command_pages;
    std::copy_if(out.pages.begin(), out.pages.end(), std::back_inserter(command_pages),
                 [](const HostPage& page) { return page.size >= 4; });
    if (command_pages.empty()) return out;
    const HostPage command_page = pick(random_, command_pages);
    out.command_page = command_page.index;
    out.command_offset = random_.uniform(0, command_page.size - 4);
    const auto call_count = count();
    for (std::size_t i = 0; i < call_count; ++i) out.calls.push_back(host_call(out.pages));
    return out;
  }

  HostCall host_call(const std::vector<HostPage>& pages) {
    HostCall out{.name = text(), .command = any_u32(random_), .phases = any_u32(random_)};
    out.inputs = host_slices(pages);
    out.outputs = host_slices(pages);
    out.invocations = random_.coin() ? 1 : static_cast<std::uint32_t>(random_.uniform(1, kMaxU32));
    out.input_batch_ends = batch_ends(out.inputs.size());
    out.output_batch_ends = batch_ends(out.outputs.size());
    return out;
  }

  std::vector<HostSlice> host_slices(const std::vector<HostPage>& pages) {
    std::vector<HostSlice> out;
    const auto slice_count = count();
    for (std::size_t i = 0; i < slice_count; ++i) {
      const HostPage& page = pick(random_, pages);
      const auto size = random_.uniform(0, std::min<std::uint64_t>(page.size, 4096));
      const auto page_offset = random_.uniform(0, page.size - size);
      out.push_back(HostSlice{
          .page = page.index, .page_offset = page_offset, .file_offset = any_u64(random_), .size = size});
    }
    return out;
  }

  // Strictly rising, the last one equal to the slice count; none without slices.
  std::vector<std::uint32_t> batch_ends(std::size_t slices) {
    std::vector<std::uint32_t> out;
    for (std::size_t end = 1; end < slices; ++end) {
      if (random_.coin()) out.push_back(static_cast<std::uint32_t>(end));
    }
    if (slices != 0) out.push_back(static_cast<std::uint32_t>(slices));
    return out;
  }

  std::vector<EntryPoint> entry_points() {
    std::vector<EntryPoint> out;
    const auto entry_count = count();
    for (std::size_t i = 0; i < entry_count; ++i) {
      out.push_back(
          EntryPoint{.name = text(), .command = any_u32(random_), .external_syncs = any_u32(random_)});
    }
    return out;
  }

  std::vector<DeviceConfigWrite> device_config_writes() {
    const auto write_count = count();
    std::set<std::uint32_t> offsets;
    while (offsets.size() < write_count) offsets.insert(any_u32(random_) & ~std::uint32_t{3});
    std::vector<DeviceConfigWrite> out;
    for (const auto offset : offsets)
      out.push_back(DeviceConfigWrite{.offset = offset, .value = any_u32(random_)});
    shuffle(random_, out);
    return out;
  }

  std::vector<TileProfilePlan> profile_plans() {
    std::vector<TileProfilePlan> out;
    for (const auto id : tile_ids_) {
      if (!random_.coin()) continue;
      TileProfilePlan plan{.physical_tile = id, .steps = {}};
      const auto step_count = count();
      for (std::size_t i = 0; i < step_count; ++i) plan.steps.push_back(step(static_cast<std::uint32_t>(i)));
      out.push_back(std::move(plan));
    }
    return out;
  }

  ProfileStep step(std::uint32_t local_index) {
    ProfileStep out{
        .local_index = local_index,
        .phase = any_u32(random_),
        .epoch = any_u32(random_),
        .operation = text(),
        .kind = static_cast<ProfileStepKind>(random_.uniform(0, 3)),
        .kernel = text(),
        .metadata = {},
        .exchange_activities = {},
        .exchange_event_cycles = any_u32(random_),
    };
    const auto metadata_count = random_.uniform(0, std::min<std::uint32_t>(scale_, 3));
    for (std::uint64_t i = 0; i < metadata_count; ++i) {
      out.metadata.push_back(ProfileMetadata{.name = text(), .value = text()});
    }
    const auto activity_count = random_.uniform(0, std::min<std::uint32_t>(scale_, 3));
    for (std::uint64_t i = 0; i < activity_count; ++i) {
      out.exchange_activities.push_back(
          ProfileExchangeActivity{.kind = static_cast<ProfileExchangeActivityKind>(random_.uniform(0, 2)),
                                  .start_cycle = any_u32(random_),
                                  .end_cycle = any_u32(random_)});
    }
    return out;
  }

  std::vector<DebugSymbol> debug_symbols() {
    std::vector<DebugSymbol> out;
    const auto symbol_count = count();
    for (std::size_t i = 0; i < symbol_count; ++i) {
      out.push_back(DebugSymbol{.name = label(), .address = any_u32(random_)});
    }
    return out;
  }

  // Non-empty and not wrapping, on a tile or on none.
  std::vector<DebugRegion> debug_regions() {
    std::vector<DebugRegion> out;
    const auto region_count = count();
    for (std::size_t i = 0; i < region_count; ++i) {
      const auto tile = random_.coin() ? pick(random_, tile_ids_) : kUntiedTile;
      const auto size = random_.coin() ? random_.uniform(1, 64) : random_.uniform(1, kMaxU32);
      const auto address = random_.uniform(0, kMaxU32 - size);
      out.push_back(DebugRegion{.physical_tile = tile,
                                .address = static_cast<std::uint32_t>(address),
                                .size = static_cast<std::uint32_t>(size),
                                .name = label()});
    }
    return out;
  }

  SeededRandom& random_;
  std::uint32_t scale_;
  std::uint32_t next_name_ = 0;
  std::vector<std::uint32_t> tile_ids_;
};

}  // namespace

std::string random_text(SeededRandom& random, std::size_t max_code_points) {
  return text_between(random, 0, max_code_points);
}

Application random_package(SeededRandom& random, std::uint32_t scale) {
  return PackageDraw(random, scale).package();
}

ProfileReport random_report(SeededRandom& random, std::uint32_t scale) {
  return PackageDraw(random, scale).report();
}

ProfiledRun random_profiled_run(SeededRandom& random, std::uint32_t scale) {
  return PackageDraw(random, scale).profiled_run();
}

}  // namespace morvex_package::tests
