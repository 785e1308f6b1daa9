// The Chrome Trace Event Format: a JSON object whose "traceEvents" trace
// viewers draw as one track per tile, each step a complete ("X") event.

#include <string>

#include "json_records.hpp"
#include "profile_views.hpp"
#include "trace_writers.hpp"

namespace morvex_package::tool {
namespace {

// Every tile is a thread of one process, so viewers stack the tiles as
// tracks of one group; the track id is the physical tile number.
constexpr int kDeviceProcess = 0;

Json track_name_event(std::uint32_t physical_tile) {
  return {{"name", "thread_name"},
          {"ph", "M"},
          {"pid", kDeviceProcess},
          {"tid", physical_tile},
          {"args", {{"name", "tile " + std::to_string(physical_tile)}}}};
}

Json step_event(const TimedSample& timed, std::uint32_t physical_tile, std::uint64_t clock_hz) {
  const CycleSample& sample = *timed.sample;
  // Without a clock rate, one cycle stands for one microsecond.
  const auto micros = [&](std::uint64_t cycles) {
    return clock_hz == 0 ? static_cast<double>(cycles) : cycles_to_seconds(cycles, clock_hz) * 1e6;
  };
  Json args = step_json(sample.step);
  args["start_cycle"] = sample.start_cycle;
  args["end_cycle"] = sample.end_cycle;
  args["cycles"] = timed.cycles;
  const std::string kind = kind_name(sample.step.kind);
  return {{"name", sample.step.operation.empty() ? kind : sample.step.operation},
          {"cat", kind},
          {"ph", "X"},
          {"ts", micros(timed.start)},
          {"dur", micros(timed.cycles)},
          {"pid", kDeviceProcess},
          {"tid", physical_tile},
          {"args", std::move(args)}};
}

}  // namespace

std::string chrome_trace(const ProfileReport& report) {
  Json events = Json::array();
  events.push_back(
      {{"name", "process_name"}, {"ph", "M"}, {"pid", kDeviceProcess}, {"args", {{"name", "device"}}}});
  for (const auto& timeline : lay_out(report)) {
    events.push_back(track_name_event(timeline.physical_tile));
    for (const auto& timed : timeline.samples) {
      events.push_back(step_event(timed, timeline.physical_tile, report.clock_hz));
    }
  }
  const Json trace{
      {"traceEvents", std::move(events)},
      {"displayTimeUnit", "ns"},
      {"otherData", {{"clock_hz", report.clock_hz}, {"time_unit", report.clock_hz == 0 ? "cycle" : "us"}}}};
  return trace.dump(1, ' ', false, Json::error_handler_t::replace) + '\n';
}

}  // namespace morvex_package::tool
