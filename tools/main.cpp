// morvex-package: checks, summarises and takes apart application packages,
// and decodes and pictures their cycle profiles.
//
// Exit status: 0 on success, 1 when a package, report or other file is
// invalid or unreadable (one "FILE: message" line on stderr for each), 2 on
// usage errors.

#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.hpp"

namespace {

using namespace morvex_package;
using namespace morvex_package::tool;

constexpr int kExitSuccess = 0;
constexpr int kExitInvalid = 1;
constexpr int kExitUsage = 2;

int finish(const Outcome<void>& outcome) {
  if (outcome) return kExitSuccess;
  std::cerr << failure_line(outcome.error()) << '\n';
  return kExitInvalid;
}

std::string version_text() {
  return std::string("morvex-package ") + MORVEX_PACKAGE_VERSION + " (package schema " +
         std::to_string(PACKAGE_SCHEMA_VERSION) + ", target " + std::string(PACKAGE_TARGET) + ")";
}

// Every subcommand with what it runs once the command line has parsed.
struct Command {
  CLI::App* app;
  std::function<int()> run;
};

// The options of all subcommands; each subcommand binds its own.
struct Options {
  std::vector<std::string> files;
  std::string file;
  std::string second_file;
  std::string output;
  bool json = false;
  bool with_data = false;
  std::uint32_t tile = 0;
  std::uint64_t clock_hz = 0;
  std::size_t top = 5;
  std::string format = "chrome";
  std::uint32_t profiled_tiles = 0;
  std::string runtime_output;
};

std::vector<Command> add_package_commands(CLI::App& app, Options& o) {
  std::vector<Command> commands;

  auto* validate = app.add_subcommand("validate", "Read packages (reading validates) and report each one");
  validate->add_option("FILE", o.files, "Package files")->required();
  commands.push_back({validate, [&] {
                        return validate_files(o.files, std::cout, std::cerr) ? kExitSuccess : kExitInvalid;
                      }});

  auto* info = app.add_subcommand("info", "Summarise a package: tiles, bindings, host exchange and more");
  info->add_option("FILE", o.file, "Package file")->required();
  commands.push_back({info, [&] { return finish(show_info(o.file, std::cout)); }});

  auto* dump = app.add_subcommand("dump", "Print every record of a package");
  dump->add_option("FILE", o.file, "Package file")->required();
  auto* json = dump->add_flag("--json", o.json, "JSON with a stable key order instead of the record form");
  dump->add_flag("--data", o.with_data, "Include segment data as base64 (default: its size and hash)")
      ->needs(json);
  commands.push_back({dump, [&] {
                        return finish(dump_package(o.file, o.json ? DumpFormat::Json : DumpFormat::Records,
                                                   o.with_data, std::cout));
                      }});

  auto* image = app.add_subcommand("tile-image", "Write the memory image of one tile");
  image->add_option("FILE", o.file, "Package file")->required();
  image->add_option("--tile", o.tile, "Physical tile number")->required();
  image->add_option("-o,--output", o.output, "Image file to write")->required();
  commands.push_back(
      {image, [&] { return finish(extract_tile_image(o.file, o.tile, o.output, std::cout)); }});

  auto* example = app.add_subcommand("example", "Write the reference package, or a profiled demo package");
  example->add_option("-o,--output", o.output, "Package file to write")->required();
  auto* profiled =
      example->add_option("--profiled", o.profiled_tiles, "Write a demo package of N profiled tiles instead")
          ->check(CLI::Range(1u, 1024u));
  auto* runtime = example->add_option("--runtime-output", o.runtime_output,
                                      "Where the demo package's runtime output goes");
  profiled->needs(runtime);
  runtime->needs(profiled);
  commands.push_back({example, [&o, profiled] {
                        ExampleRequest request{.package_file = o.output,
                                               .runtime_output_file = o.runtime_output};
                        if (profiled->count() != 0) request.profiled_tiles = o.profiled_tiles;
                        return finish(write_example(request, std::cout));
                      }});
  return commands;
}

std::vector<Command> add_profile_commands(CLI::App& app, Options& o) {
  std::vector<Command> commands;

  auto* profile =
      app.add_subcommand("profile", "Decode the cycle counters of a runtime output into a report");
  profile->add_option("PACKAGE", o.file, "Package file")->required();
  profile->add_option("RUNTIME_OUTPUT", o.second_file, "Runtime output of a device run")->required();
  profile->add_option("--clock-hz", o.clock_hz, "Device clock rate in hertz (0: unknown)")->required();
  profile->add_option("-o,--output", o.output, "Report file to write")->required();
  commands.push_back({profile, [&] {
                        return finish(decode_profile(o.file, o.second_file, o.clock_hz, o.output, std::cout));
                      }});

  auto* show = app.add_subcommand("profile-show", "Show where each tile's cycles went");
  show->add_option("REPORT", o.file, "Profile report file")->required();
  show->add_option("--top", o.top, "How many of the busiest operations to list per tile")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  commands.push_back({show, [&] { return finish(show_profile(o.file, o.top, std::cout)); }});

  auto* trace =
      app.add_subcommand("profile-trace", "Write a profile report as a trace or a timeline picture");
  trace->add_option("REPORT", o.file, "Profile report file")->required();
  trace->add_option("-o,--output", o.output, "Trace file to write")->required();
  trace->add_option("--format", o.format, "chrome: Chrome Trace Event Format (JSON); svg: timeline picture")
      ->capture_default_str()
      ->check(CLI::IsMember({"chrome", "svg"}));
  commands.push_back({trace, [&] {
                        const auto format = o.format == "svg" ? TraceFormat::Svg : TraceFormat::Chrome;
                        return finish(write_trace(o.file, o.output, format, std::cout));
                      }});
  return commands;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Check, inspect and take apart application packages, and decode their cycle profiles.",
               "morvex-package"};
  app.set_version_flag("--version", version_text());
  app.require_subcommand(1);
  Options options;
  auto commands = add_package_commands(app, options);
  auto profile_commands = add_profile_commands(app, options);
  commands.insert(commands.end(), profile_commands.begin(), profile_commands.end());

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version end parsing the same way and exit with 0.
    return app.exit(error) == 0 ? kExitSuccess : kExitUsage;
  }
  for (const auto& command : commands) {
    if (command.app->parsed()) return command.run();
  }
  return kExitUsage;  // unreachable: exactly one subcommand is required
}
