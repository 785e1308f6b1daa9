// `info`: a readable summary of a package, one section per kind of record.

#include <algorithm>
#include <limits>
#include <map>
#include <ostream>

#include "commands.hpp"
#include "text_format.hpp"

namespace morvex_package::tool {
namespace {

using Align = TextTable::Align;

constexpr std::uint32_t kUntiedDebugTile = std::numeric_limits<std::uint32_t>::max();

void print_section(std::ostream& out, std::string_view title, const TextTable& table) {
  out << '\n' << title << '\n';
  if (table.empty()) {
    out << "  (none)\n";
  } else {
    table.print(out, "  ");
  }
}

// "a, b, c", or "(none)" for no items.
std::string joined(const std::vector<std::string>& items) {
  if (items.empty()) return "(none)";
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

std::string shape_text(const std::vector<std::uint32_t>& shape) {
  std::string text = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i != 0) text += ", ";
    text += std::to_string(shape[i]);
  }
  return text + "]";
}

void print_tiles(const Application& app, std::ostream& out) {
  std::uint64_t memory_bytes = 0;
  std::uint64_t stored_bytes = 0;
  std::uint64_t lowest = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t highest = 0;
  for (const auto& tile : app.tiles) {
    for (const auto& segment : tile.segments) {
      memory_bytes += segment.memory_size;
      stored_bytes += segment.data.size();
      lowest = std::min<std::uint64_t>(lowest, segment.address);
      highest = std::max<std::uint64_t>(highest, std::uint64_t{segment.address} + segment.memory_size);
    }
  }
  out << "tiles             " << app.tiles.size() << '\n';
  out << "segment bytes     " << memory_bytes << " (" << stored_bytes << " stored)\n";
  out << "addresses in use  ";
  if (lowest > highest) {
    out << "none\n";
  } else {
    out << hex(lowest) << ".." << hex(highest) << '\n';
  }
}

void print_bindings(const Application& app, std::ostream& out) {
  TextTable table(
      {{"kind"}, {"name"}, {"dtype"}, {"shape"}, {"bytes", Align::Right}, {"slices", Align::Right}});
  const std::pair<const char*, const std::vector<Binding>*> lists[] = {
      {"input", &app.inputs}, {"output", &app.outputs}, {"weight", &app.weights}};
  for (const auto& [kind, bindings] : lists) {
    for (const auto& binding : *bindings) {
      table.add_row({kind, binding.name, binding.dtype, shape_text(binding.shape),
                     std::to_string(binding_size(binding)), std::to_string(binding.slices.size())});
    }
  }
  print_section(out, "bindings", table);
}

// Batch ends list one past each batch's last slice: [2, 3] is slices 0..1
// and then slice 2.
std::string batches_text(const std::vector<HostSlice>& slices, const std::vector<std::uint32_t>& batch_ends) {
  std::uint64_t bytes = 0;
  for (const auto& slice : slices) bytes += slice.size;
  std::string text = counted(slices.size(), "slice") + ", " + std::to_string(bytes) + " bytes";
  if (batch_ends.empty()) return text;
  text += ", " + counted(batch_ends.size(), "batch", "batches") + ":";
  std::uint32_t first = 0;
  for (const auto end : batch_ends) {
    text += ' ';
    text += end - first == 1 ? std::to_string(first) : std::to_string(first) + ".." + std::to_string(end - 1);
    first = end;
  }
  return text;
}

void print_host_exchange(const HostExchange& exchange, std::ostream& out) {
  out << "\nhost exchange\n";
  out << "  startup mark " << exchange.startup_mark << ", command word in page " << exchange.command_page
      << " at offset " << hex(exchange.command_offset) << '\n';
  std::vector<std::string> pages;
  for (const auto& page : exchange.pages)
    pages.push_back(std::to_string(page.index) + " (" + std::to_string(page.size) + " bytes)");
  out << "  pages: " << joined(pages) << '\n';
  std::vector<std::string> order;
  for (const auto index : exchange.attach_order) order.push_back(std::to_string(index));
  out << "  attach order: " << joined(order) << '\n';
  out << "  calls:";
  if (exchange.calls.empty()) out << " (none)";
  out << '\n';
  for (const auto& call : exchange.calls) {
    out << "    " << call.name << ": command " << call.command << ", " << counted(call.phases, "phase")
        << ", " << counted(call.invocations, "invocation") << '\n';
    out << "      inputs:  " << batches_text(call.inputs, call.input_batch_ends) << '\n';
    out << "      outputs: " << batches_text(call.outputs, call.output_batch_ends) << '\n';
  }
}

void print_entry_points(const Application& app, std::ostream& out) {
  TextTable table({{"name"}, {"command", Align::Right}, {"external syncs", Align::Right}});
  for (const auto& entry : app.entry_points) {
    table.add_row({entry.name, std::to_string(entry.command), std::to_string(entry.external_syncs)});
  }
  print_section(out, "entry points", table);
}

void print_config_writes(const Application& app, std::ostream& out) {
  TextTable table({{"offset", Align::Right}, {"value", Align::Right}});
  for (const auto& write : app.device_config_writes) table.add_row({hex(write.offset), hex(write.value)});
  print_section(out, "configuration writes", table);
}

// "2 Compute, 1 Exchange": how many steps of each kind, in enum order.
std::string step_kinds_text(const std::vector<ProfileStep>& steps) {
  std::map<ProfileStepKind, std::size_t> kinds;
  for (const auto& step : steps) ++kinds[step.kind];
  std::string text;
  for (const auto& [kind, count] : kinds) {
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + ' ' + printed(kind);
  }
  return text;
}

void print_profile_plans(const Application& app, std::ostream& out) {
  TextTable table({{"tile", Align::Right}, {"steps", Align::Right}, {"kinds"}});
  for (const auto& plan : app.profile_tiles) {
    table.add_row(
        {std::to_string(plan.physical_tile), std::to_string(plan.steps.size()), step_kinds_text(plan.steps)});
  }
  print_section(out, "profile plans", table);
}

void print_debug_map(const Application& app, std::ostream& out) {
  TextTable symbols({{"name"}, {"address", Align::Right}});
  for (const auto& symbol : app.debug_symbols) symbols.add_row({symbol.name, hex(symbol.address)});
  print_section(out, "debug symbols", symbols);

  TextTable regions({{"name"}, {"tile", Align::Right}, {"addresses"}, {"bytes", Align::Right}});
  for (const auto& region : app.debug_regions) {
    regions.add_row({region.name,
                     region.physical_tile == kUntiedDebugTile ? "none" : std::to_string(region.physical_tile),
                     hex(region.address) + ".." + hex(std::uint64_t{region.address} + region.size),
                     std::to_string(region.size)});
  }
  print_section(out, "debug regions", regions);
}

}  // namespace

Outcome<void> show_info(const std::string& file, std::ostream& out) {
  const auto app = load_package(file);
  if (!app) return tl::unexpected(app.error());
  out << "package           " << file << '\n';
  out << "compiler version  " << app->compiler_version << '\n';
  print_tiles(*app, out);
  print_bindings(*app, out);
  print_host_exchange(app->host_exchange, out);
  print_entry_points(*app, out);
  print_config_writes(*app, out);
  print_profile_plans(*app, out);
  print_debug_map(*app, out);
  return {};
}

}  // namespace morvex_package::tool
