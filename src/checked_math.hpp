#pragma once

// Arithmetic on addresses, sizes and offsets that reports overflow instead
// of wrapping.

#include <concepts>
#include <limits>
#include <optional>

namespace morvex_package::detail {

template <std::unsigned_integral T>
constexpr std::optional<T> checked_add(T a, T b) noexcept {
  T sum;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

template <std::unsigned_integral T>
constexpr std::optional<T> checked_mul(T a, T b) noexcept {
  T product;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

template <std::unsigned_integral T>
constexpr T saturating_add(T a, T b) noexcept {
  return checked_add(a, b).value_or(std::numeric_limits<T>::max());
}

}  // namespace morvex_package::detail
