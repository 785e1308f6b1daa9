#include <ostream>
#include <sstream>

#include <morvex_package/error.hpp>

#include "print.hpp"
#include "text_format.hpp"

namespace morvex_package {
namespace {

std::string_view type_name(kj::Exception::Type type) {
  switch (type) {
    case kj::Exception::Type::FAILED: return "Failed";
    case kj::Exception::Type::OVERLOADED: return "Overloaded";
    case kj::Exception::Type::DISCONNECTED: return "Disconnected";
    case kj::Exception::Type::UNIMPLEMENTED: return "Unimplemented";
  }
  return "Unknown";
}

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

PackageError::PackageError(const kj::Exception& exception)
    : alternative_(Capnp{exception.getType(), std::string(exception.getDescription().cStr())}) {}

std::string PackageError::to_string() const {
  using detail::concat;
  return std::visit(
      Overloaded{
          [](const Capnp& e) { return concat("message error: ", e.description); },
          [](const Io& e) { return concat("I/O error: ", e.code.message()); },
          [](const Utf8& e) {
            return e.error_len ? concat("invalid utf-8 sequence of ", *e.error_len, " bytes from index ",
                                        e.valid_up_to)
                               : concat("incomplete utf-8 byte sequence from index ", e.valid_up_to);
          },
          [](const SchemaEnum& e) { return concat("enum value ", e.value, " is not in the schema"); },
          [](const Invalid& e) { return e.message; },
      },
      alternative_);
}

std::ostream& operator<<(std::ostream& os, const PackageError& error) {
  std::visit(Overloaded{
                 [&](const PackageError::Capnp& e) {
                   os << "Capnp(" << type_name(e.type) << ", ";
                   detail::print_quoted(os, e.description);
                   os << ')';
                 },
                 [&](const PackageError::Io& e) {
                   os << "Io(" << e.code.category().name() << ':' << e.code.value() << ", ";
                   detail::print_quoted(os, e.code.message());
                   os << ')';
                 },
                 [&](const PackageError::Utf8& e) {
                   os << "Utf8(valid_up_to: " << e.valid_up_to << ", error_len: ";
                   if (e.error_len) {
                     os << *e.error_len;
                   } else {
                     os << "none";
                   }
                   os << ')';
                 },
                 [&](const PackageError::SchemaEnum& e) { os << "SchemaEnum(" << e.value << ')'; },
                 [&](const PackageError::Invalid& e) {
                   os << "Invalid(";
                   detail::print_quoted(os, e.message);
                   os << ')';
                 },
             },
             error.alternative());
  return os;
}

}  // namespace morvex_package
