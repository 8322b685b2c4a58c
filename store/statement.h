#pragma once
// Formatting of store statements. A pattern holds printf-like conversions
// (%u unsigned 32-bit, %d signed 32-bit, %llu unsigned 64-bit, %f floating
// point with six decimals, %s text); the arguments fill them in order.
// Numbers are always written in the "C" form (a decimal point, no grouping),
// whatever locale the process runs in, and without touching that locale.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace store {

// SQL written into a statement as it is (a column list); never data.
struct sql_fragment {
  std::string_view text;
};

using statement_argument =
    std::variant<std::uint32_t, std::int32_t, std::uint64_t, double, std::string_view, sql_fragment>;

// Turns a text from outside the program into the body of a quoted SQL
// string; nullopt when it cannot.
using text_escaper = std::function<std::optional<std::string>(std::string_view)>;

// The statement, with every text argument passed through `escape`. Nullopt
// when an argument does not match its conversion, when arguments and
// conversions differ in number, or when escaping fails.
std::optional<std::string> format_statement(std::string_view pattern,
                                            std::span<const statement_argument> args,
                                            const text_escaper& escape);

// Number parsing in the "C" form, for the columns of a result. The whole
// text must convert; a null column (nullptr) never does.
bool parse_number(const char* text, unsigned long length, std::uint32_t& out);
bool parse_number(const char* text, unsigned long length, std::int32_t& out);
bool parse_number(const char* text, unsigned long length, std::uint64_t& out);
bool parse_number(const char* text, unsigned long length, float& out);

}  // namespace store
