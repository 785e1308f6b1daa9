#pragma once

// The application package: records, header constants and operations.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <capnp/message.h>
#include <kj/io.h>

#include <morvex_package/error.hpp>
#include <morvex_package/profile_report.hpp>
#include <morvex_package/profile_step.hpp>

namespace morvex_package {

inline constexpr std::uint32_t PACKAGE_SCHEMA_VERSION = 5;
inline constexpr std::string_view PACKAGE_TARGET = "morvex21";
// Tile addresses from TILE_MEMORY_BASE up to, not including,
// TILE_MEMORY_BASE + TILE_MEMORY_SIZE (0xE8000) are loadable.
inline constexpr std::uint32_t TILE_MEMORY_BASE = 0x4C000;
inline constexpr std::uint32_t TILE_MEMORY_SIZE = 0x9C000;

struct Segment {
  std::uint32_t address = 0;
  std::uint32_t memory_size = 0;   // bytes occupied; what `data` leaves is zero
  std::vector<std::uint8_t> data;  // at most memory_size bytes
  std::uint32_t flags = 0;         // carried, never interpreted
  bool operator==(const Segment&) const = default;
};

struct TileImage {
  std::uint32_t physical_tile = 0;
  std::uint32_t entry_point = 0;
  std::uint32_t command_address = 0;
  std::uint32_t diagnostic_address = 0;
  std::vector<Segment> segments;
  bool operator==(const TileImage&) const = default;
};

// One piece of a binding's bytes in one tile's memory.
struct RegionSlice {
  std::uint32_t tile = 0;
  std::uint32_t tile_address = 0;
  std::uint64_t file_offset = 0;  // offset within the binding's host-side bytes
  std::uint64_t size = 0;
  bool operator==(const RegionSlice&) const = default;
};

struct Binding {
  std::string name;
  std::string dtype;
  std::vector<std::uint32_t> shape;
  std::vector<RegionSlice> slices;
  bool operator==(const Binding&) const = default;
};

struct HostPage {
  std::uint32_t index = 0;
  std::uint64_t size = 0;
  bool operator==(const HostPage&) const = default;
};

struct HostSlice {
  std::uint32_t page = 0;
  std::uint64_t page_offset = 0;
  std::uint64_t file_offset = 0;
  std::uint64_t size = 0;
  bool operator==(const HostSlice&) const = default;
};

struct HostCall {
  std::string name;
  std::uint32_t command = 0;
  std::uint32_t phases = 0;
  std::vector<HostSlice> inputs;
  std::vector<HostSlice> outputs;
  std::uint32_t invocations = 1;
  // Each entry is one past the last slice of a batch; the last entry equals
  // the side's slice count. Only a side without slices may list none.
  std::vector<std::uint32_t> input_batch_ends;
  std::vector<std::uint32_t> output_batch_ends;
  bool operator==(const HostCall&) const = default;
};

struct HostExchange {
  std::uint32_t startup_mark = 0;
  std::uint32_t command_page = 0;
  std::uint64_t command_offset = 0;
  std::vector<HostPage> pages;
  std::vector<std::uint32_t> attach_order;
  std::vector<HostCall> calls;
  bool operator==(const HostExchange&) const = default;
};

struct EntryPoint {
  std::string name;
  std::uint32_t command = 0;
  std::uint32_t external_syncs = 0;
  bool operator==(const EntryPoint&) const = default;
};

struct DeviceConfigWrite {
  std::uint32_t offset = 0;
  std::uint32_t value = 0;
  bool operator==(const DeviceConfigWrite&) const = default;
};

struct TileProfilePlan {
  std::uint32_t physical_tile = 0;
  std::vector<ProfileStep> steps;  // in execution order
  bool operator==(const TileProfilePlan&) const = default;
};

struct DebugSymbol {
  std::string name;
  std::uint32_t address = 0;
  bool operator==(const DebugSymbol&) const = default;
};

// A region whose physical_tile has all 32 bits set is tied to no tile.
struct DebugRegion {
  std::uint32_t physical_tile = 0;
  std::uint32_t address = 0;
  std::uint32_t size = 0;
  std::string name;
  bool operator==(const DebugRegion&) const = default;
};

struct Application {
  std::string compiler_version = "0.1.0";
  std::vector<TileImage> tiles;
  std::vector<Binding> inputs;
  std::vector<Binding> outputs;
  std::vector<Binding> weights;
  HostExchange host_exchange;
  std::vector<EntryPoint> entry_points;
  std::vector<DeviceConfigWrite> device_config_writes;
  std::vector<TileProfilePlan> profile_tiles;
  std::vector<DebugSymbol> debug_symbols;
  std::vector<DebugRegion> debug_regions;

  // Applies the structural rules in their fixed order; the first broken
  // rule decides the error.
  Result<void> validate() const;

  // Validates, then stores the package as one unpacked, framed message.
  Result<void> write(kj::OutputStream& output) const;
  Result<void> write(std::vector<std::uint8_t>& output) const;  // appends to output

  // Reads one message, checks its header and returns the package once it
  // passes validation. Bytes after the message are not looked at, and a
  // stream is left just after the message.
  static Result<Application> read(kj::InputStream& input);
  static Result<Application> read(std::span<const std::uint8_t> input);

  // The tile's memory from its lowest segment address to its highest segment
  // end: segment data in place, zero everywhere else.
  Result<std::vector<std::uint8_t>> tile_image(std::uint32_t physical_tile) const;

  // Pairs each profiled tile's planned steps with adjacent cycle counters
  // from the "profile.cycles" output binding of a runtime output.
  Result<ProfileReport> profile_report(std::span<const std::uint8_t> output, std::uint64_t clock_hz) const;

  bool operator==(const Application&) const = default;
};

// Checks one side ("input" or "output") of a host call: the batch ends rise
// strictly and the last one equals `slice_count`.
Result<void> validate_host_batch_ends(const HostCall& call, std::string_view side,
                                      std::span<const std::uint32_t> batch_ends, std::size_t slice_count);

// Extent of a binding in a runtime output: the largest slice end
// (file_offset + size, saturating at 2^64 - 1), or 0 without slices.
std::uint64_t binding_size(const Binding& binding);

// Reader options of every read: no traversal limit, nesting limit 64.
capnp::ReaderOptions capnp_reader_options();

std::ostream& operator<<(std::ostream& os, const Segment& segment);
std::ostream& operator<<(std::ostream& os, const TileImage& tile);
std::ostream& operator<<(std::ostream& os, const RegionSlice& slice);
std::ostream& operator<<(std::ostream& os, const Binding& binding);
std::ostream& operator<<(std::ostream& os, const HostPage& page);
std::ostream& operator<<(std::ostream& os, const HostSlice& slice);
std::ostream& operator<<(std::ostream& os, const HostCall& call);
std::ostream& operator<<(std::ostream& os, const HostExchange& exchange);
std::ostream& operator<<(std::ostream& os, const EntryPoint& entry);
std::ostream& operator<<(std::ostream& os, const DeviceConfigWrite& write);
std::ostream& operator<<(std::ostream& os, const TileProfilePlan& plan);
std::ostream& operator<<(std::ostream& os, const DebugSymbol& symbol);
std::ostream& operator<<(std::ostream& os, const DebugRegion& region);
std::ostream& operator<<(std::ostream& os, const Application& application);

}  // namespace morvex_package
