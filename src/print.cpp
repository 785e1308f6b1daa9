#include "print.hpp"

#include <morvex_package/application.hpp>

namespace morvex_package {
namespace detail {

void print_quoted(std::ostream& os, std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  os << '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      os << '\\' << c;
    } else if (c == '\n') {
      os << "\\n";
    } else if (byte < 0x20 || byte == 0x7f) {
      os << "\\x" << kHexDigits[byte >> 4] << kHexDigits[byte & 0xf];
    } else {
      os << c;
    }
  }
  os << '"';
}

}  // namespace detail

using detail::RecordPrinter;

std::ostream& operator<<(std::ostream& os, ProfileStepKind kind) {
  switch (kind) {
    case ProfileStepKind::Exchange: return os << "Exchange";
    case ProfileStepKind::Compute: return os << "Compute";
    case ProfileStepKind::Synchronization: return os << "Synchronization";
    case ProfileStepKind::Idle: return os << "Idle";
  }
  return os << "ProfileStepKind(" << static_cast<unsigned>(kind) << ')';
}

std::ostream& operator<<(std::ostream& os, ProfileExchangeActivityKind kind) {
  switch (kind) {
    case ProfileExchangeActivityKind::Send: return os << "Send";
    case ProfileExchangeActivityKind::Receive: return os << "Receive";
    case ProfileExchangeActivityKind::PartnerBusy: return os << "PartnerBusy";
  }
  return os << "ProfileExchangeActivityKind(" << static_cast<unsigned>(kind) << ')';
}

std::ostream& operator<<(std::ostream& os, const ProfileMetadata& m) {
  RecordPrinter(os, "ProfileMetadata").field("name", m.name).field("value", m.value);
  return os;
}

std::ostream& operator<<(std::ostream& os, const ProfileExchangeActivity& a) {
  RecordPrinter(os, "ProfileExchangeActivity")
      .field("kind", a.kind)
      .field("start_cycle", a.start_cycle)
      .field("end_cycle", a.end_cycle);
  return os;
}

std::ostream& operator<<(std::ostream& os, const ProfileStep& s) {
  RecordPrinter(os, "ProfileStep")
      .field("local_index", s.local_index)
      .field("phase", s.phase)
      .field("epoch", s.epoch)
      .field("operation", s.operation)
      .field("kind", s.kind)
      .field("kernel", s.kernel)
      .field("metadata", s.metadata)
      .field("exchange_activities", s.exchange_activities)
      .field("exchange_event_cycles", s.exchange_event_cycles);
  return os;
}

std::ostream& operator<<(std::ostream& os, const CycleSample& s) {
  RecordPrinter(os, "CycleSample")
      .field("step", s.step)
      .field("start_cycle", s.start_cycle)
      .field("end_cycle", s.end_cycle);
  return os;
}

std::ostream& operator<<(std::ostream& os, const TileProfile& p) {
  RecordPrinter(os, "TileProfile").field("physical_tile", p.physical_tile).field("samples", p.samples);
  return os;
}

std::ostream& operator<<(std::ostream& os, const ProfileReport& r) {
  RecordPrinter(os, "ProfileReport").field("clock_hz", r.clock_hz).field("tiles", r.tiles);
  return os;
}

std::ostream& operator<<(std::ostream& os, const Segment& s) {
  RecordPrinter(os, "Segment")
      .field("address", s.address)
      .field("memory_size", s.memory_size)
      .field("data", s.data)
      .field("flags", s.flags);
  return os;
}

std::ostream& operator<<(std::ostream& os, const TileImage& t) {
  RecordPrinter(os, "TileImage")
      .field("physical_tile", t.physical_tile)
      .field("entry_point", t.entry_point)
      .field("command_address", t.command_address)
      .field("diagnostic_address", t.diagnostic_address)
      .field("segments", t.segments);
  return os;
}

std::ostream& operator<<(std::ostream& os, const RegionSlice& s) {
  RecordPrinter(os, "RegionSlice")
      .field("tile", s.tile)
      .field("tile_address", s.tile_address)
      .field("file_offset", s.file_offset)
      .field("size", s.size);
  return os;
}

std::ostream& operator<<(std::ostream& os, const Binding& b) {
  RecordPrinter(os, "Binding")
      .field("name", b.name)
      .field("dtype", b.dtype)
      .field("shape", b.shape)
      .field("slices", b.slices);
  return os;
}

std::ostream& operator<<(std::ostream& os, const HostPage& p) {
  RecordPrinter(os, "HostPage").field("index", p.index).field("size", p.size);
  return os;
}

std::ostream& operator<<(std::ostream& os, const HostSlice& s) {
  RecordPrinter(os, "HostSlice")
      .field("page", s.page)
      .field("page_offset", s.page_offset)
      .field("file_offset", s.file_offset)
      .field("size", s.size);
  return os;
}

std::ostream& operator<<(std::ostream& os, const HostCall& c) {
  RecordPrinter(os, "HostCall")
      .field("name", c.name)
      .field("command", c.command)
      .field("phases", c.phases)
      .field("inputs", c.inputs)
      .field("outputs", c.outputs)
      .field("invocations", c.invocations)
      .field("input_batch_ends", c.input_batch_ends)
      .field("output_batch_ends", c.output_batch_ends);
  return os;
}

std::ostream& operator<<(std::ostream& os, const HostExchange& h) {
  RecordPrinter(os, "HostExchange")
      .field("startup_mark", h.startup_mark)
      .field("command_page", h.command_page)
      .field("command_offset", h.command_offset)
      .field("pages", h.pages)
      .field("attach_order", h.attach_order)
      .field("calls", h.calls);
  return os;
}

std::ostream& operator<<(std::ostream& os, const EntryPoint& e) {
  RecordPrinter(os, "EntryPoint")
      .field("name", e.name)
      .field("command", e.command)
      .field("external_syncs", e.external_syncs);
  return os;
}

std::ostream& operator<<(std::ostream& os, const DeviceConfigWrite& w) {
  RecordPrinter(os, "DeviceConfigWrite").field("offset", w.offset).field("value", w.value);
  return os;
}

std::ostream& operator<<(std::ostream& os, const TileProfilePlan& p) {
  RecordPrinter(os, "TileProfilePlan").field("physical_tile", p.physical_tile).field("steps", p.steps);
  return os;
}

std::ostream& operator<<(std::ostream& os, const DebugSymbol& s) {
  RecordPrinter(os, "DebugSymbol").field("name", s.name).field("address", s.address);
  return os;
}

std::ostream& operator<<(std::ostream& os, const DebugRegion& r) {
  RecordPrinter(os, "DebugRegion")
      .field("physical_tile", r.physical_tile)
      .field("address", r.address)
      .field("size", r.size)
      .field("name", r.name);
  return os;
}

std::ostream& operator<<(std::ostream& os, const Application& a) {
  RecordPrinter(os, "Application")
      .field("compiler_version", a.compiler_version)
      .field("tiles", a.tiles)
      .field("inputs", a.inputs)
      .field("outputs", a.outputs)
      .field("weights", a.weights)
      .field("host_exchange", a.host_exchange)
      .field("entry_points", a.entry_points)
      .field("device_config_writes", a.device_config_writes)
      .field("profile_tiles", a.profile_tiles)
      .field("debug_symbols", a.debug_symbols)
      .field("debug_regions", a.debug_regions);
  return os;
}

}  // namespace morvex_package
