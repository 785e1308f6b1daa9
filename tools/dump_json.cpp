// `dump`: every record of a package, either in the library's diagnostic
// form or as JSON for scripts and diffs. JSON keys are the record field
// names in declaration order, so two dumps diff line by line.

#include <ostream>

#include <kj/encoding.h>
#include <nlohmann/json.hpp>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "commands.hpp"
#include "json_records.hpp"
#include "text_format.hpp"

namespace morvex_package::tool {
namespace {

// Segment data can be large; by default it is summarised by its length and
// a 64-bit XXH3 hash, which is enough to see whether two dumps differ.
Json data_json(const std::vector<std::uint8_t>& data, bool with_data) {
  char digest[17];
  std::snprintf(digest, sizeof digest, "%016llx",
                static_cast<unsigned long long>(XXH3_64bits(data.data(), data.size())));
  Json json{{"size", data.size()}, {"xxh3_64", digest}};
  if (with_data) {
    const kj::String base64 = kj::encodeBase64(kj::arrayPtr(data.data(), data.size()));
    json["base64"] = base64.cStr();
  }
  return json;
}

Json tile_json(const TileImage& tile, bool with_data) {
  Json segments = Json::array();
  for (const auto& segment : tile.segments) {
    segments.push_back({{"address", segment.address},
                        {"memory_size", segment.memory_size},
                        {"data", data_json(segment.data, with_data)},
                        {"flags", segment.flags}});
  }
  return {{"physical_tile", tile.physical_tile},
          {"entry_point", tile.entry_point},
          {"command_address", tile.command_address},
          {"diagnostic_address", tile.diagnostic_address},
          {"segments", std::move(segments)}};
}

Json binding_json(const Binding& binding) {
  Json slices = Json::array();
  for (const auto& slice : binding.slices) {
    slices.push_back({{"tile", slice.tile},
                      {"tile_address", slice.tile_address},
                      {"file_offset", slice.file_offset},
                      {"size", slice.size}});
  }
  return {{"name", binding.name}, {"dtype", binding.dtype}, {"shape", binding.shape}, {"slices", slices}};
}

Json host_slices_json(const std::vector<HostSlice>& slices) {
  Json json = Json::array();
  for (const auto& slice : slices) {
    json.push_back({{"page", slice.page},
                    {"page_offset", slice.page_offset},
                    {"file_offset", slice.file_offset},
                    {"size", slice.size}});
  }
  return json;
}

Json host_exchange_json(const HostExchange& exchange) {
  Json pages = Json::array();
  for (const auto& page : exchange.pages) pages.push_back({{"index", page.index}, {"size", page.size}});
  Json calls = Json::array();
  for (const auto& call : exchange.calls) {
    calls.push_back({{"name", call.name},
                     {"command", call.command},
                     {"phases", call.phases},
                     {"inputs", host_slices_json(call.inputs)},
                     {"outputs", host_slices_json(call.outputs)},
                     {"invocations", call.invocations},
                     {"input_batch_ends", call.input_batch_ends},
                     {"output_batch_ends", call.output_batch_ends}});
  }
  return {{"startup_mark", exchange.startup_mark},     {"command_page", exchange.command_page},
          {"command_offset", exchange.command_offset}, {"pages", std::move(pages)},
          {"attach_order", exchange.attach_order},     {"calls", std::move(calls)}};
}

}  // namespace

Json step_json(const ProfileStep& step) {
  Json metadata = Json::array();
  for (const auto& entry : step.metadata) metadata.push_back({{"name", entry.name}, {"value", entry.value}});
  Json activities = Json::array();
  for (const auto& activity : step.exchange_activities) {
    activities.push_back({{"kind", printed(activity.kind)},
                          {"start_cycle", activity.start_cycle},
                          {"end_cycle", activity.end_cycle}});
  }
  return {{"local_index", step.local_index},
          {"phase", step.phase},
          {"epoch", step.epoch},
          {"operation", step.operation},
          {"kind", printed(step.kind)},
          {"kernel", step.kernel},
          {"metadata", std::move(metadata)},
          {"exchange_activities", std::move(activities)},
          {"exchange_event_cycles", step.exchange_event_cycles}};
}

namespace {

template <class T, class ToJson>
Json list_json(const std::vector<T>& items, ToJson to_json) {
  Json json = Json::array();
  for (const auto& item : items) json.push_back(to_json(item));
  return json;
}

Json application_json(const Application& app, bool with_data) {
  return {
      {"compiler_version", app.compiler_version},
      {"tiles", list_json(app.tiles, [&](const TileImage& tile) { return tile_json(tile, with_data); })},
      {"inputs", list_json(app.inputs, binding_json)},
      {"outputs", list_json(app.outputs, binding_json)},
      {"weights", list_json(app.weights, binding_json)},
      {"host_exchange", host_exchange_json(app.host_exchange)},
      {"entry_points", list_json(app.entry_points,
                                 [](const EntryPoint& entry) -> Json {
                                   return {{"name", entry.name},
                                           {"command", entry.command},
                                           {"external_syncs", entry.external_syncs}};
                                 })},
      {"device_config_writes", list_json(app.device_config_writes,
                                         [](const DeviceConfigWrite& write) -> Json {
                                           return {{"offset", write.offset}, {"value", write.value}};
                                         })},
      {"profile_tiles",
       list_json(
           app.profile_tiles,
           [](const TileProfilePlan& plan) -> Json {
             return {{"physical_tile", plan.physical_tile}, {"steps", list_json(plan.steps, step_json)}};
           })},
      {"debug_symbols", list_json(app.debug_symbols,
                                  [](const DebugSymbol& symbol) -> Json {
                                    return {{"name", symbol.name}, {"address", symbol.address}};
                                  })},
      {"debug_regions", list_json(app.debug_regions,
                                  [](const DebugRegion& region) -> Json {
                                    return {{"physical_tile", region.physical_tile},
                                            {"address", region.address},
                                            {"size", region.size},
                                            {"name", region.name}};
                                  })},
  };
}

}  // namespace

Outcome<void> dump_package(const std::string& file, DumpFormat format, bool with_data, std::ostream& out) {
  const auto app = load_package(file);
  if (!app) return tl::unexpected(app.error());
  if (format == DumpFormat::Records) {
    out << *app << '\n';
  } else {
    // Texts are valid UTF-8 once read; replacing is only a safety net.
    out << application_json(*app, with_data).dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
  }
  return {};
}

}  // namespace morvex_package::tool
