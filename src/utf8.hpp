#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <morvex_package/error.hpp>

namespace morvex_package::detail {

// The first UTF-8 error in `text`, following the maximal-subpart rule
// (overlong forms, surrogates and values above U+10FFFF are invalid), or
// nothing when the whole text is valid.
std::optional<PackageError::Utf8> find_utf8_error(std::string_view text) noexcept;

}  // namespace morvex_package::detail
