#pragma once

// Small text helpers shared by the readable views: numbers, durations and
// aligned tables.

#include <cstdint>
#include <iosfwd>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace morvex_package::tool {

// "0x4c000": the style of the library's own messages.
std::string hex(std::uint64_t value);

// "1 tile", "3 tiles"; `plural` when adding an "s" will not do.
std::string counted(std::uint64_t count, std::string_view singular, std::string_view plural = {});

// A duration with three decimals in the largest unit (s, ms, us, ns) that
// keeps it at or above 1.
std::string duration_text(double seconds);

// "24.3 %"; a share of an empty whole is shown as "-".
std::string share_text(std::uint64_t part, std::uint64_t whole);

// The library's display form of a value (enums print their enumerant).
template <class T>
std::string printed(const T& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// Columns padded to their widest cell; numbers read best right-aligned.
class TextTable {
 public:
  enum class Align { Left, Right };
  struct Column {
    std::string title;
    Align align = Align::Left;
  };

  explicit TextTable(std::vector<Column> columns);
  void add_row(std::vector<std::string> cells);  // one cell per column
  bool empty() const { return rows_.empty(); }
  void print(std::ostream& out, std::string_view indent) const;

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace morvex_package::tool
