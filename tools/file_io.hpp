#pragma once

// File access for the tool; the library itself opens no files. Files are
// read whole into memory and handed to the span forms of the library.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <morvex_package/morvex_package.hpp>

namespace morvex_package::tool {

// What ended a command: the file it concerns and why.
struct Failure {
  std::string file;
  PackageError error;
};

template <class T>
using Outcome = tl::expected<T, Failure>;

// "FILE: message", the error's display text. Control characters, which
// can come from the file (a name stored in a package) or from the
// message layer's description of a damaged message, are shown as \xNN so
// that the line stays one line and cannot drive the terminal.
std::string failure_line(const Failure& failure);

// The whole file; an operating-system error comes back as PackageError::Io.
Result<std::vector<std::uint8_t>> read_file(const std::string& path);

// Creates or replaces the file with exactly these bytes.
Result<void> write_file(const std::string& path, std::span<const std::uint8_t> bytes);

// Reading and storing with the file name attached to any failure.
Outcome<std::vector<std::uint8_t>> load_bytes(const std::string& path);
Outcome<Application> load_package(const std::string& path);
Outcome<ProfileReport> load_report(const std::string& path);
Outcome<void> store_bytes(const std::string& path, std::span<const std::uint8_t> bytes);

// Attaches the file name to a library result.
template <class T>
Outcome<T> about(const std::string& file, Result<T> result) {
  if (!result) return tl::unexpected(Failure{file, std::move(result.error())});
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    return std::move(*result);
  }
}

}  // namespace morvex_package::tool
