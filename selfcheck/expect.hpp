#pragma once

// Expectations on library results that show the error's diagnostic form
// when they fail.

#include <sstream>
#include <string>
#include <utility>

#include <doctest/doctest.h>

#include <morvex_package/error.hpp>

namespace morvex_package::tests {

inline std::string describe(const PackageError& error) {
  std::ostringstream out;
  out << error;
  return out.str();
}

// The value of a result that must have succeeded.
template <class T>
T expect_ok(Result<T> result) {
  if (!result) FAIL("expected success, got " << describe(result.error()));
  if constexpr (!std::is_void_v<T>) return std::move(*result);
}

}  // namespace morvex_package::tests
