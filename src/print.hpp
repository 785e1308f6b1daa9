#pragma once

// The diagnostic form of records: `Type { field: value, ... }`, texts quoted,
// lists in brackets, enums by enumerant name.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace morvex_package::detail {

void print_quoted(std::ostream& os, std::string_view text);

inline void print_value(std::ostream& os, const std::string& text) { print_quoted(os, text); }

template <class T>
void print_value(std::ostream& os, const T& value) {
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    os << static_cast<unsigned>(value);
  } else {
    os << value;
  }
}

template <class T>
void print_value(std::ostream& os, const std::vector<T>& list) {
  os << '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) os << ", ";
    print_value(os, list[i]);
  }
  os << ']';
}

class RecordPrinter {
 public:
  RecordPrinter(std::ostream& os, std::string_view type) : os_(os) { os_ << type << " {"; }
  RecordPrinter(const RecordPrinter&) = delete;
  RecordPrinter& operator=(const RecordPrinter&) = delete;
  ~RecordPrinter() { os_ << (first_ ? "}" : " }"); }

  template <class T>
  RecordPrinter& field(std::string_view name, const T& value) {
    os_ << (first_ ? " " : ", ") << name << ": ";
    print_value(os_, value);
    first_ = false;
    return *this;
  }

 private:
  std::ostream& os_;
  bool first_ = true;
};

}  // namespace morvex_package::detail
