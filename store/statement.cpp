#include "store/statement.h"

#include <charconv>
#include <cmath>

namespace store {
namespace {

template <class T>
bool append_number(std::string& out, T value) {
  char buffer[64];
  std::to_chars_result r;
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(value)) return false;  // no SQL literal for these
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, value);
  }
  if (r.ec != std::errc()) return false;
  out.append(buffer, r.ptr);
  return true;
}

// Appends one argument for the conversion `kind` ('u', 'd', 'U' for %llu,
// 'f', 's'); false when the argument is of another kind.
bool append_argument(std::string& out, char kind, const statement_argument& arg,
                     const text_escaper& escape) {
  switch (kind) {
    case 'u':
      if (auto v = std::get_if<std::uint32_t>(&arg)) return append_number(out, *v);
      return false;
    case 'd':
      if (auto v = std::get_if<std::int32_t>(&arg)) return append_number(out, *v);
      return false;
    case 'U':
      if (auto v = std::get_if<std::uint64_t>(&arg)) return append_number(out, *v);
      return false;
    case 'f':
      if (auto v = std::get_if<double>(&arg)) return append_number(out, *v);
      return false;
    case 's':
      if (auto v = std::get_if<sql_fragment>(&arg)) {
        out += v->text;
        return true;
      }
      if (auto v = std::get_if<std::string_view>(&arg)) {
        auto escaped = escape(*v);
        if (!escaped) return false;
        out += *escaped;
        return true;
      }
      return false;
  }
  return false;
}

template <class T>
bool parse_whole(const char* text, unsigned long length, T& out) {
  if (!text || length == 0) return false;
  T value{};
  const char* end = text + length;
  std::from_chars_result r;
  if constexpr (std::is_floating_point_v<T>)
    r = std::from_chars(text, end, value, std::chars_format::general);
  else
    r = std::from_chars(text, end, value);
  if (r.ec != std::errc() || r.ptr != end) return false;
  out = value;
  return true;
}

}  // namespace

std::optional<std::string> format_statement(std::string_view pattern,
                                            std::span<const statement_argument> args,
                                            const text_escaper& escape) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%') {
      out += c;
      continue;
    }
    char kind = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    std::size_t skip = 1;
    if (pattern.substr(i + 1, 3) == "llu") {
      kind = 'U';
      skip = 3;
    }
    if (kind == '%') {
      out += '%';
      ++i;
      continue;
    }
    if (next == args.end() || !append_argument(out, kind, *next, escape)) return std::nullopt;
    ++next;
    i += skip;
  }
  if (next != args.end()) return std::nullopt;
  return out;
}

bool parse_number(const char* text, unsigned long length, std::uint32_t& out) {
  return parse_whole(text, length, out);
}
bool parse_number(const char* text, unsigned long length, std::int32_t& out) {
  return parse_whole(text, length, out);
}
bool parse_number(const char* text, unsigned long length, std::uint64_t& out) {
  return parse_whole(text, length, out);
}
bool parse_number(const char* text, unsigned long length, float& out) {
  return parse_whole(text, length, out);
}

}  // namespace store
