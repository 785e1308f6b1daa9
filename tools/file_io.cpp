#include "file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

namespace morvex_package::tool {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The error of the C library call that just failed. Should a call fail
// without setting errno, EIO is reported rather than "Success".
PackageError last_io_error() {
  const int code = errno != 0 ? errno : EIO;
  return PackageError::Io{std::error_code(code, std::generic_category())};
}

}  // namespace

std::string failure_line(const Failure& failure) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  const std::string text = failure.file + ": " + failure.error.to_string();
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      line += "\\x";
      line += kHexDigits[byte >> 4];
      line += kHexDigits[byte & 0xf];
    } else {
      line += c;
    }
  }
  return line;
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
  errno = 0;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return tl::unexpected(last_io_error());
  std::vector<std::uint8_t> bytes;
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  for (;;) {
    const std::size_t old_size = bytes.size();
    bytes.resize(old_size + kChunk);
    errno = 0;
    const std::size_t got = std::fread(bytes.data() + old_size, 1, kChunk, file.get());
    bytes.resize(old_size + got);
    // A directory opens fine on Linux; the read is what fails (EISDIR).
    if (std::ferror(file.get())) return tl::unexpected(last_io_error());
    if (got < kChunk) return bytes;
  }
}

Result<void> write_file(const std::string& path, std::span<const std::uint8_t> bytes) {
  errno = 0;
  std::FILE* raw = std::fopen(path.c_str(), "wb");
  if (!raw) return tl::unexpected(last_io_error());
  File file(raw);
  errno = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
    return tl::unexpected(last_io_error());
  }
  // Buffered bytes reach the disk on close, so a full disk shows up here.
  errno = 0;
  if (std::fclose(file.release()) != 0) return tl::unexpected(last_io_error());
  return {};
}

Outcome<std::vector<std::uint8_t>> load_bytes(const std::string& path) {
  return about(path, read_file(path));
}

Outcome<Application> load_package(const std::string& path) {
  return load_bytes(path).and_then(
      [&](const std::vector<std::uint8_t>& bytes) { return about(path, Application::read(bytes)); });
}

Outcome<ProfileReport> load_report(const std::string& path) {
  return load_bytes(path).and_then(
      [&](const std::vector<std::uint8_t>& bytes) { return about(path, ProfileReport::read(bytes)); });
}

Outcome<void> store_bytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  return about(path, write_file(path, bytes));
}

}  // namespace morvex_package::tool
