#pragma once

// The subcommands of morvex-package. Each returns the failure that ended it
// instead of printing it, so that main.cpp turns every failure into the same
// "FILE: message" line and exit status.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "file_io.hpp"

namespace morvex_package::tool {

// Prints one line per file and every failure as it comes; false when any
// file is not a valid package.
bool validate_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

Outcome<void> show_info(const std::string& file, std::ostream& out);

enum class DumpFormat { Records, Json };
Outcome<void> dump_package(const std::string& file, DumpFormat format, bool with_data, std::ostream& out);

Outcome<void> extract_tile_image(const std::string& file, std::uint32_t physical_tile,
                                 const std::string& image_file, std::ostream& out);

Outcome<void> decode_profile(const std::string& package_file, const std::string& runtime_output_file,
                             std::uint64_t clock_hz, const std::string& report_file, std::ostream& out);

Outcome<void> show_profile(const std::string& report_file, std::size_t top_operations, std::ostream& out);

enum class TraceFormat { Chrome, Svg };
Outcome<void> write_trace(const std::string& report_file, const std::string& trace_file, TraceFormat format,
                          std::ostream& out);

struct ExampleRequest {
  std::string package_file;
  std::optional<std::uint32_t> profiled_tiles;  // the demo package instead of the reference one
  std::string runtime_output_file;              // required with profiled_tiles
};
Outcome<void> write_example(const ExampleRequest& request, std::ostream& out);

}  // namespace morvex_package::tool
