#pragma once

// The one error type of the library and the result type of every fallible
// operation.

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <system_error>
#include <variant>

#include <kj/exception.h>
#include <tl/expected.hpp>

namespace morvex_package {

class PackageError {
 public:
  // The message builder or reader failed, or a stream failed under it.
  struct Capnp {
    kj::Exception::Type type = kj::Exception::Type::FAILED;
    std::string description;
    bool operator==(const Capnp&) const = default;
  };
  // An operating-system I/O error. No library operation produces it; it is
  // here for callers that fold their own file errors into one type.
  struct Io {
    std::error_code code;
    bool operator==(const Io&) const = default;
  };
  // A stored text is not valid UTF-8. `valid_up_to` is the offset of the
  // first bad byte; `error_len` is the length of the invalid sequence, or
  // empty when the text ends inside a sequence that was valid so far.
  struct Utf8 {
    std::size_t valid_up_to = 0;
    std::optional<std::size_t> error_len;
    bool operator==(const Utf8&) const = default;
  };
  // A stored enum value names no enumerant.
  struct SchemaEnum {
    std::uint16_t value = 0;
    bool operator==(const SchemaEnum&) const = default;
  };
  // A rule of the library is broken.
  struct Invalid {
    std::string message;
    bool operator==(const Invalid&) const = default;
  };
  using Alternative = std::variant<Capnp, Io, Utf8, SchemaEnum, Invalid>;

  PackageError(Capnp error) : alternative_(std::move(error)) {}
  PackageError(Io error) : alternative_(std::move(error)) {}
  PackageError(Utf8 error) : alternative_(std::move(error)) {}
  PackageError(SchemaEnum error) : alternative_(error) {}
  PackageError(Invalid error) : alternative_(std::move(error)) {}
  PackageError(const kj::Exception& exception);

  const Alternative& alternative() const noexcept { return alternative_; }

  template <class A>
  const A* get_if() const noexcept {
    return std::get_if<A>(&alternative_);
  }

  // Display text, for people: an Invalid error shows its message as is.
  std::string to_string() const;

  bool operator==(const PackageError&) const = default;

 private:
  Alternative alternative_;
};

// Diagnostic form: the alternative's name and its payload, for example
// Invalid("application has no tiles").
std::ostream& operator<<(std::ostream& os, const PackageError& error);

template <class T>
using Result = tl::expected<T, PackageError>;

}  // namespace morvex_package
