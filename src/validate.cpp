// The structural rules of a package, in the order they are applied. The
// first broken rule decides the error, so the order below is behaviour.

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <morvex_package/application.hpp>

#include "checked_math.hpp"
#include "failure.hpp"
#include "text_format.hpp"
#include "validation.hpp"

namespace morvex_package {
namespace {

using detail::Hex;
using detail::invalid;

constexpr std::uint32_t kWindowEnd = TILE_MEMORY_BASE + TILE_MEMORY_SIZE;  // exclusive
constexpr std::uint32_t kUntiedDebugTile = std::numeric_limits<std::uint32_t>::max();

using TileIds = detail::TileChecks::TileIds;
using Range = detail::TileChecks::Range;
using PageTable = std::unordered_map<std::uint32_t, std::uint64_t>;  // index -> size

bool in_window(std::uint32_t start, std::uint32_t end) {
  return start >= TILE_MEMORY_BASE && end <= kWindowEnd;
}

// Rule: a package has at least one tile.
Result<void> check_tiles_present(const Application& app) {
  if (app.tiles.empty()) return invalid("application has no tiles");
  return {};
}

// Rule: configuration writes go to distinct, 4-byte aligned offsets.
Result<void> check_device_config_writes(const std::vector<DeviceConfigWrite>& writes) {
  std::unordered_set<std::uint32_t> offsets;
  offsets.reserve(writes.size());
  for (const auto& write : writes) {
    if (write.offset % 4 != 0 || !offsets.insert(write.offset).second) {
      return invalid("unaligned or duplicate device configuration write");
    }
  }
  return {};
}

Result<void> check_segment(const TileImage& tile, const Segment& segment) {
  const auto end = detail::checked_add(segment.address, segment.memory_size);
  if (!end) return invalid("segment address overflow");
  if (!in_window(segment.address, *end) || segment.data.size() > segment.memory_size) {
    return invalid("invalid segment on tile ", tile.physical_tile, ": address=0x", Hex{segment.address},
                   " end=0x", Hex{*end}, " memory_size=", segment.memory_size,
                   " data_size=", segment.data.size());
  }
  return {};
}

Result<void> overlap_error(const TileImage& tile, const Range& first, const Range& second) {
  return invalid("overlapping segments on tile ", tile.physical_tile, ": 0x", Hex{first.first}, "..0x",
                 Hex{first.second}, " and 0x", Hex{second.first}, "..0x", Hex{second.second});
}

// The overlap check for segments in any order: sort the non-empty ranges
// by start, then end, and compare neighbours. Touching is fine.
Result<void> check_no_overlap_sorted(const TileImage& tile, std::vector<Range>& ranges) {
  ranges.clear();
  for (const auto& segment : tile.segments) {
    if (segment.memory_size != 0) ranges.emplace_back(segment.address, segment.address + segment.memory_size);
  }
  std::sort(ranges.begin(), ranges.end());
  const auto overlap = std::adjacent_find(ranges.begin(), ranges.end(),
                                          [](const Range& a, const Range& b) { return a.second > b.first; });
  if (overlap != ranges.end()) return overlap_error(tile, *overlap, *std::next(overlap));
  return {};
}

// Every segment lies in the window and holds no more data than its size;
// then no two non-empty segments overlap. Compilers emit segments in address
// order, where neighbours can be compared as they come; any other order is
// sorted first (`scratch` is reused across tiles for that).
Result<void> check_tile_segments(const TileImage& tile, std::vector<Range>& scratch) {
  bool in_order = true;
  std::optional<Range> previous;
  std::optional<std::pair<Range, Range>> first_overlap;
  for (const auto& segment : tile.segments) {
    if (auto checked = check_segment(tile, segment); !checked) return checked;
    if (segment.memory_size == 0) continue;
    const Range range{segment.address, segment.address + segment.memory_size};  // checked not to wrap
    if (previous && range < *previous) in_order = false;
    if (previous && in_order && !first_overlap && previous->second > range.first) {
      first_overlap.emplace(*previous, range);
    }
    previous = range;
  }
  if (!in_order) return check_no_overlap_sorted(tile, scratch);
  if (first_overlap) return overlap_error(tile, first_overlap->first, first_overlap->second);
  return {};
}

// Rule: one plan per existing tile, steps numbered from 0 in list order.
Result<void> check_profile_plans(const std::vector<TileProfilePlan>& plans, const TileIds& tile_ids) {
  TileIds planned;
  planned.reserve(plans.size());
  for (const auto& plan : plans) {
    bool valid = tile_ids.contains(plan.physical_tile) && planned.insert(plan.physical_tile).second;
    for (std::size_t i = 0; valid && i < plan.steps.size(); ++i) {
      valid = plan.steps[i].local_index == i;
    }
    if (!valid) return invalid("invalid tile profile plan");
  }
  return {};
}

// Rule: named symbols; named, non-empty, non-wrapping regions on a known
// tile or on no tile at all.
Result<void> check_debug_map(const Application& app, const TileIds& tile_ids) {
  const auto symbol_ok = [](const DebugSymbol& symbol) { return !symbol.name.empty(); };
  const auto region_ok = [&](const DebugRegion& region) {
    return !region.name.empty() && region.size != 0 &&
           detail::checked_add(region.address, region.size).has_value() &&
           (region.physical_tile == kUntiedDebugTile || tile_ids.contains(region.physical_tile));
  };
  if (!std::all_of(app.debug_symbols.begin(), app.debug_symbols.end(), symbol_ok) ||
      !std::all_of(app.debug_regions.begin(), app.debug_regions.end(), region_ok)) {
    return invalid("invalid package debug map");
  }
  return {};
}

Result<void> check_binding_slices(const Binding& binding, const TileIds& tile_ids) {
  for (const auto& slice : binding.slices) {
    if (slice.size > std::numeric_limits<std::uint32_t>::max()) {
      return invalid("binding ", binding.name, " slice is too large");
    }
    const auto end = detail::checked_add(slice.tile_address, static_cast<std::uint32_t>(slice.size));
    if (!end) return invalid("binding address overflow");
    if (!tile_ids.contains(slice.tile) || !in_window(slice.tile_address, *end)) {
      return invalid("binding ", binding.name, " references invalid tile memory");
    }
  }
  return {};
}

// Rule: binding names are non-empty and unique across inputs, outputs and
// weights; every slice lies in the window of an existing tile.
Result<void> check_bindings(const Application& app, const TileIds& tile_ids) {
  std::unordered_set<std::string_view> names;
  names.reserve(app.inputs.size() + app.outputs.size() + app.weights.size());
  for (const auto* list : {&app.inputs, &app.outputs, &app.weights}) {
    for (const auto& binding : *list) {
      if (binding.name.empty() || !names.insert(binding.name).second) {
        return invalid("empty or duplicate binding ", binding.name);
      }
      if (auto checked = check_binding_slices(binding, tile_ids); !checked) return checked;
    }
  }
  return {};
}

// Rule: page indices are unique and the attach order names only pages.
Result<PageTable> build_host_page_table(const HostExchange& exchange) {
  PageTable pages;
  pages.reserve(exchange.pages.size());
  for (const auto& page : exchange.pages) {
    if (!pages.emplace(page.index, page.size).second) return invalid("invalid host page table");
  }
  for (auto index : exchange.attach_order) {
    if (!pages.contains(index)) return invalid("invalid host page table");
  }
  return pages;
}

// Whether `size` bytes at `offset` lie within the page; an end past 2^64 - 1
// lies outside.
bool within_page(std::uint64_t page_size, std::uint64_t offset, std::uint64_t size) {
  const auto end = detail::checked_add(offset, size);
  return end && *end <= page_size;
}

// Rule: with host calls present, the 4-byte command location lies in an
// existing page.
Result<void> check_startup_protocol(const HostExchange& exchange, const PageTable& pages) {
  if (exchange.calls.empty()) return {};
  const auto page = pages.find(exchange.command_page);
  if (page == pages.end() || !within_page(page->second, exchange.command_offset, 4)) {
    return invalid("invalid host startup protocol");
  }
  return {};
}

Result<void> check_host_slices(const HostCall& call, const PageTable& pages) {
  for (const auto* side : {&call.inputs, &call.outputs}) {
    for (const auto& slice : *side) {
      const auto page = pages.find(slice.page);
      if (page == pages.end()) return invalid("host call ", call.name, " references missing page");
      if (!within_page(page->second, slice.page_offset, slice.size)) {
        return invalid("host call ", call.name, " exceeds page bounds");
      }
    }
  }
  return {};
}

// Rule: every call is invoked, batches both sides explicitly and keeps its
// slices inside existing pages.
Result<void> check_host_calls(const HostExchange& exchange, const PageTable& pages) {
  for (const auto& call : exchange.calls) {
    if (call.invocations == 0) return invalid("host call ", call.name, " has no invocations");
    if (auto checked = validate_host_batch_ends(call, "input", call.input_batch_ends, call.inputs.size());
        !checked) {
      return checked;
    }
    if (auto checked = validate_host_batch_ends(call, "output", call.output_batch_ends, call.outputs.size());
        !checked) {
      return checked;
    }
    if (auto checked = check_host_slices(call, pages); !checked) return checked;
  }
  return {};
}

Result<void> apply_rules(const Application& app, const detail::TileChecks& tiles) {
  if (auto checked = check_tiles_present(app); !checked) return checked;
  if (auto checked = check_device_config_writes(app.device_config_writes); !checked) return checked;
  if (auto checked = tiles.result(); !checked) return checked;
  const TileIds& tile_ids = tiles.ids();  // the tile rules passed: the ids of all tiles
  if (auto checked = check_profile_plans(app.profile_tiles, tile_ids); !checked) return checked;
  if (auto checked = check_debug_map(app, tile_ids); !checked) return checked;
  if (auto checked = check_bindings(app, tile_ids); !checked) return checked;
  const auto pages = build_host_page_table(app.host_exchange);
  if (!pages) return tl::unexpected(pages.error());
  if (auto checked = check_startup_protocol(app.host_exchange, *pages); !checked) return checked;
  return check_host_calls(app.host_exchange, *pages);
}

}  // namespace

namespace detail {

// Rule: tile ids are distinct, every segment lies in the window and holds
// no more data than its size, and segments do not overlap.
void TileChecks::check(const TileImage& tile) {
  if (failure_) return;
  if (!ids_.insert(tile.physical_tile).second) {
    failure_ = invalid("duplicate physical tile ", tile.physical_tile).value();
  } else if (auto checked = check_tile_segments(tile, scratch_); !checked) {
    failure_ = checked.error();
  }
}

Result<void> TileChecks::result() const {
  if (failure_) return tl::unexpected(*failure_);
  return {};
}

Result<void> validate_package(const Application& app, const TileChecks& tiles) {
  return guarded([&] { return apply_rules(app, tiles); });
}

}  // namespace detail

Result<void> Application::validate() const {
  return detail::guarded([&] {
    detail::TileChecks tiles;
    tiles.reserve(this->tiles.size());
    for (const auto& tile : this->tiles) tiles.check(tile);
    return apply_rules(*this, tiles);
  });
}

namespace {

Result<void> check_batch_ends(const HostCall& call, std::string_view side,
                              std::span<const std::uint32_t> batch_ends, std::size_t slice_count) {
  std::size_t covered = 0;
  for (const auto entry : batch_ends) {
    if (!std::in_range<std::size_t>(entry)) return invalid("host batch index exceeds usize");
    const auto end = static_cast<std::size_t>(entry);
    if (end <= covered || end > slice_count) {
      return invalid("host call ", call.name, " has invalid ", side, " batch boundary ", entry);
    }
    covered = end;
  }
  if (covered != slice_count) {
    return invalid("host call ", call.name, " ", side, " batches cover ", covered, " of ", slice_count,
                   " slices");
  }
  return {};
}

}  // namespace

Result<void> validate_host_batch_ends(const HostCall& call, std::string_view side,
                                      std::span<const std::uint32_t> batch_ends, std::size_t slice_count) {
  return detail::guarded([&] { return check_batch_ends(call, side, batch_ends, slice_count); });
}

}  // namespace morvex_package
