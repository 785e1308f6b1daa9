#pragma once

// Copying values between records and generated wire accessors. Reading
// helpers throw (see failure.hpp) on the first value they cannot accept.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <capnp/blob.h>
#include <capnp/list.h>

#include "failure.hpp"
#include "utf8.hpp"

namespace morvex_package::detail {

inline capnp::Text::Reader wire_text(const std::string& text) {
  return capnp::Text::Reader(text.c_str(), text.size());
}

inline capnp::Data::Reader wire_data(const std::vector<std::uint8_t>& bytes) {
  return capnp::Data::Reader(bytes.data(), bytes.size());
}

// The generated getters do not check UTF-8; every stored text passes here.
inline std::string read_text(capnp::Text::Reader text) {
  const std::string_view view(text.begin(), text.size());
  if (auto error = find_utf8_error(view)) fail(*error);
  return std::string(view);
}

inline std::vector<std::uint8_t> read_data(capnp::Data::Reader data) {
  return std::vector<std::uint8_t>(data.begin(), data.end());
}

template <class Element>
std::vector<Element> read_scalars(typename capnp::List<Element>::Reader list) {
  std::vector<Element> out;
  out.reserve(list.size());
  for (const auto value : list) out.push_back(value);
  return out;
}

// Decodes every element of a wire list, in order, with `decode`.
template <class WireList, class Decode>
auto read_list(WireList list, Decode decode) {
  using Record = decltype(decode(list[0]));
  std::vector<Record> out;
  out.reserve(list.size());
  for (const auto element : list) out.push_back(decode(element));
  return out;
}

template <class WireList, class Records>
void write_scalars(WireList list, const Records& records) {
  for (unsigned int i = 0; i < records.size(); ++i) list.set(i, records[i]);
}

}  // namespace morvex_package::detail
