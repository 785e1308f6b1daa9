#include <optional>
#include <string>
#include <vector>

#include <doctest/doctest.h>

#include "utf8.hpp"

namespace morvex_package {
namespace {

struct Utf8Case {
  std::string text;
  std::optional<std::size_t> valid_up_to;  // nothing: the text is valid
  std::optional<std::size_t> error_len;
};

TEST_CASE("UTF-8 errors follow the maximal-subpart rule") {
  const std::vector<Utf8Case> cases = {
      {"", std::nullopt, std::nullopt},
      {"plain ascii text, long enough for the fast path", std::nullopt, std::nullopt},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf", std::nullopt, std::nullopt},
      {std::string("nul\0inside", 10), std::nullopt, std::nullopt},
      {"abc\x80", 3, 1},   // lone continuation byte
      {"\xc0\xaf", 0, 1},  // overlong two-byte lead
      {"\xc1\xbf", 0, 1},
      {"\xe0\x80\xaf", 0, 1},      // overlong three-byte form
      {"\xed\xa0\x80", 0, 1},      // surrogate
      {"\xf0\x8f\xbf\xbf", 0, 1},  // overlong four-byte form
      {"\xf4\x90\x80\x80", 0, 1},  // above U+10FFFF
      {"\xf5\x80\x80\x80", 0, 1},  // lead byte never valid
      {"\xff", 0, 1},
      {"ab\xe2\x82", 2, std::nullopt},  // ends inside a sequence
      {"\xf0\x9f\x98", 0, std::nullopt},
      {"\xc3", 0, std::nullopt},
      {"\xe2\x82x", 0, 2},  // third byte not a continuation
      {"\xf0\x9f\x98x", 0, 3},
      {"\xf0\x9fxx", 0, 2},
      {"0123456789\xc3\x28", 10, 1},  // error after a fast-path block
  };
  for (const auto& c : cases) {
    CAPTURE(c.text);
    const auto error = detail::find_utf8_error(c.text);
    if (!c.valid_up_to) {
      CHECK_FALSE(error.has_value());
    } else {
      REQUIRE(error.has_value());
      CHECK(error->valid_up_to == *c.valid_up_to);
      CHECK(error->error_len == c.error_len);
    }
  }
}

}  // namespace
}  // namespace morvex_package
