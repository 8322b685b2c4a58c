#pragma once
// A fault caught where no fault of its kind was expected: its line says
// where it was caught and what it was. Code with a log writes the line
// there; code without one (threads of their own, destructors) writes it to
// the standard error stream.

#include <exception>
#include <string>
#include <string_view>

namespace platform {

// "what()" of a std::exception, else a fixed text for an unknown kind; a
// null pointer gives an empty text.
std::string exception_text(std::exception_ptr error);

// "Unexpected error in <where>: <text>".
std::string unexpected_error_line(std::string_view where, std::exception_ptr error);

// The line of the exception being handled, on the standard error stream.
// Call it inside a catch block; it never throws.
void report_unexpected_error(std::string_view where) noexcept;

}  // namespace platform
