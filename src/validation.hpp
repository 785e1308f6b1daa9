#pragma once

// Package validation, for the library's own use. Application::validate is
// the way in for callers; the reader applies the tile rules to each tile as
// it decodes it, while the tile is still in cache, and the remaining rules
// once the whole package is decoded.

#include <cstdint>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include <morvex_package/application.hpp>

namespace morvex_package::detail {

// The tile rules, applied one tile at a time and in list order. Only the
// first failure is kept; the package rules report it in its place among
// the rules, so checking tiles early changes no result.
class TileChecks {
 public:
  using TileIds = std::unordered_set<std::uint32_t>;
  using Range = std::pair<std::uint32_t, std::uint32_t>;  // [start, end) of a non-empty segment

  void reserve(std::size_t tiles) { ids_.reserve(tiles); }
  void check(const TileImage& tile);

  // The first failure of the tiles checked, if any.
  Result<void> result() const;
  // The ids of the tiles checked.
  const TileIds& ids() const { return ids_; }

 private:
  TileIds ids_;
  std::vector<Range> scratch_;  // reused across tiles
  std::optional<PackageError> failure_;
};

// Every rule in order, for a package whose tiles have all gone through
// `tiles`.
Result<void> validate_package(const Application& app, const TileChecks& tiles);

}  // namespace morvex_package::detail
