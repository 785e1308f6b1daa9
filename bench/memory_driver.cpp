// Peak resident memory of one write and one read of the device-scale
// package, as multiples of its stored size. The resident memory of the idle
// process (code and shared libraries, measured first thing in main) is not
// counted. Each measurement runs in a process of its own, so that nothing
// else has raised the peak before it:
//   memory_driver prepare FILE   stores the package in FILE
//   memory_driver write          builds the package and writes it to memory
//   memory_driver read FILE      loads FILE and reads the package from it

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include <morvex_package/morvex_package.hpp>

#include "workloads.hpp"

namespace {

using morvex_package::Application;

double g_idle_mib = 0;

double resident_mib() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

double peak_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void report(const char* what, std::size_t package_bytes) {
  const double package_mib = static_cast<double>(package_bytes) / (1 << 20);
  const double used_mib = peak_mib() - g_idle_mib;
  std::printf("%s peak_MiB=%.1f idle_MiB=%.1f package_MiB=%.1f ratio=%.3f\n", what, peak_mib(), g_idle_mib,
              package_mib, used_mib / package_mib);
}

int prepare(const char* path) {
  std::vector<std::uint8_t> bytes;
  if (!morvex_package::bench::device_scale_package().write(bytes)) return 1;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return 0;
}

int write() {
  const Application app = morvex_package::bench::device_scale_package();
  std::vector<std::uint8_t> bytes;
  if (!app.write(bytes)) return 1;
  report("write", bytes.size());
  return 0;
}

int read(const char* path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.tellg()));
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  const auto app = Application::read(bytes);
  if (!app) return 1;
  report("read", bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  g_idle_mib = resident_mib();
  if (argc == 3 && std::strcmp(argv[1], "prepare") == 0) return prepare(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "write") == 0) return write();
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return read(argv[2]);
  std::cerr << "usage: memory_driver prepare FILE | write | read FILE\n";
  return 2;
}
