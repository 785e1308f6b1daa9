#include "text_format.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

namespace morvex_package::tool {

std::string hex(std::uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

std::string counted(std::uint64_t count, std::string_view singular, std::string_view plural) {
  std::string text = std::to_string(count) + ' ';
  if (count == 1) return text.append(singular);
  if (plural.empty()) return text.append(singular).append("s");
  return text.append(plural);
}

std::string duration_text(double seconds) {
  struct Unit {
    double scale;
    const char* name;
  };
  static constexpr std::array<Unit, 4> kUnits{{{1.0, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}}};
  // Zero and anything below a nanosecond still get the smallest unit.
  const auto unit = std::find_if(kUnits.begin(), kUnits.end() - 1,
                                 [&](const Unit& candidate) { return seconds >= candidate.scale; });
  char text[64];
  std::snprintf(text, sizeof text, "%.3f %s", seconds / unit->scale, unit->name);
  return text;
}

std::string share_text(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

TextTable::TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

void TextTable::add_row(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out, std::string_view indent) const {
  std::vector<std::size_t> widths;
  for (const auto& column : columns_) widths.push_back(column.title.size());
  for (const auto& row : rows_) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  const auto print_row = [&](const auto& cell_text) {
    std::string line(indent);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::string& text = cell_text(c);
      const std::string padding(widths[c] - text.size(), ' ');
      if (c != 0) line += "  ";
      line += columns_[c].align == Align::Right ? padding + text : text + padding;
    }
    // The last column is left-aligned more often than not: no trailing blanks.
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  };
  print_row([&](std::size_t c) -> const std::string& { return columns_[c].title; });
  for (const auto& row : rows_) print_row([&](std::size_t c) -> const std::string& { return row[c]; });
}

}  // namespace morvex_package::tool
