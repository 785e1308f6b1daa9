// Time lines of a profile report, and `profile-show`: where each tile's
// cycles went, by step kind and by operation.

#include "profile_views.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <ostream>

#include "commands.hpp"
#include "text_format.hpp"

namespace morvex_package::tool {

std::string kind_name(ProfileStepKind kind) { return printed(kind); }

std::vector<TileTimeline> lay_out(const ProfileReport& report) {
  // Offsets of each tile's first counter against the first tile's.
  std::vector<std::int64_t> offsets;
  const CycleSample* reference = nullptr;
  for (const auto& tile : report.tiles) {
    if (tile.samples.empty()) {
      offsets.push_back(0);
      continue;
    }
    if (!reference) reference = &tile.samples.front();
    const auto difference =
        static_cast<std::int32_t>(tile.samples.front().start_cycle - reference->start_cycle);
    offsets.push_back(difference);
  }
  const std::int64_t earliest = offsets.empty() ? 0 : *std::min_element(offsets.begin(), offsets.end());

  std::vector<TileTimeline> timelines;
  timelines.reserve(report.tiles.size());
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    const auto& tile = report.tiles[t];
    TileTimeline timeline{.physical_tile = tile.physical_tile,
                          .samples = {},
                          .end = static_cast<std::uint64_t>(offsets[t] - earliest)};
    timeline.samples.reserve(tile.samples.size());
    const CycleSample* previous = nullptr;
    for (const auto& sample : tile.samples) {
      if (previous) timeline.end += static_cast<std::uint32_t>(sample.start_cycle - previous->end_cycle);
      timeline.samples.push_back(TimedSample{&sample, timeline.end, sample_cycles(sample)});
      timeline.end += sample_cycles(sample);
      previous = &sample;
    }
    timelines.push_back(std::move(timeline));
  }
  return timelines;
}

namespace {

using Align = TextTable::Align;

// Cycles, share of the tile's total and, with a known clock rate, time.
struct Usage {
  std::string label;
  std::string kind;  // empty in the by-kind table
  std::uint64_t cycles = 0;
};

void print_usage_table(const std::vector<Usage>& rows, bool with_kind, std::uint64_t total,
                       std::uint64_t clock_hz, std::ostream& out) {
  std::vector<TextTable::Column> columns{{with_kind ? "operation" : "kind"}};
  if (with_kind) columns.push_back({"kind"});
  columns.push_back({"cycles", Align::Right});
  columns.push_back({"share", Align::Right});
  if (clock_hz != 0) columns.push_back({"time", Align::Right});
  TextTable table(std::move(columns));
  for (const auto& row : rows) {
    std::vector<std::string> cells{row.label};
    if (with_kind) cells.push_back(row.kind);
    cells.push_back(std::to_string(row.cycles));
    cells.push_back(share_text(row.cycles, total));
    if (clock_hz != 0) cells.push_back(duration_text(cycles_to_seconds(row.cycles, clock_hz)));
    table.add_row(std::move(cells));
  }
  table.print(out, "    ");
}

std::vector<Usage> usage_by_kind(const TileProfile& tile) {
  static constexpr std::array kKinds{ProfileStepKind::Exchange, ProfileStepKind::Compute,
                                     ProfileStepKind::Synchronization, ProfileStepKind::Idle};
  std::vector<Usage> rows;
  for (const auto kind : kKinds) {
    Usage usage{.label = kind_name(kind)};
    for (const auto& sample : tile.samples) {
      if (sample.step.kind == kind) usage.cycles += sample_cycles(sample);
    }
    rows.push_back(std::move(usage));
  }
  return rows;
}

// Operations that run as several steps are added up; ties go by name so
// the output is stable.
std::vector<Usage> busiest_operations(const TileProfile& tile, std::size_t top) {
  std::map<std::pair<std::string, ProfileStepKind>, std::uint64_t> totals;
  for (const auto& sample : tile.samples) {
    totals[{sample.step.operation, sample.step.kind}] += sample_cycles(sample);
  }
  std::vector<Usage> rows;
  for (const auto& [key, cycles] : totals) rows.push_back({key.first, kind_name(key.second), cycles});
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Usage& a, const Usage& b) { return a.cycles > b.cycles; });
  if (rows.size() > top) rows.resize(top);
  return rows;
}

void print_tile(const TileProfile& tile, std::uint64_t clock_hz, std::size_t top, std::ostream& out) {
  std::uint64_t total = 0;
  for (const auto& sample : tile.samples) total += sample_cycles(sample);
  out << "\ntile " << tile.physical_tile << ": " << counted(tile.samples.size(), "step") << ", "
      << counted(total, "cycle");
  if (clock_hz != 0) out << ", " << duration_text(cycles_to_seconds(total, clock_hz));
  out << '\n';
  if (tile.samples.empty()) return;
  out << "  cycles by step kind\n";
  print_usage_table(usage_by_kind(tile), false, total, clock_hz, out);
  out << "  busiest operations\n";
  print_usage_table(busiest_operations(tile, top), true, total, clock_hz, out);
}

}  // namespace

Outcome<void> show_profile(const std::string& report_file, std::size_t top_operations, std::ostream& out) {
  const auto report = load_report(report_file);
  if (!report) return tl::unexpected(report.error());
  out << "report      " << report_file << '\n';
  out << "clock rate  ";
  if (report->clock_hz == 0) {
    out << "unknown (0 Hz): cycles only\n";
  } else {
    out << report->clock_hz << " Hz\n";
  }
  out << "tiles       " << report->tiles.size() << '\n';
  for (const auto& tile : report->tiles) print_tile(tile, report->clock_hz, top_operations, out);
  return {};
}

}  // namespace morvex_package::tool
