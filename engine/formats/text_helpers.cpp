#include "engine/formats/text_helpers.h"

#include <atomic>
#include <stdexcept>

namespace engine {

void wchar_utf8(std::u16string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size());
  for (char16_t unit : text) {
    const unsigned u = unit;
    if (u < 0x80) {
      out += char(u);
    } else if (u < 0x800) {
      out += char(0xC0 | (u >> 6));
      out += char(0x80 | (u & 0x3F));
    } else {
      out += char(0xE0 | (u >> 12));
      out += char(0x80 | ((u >> 6) & 0x3F));
      out += char(0x80 | (u & 0x3F));
    }
  }
}

std::string wchar_utf8(std::u16string_view text) {
  std::string out;
  wchar_utf8(text, out);
  return out;
}

void utf8_wchar(std::string_view text, std::u16string& out) {
  std::u16string result;
  result.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  auto continuation = [&]() -> unsigned {
    if (p == end) throw std::runtime_error("incomplete UTF-8 sequence");
    const unsigned c = *p++;
    if ((c & 0xC0) != 0x80) throw std::runtime_error("invalid UTF-8 sequence");
    return c & 0x3F;
  };
  while (p != end) {
    const unsigned lead = *p++;
    unsigned unit;
    if (lead < 0x80) {
      unit = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      unit = (lead & 0x1F) << 6 | continuation();
      // An overlong form could smuggle '.', '/' or NUL past the path checks.
      if (unit < 0x80) throw std::runtime_error("invalid UTF-8 sequence");
    } else if ((lead & 0xF0) == 0xE0) {
      unit = (lead & 0x0F) << 12;
      unit |= continuation() << 6;
      unit |= continuation();
      if (unit < 0x800) throw std::runtime_error("invalid UTF-8 sequence");
    } else {
      throw std::runtime_error("UTF-8 not convertable to UTF-16");
    }
    result += char16_t(unit);
  }
  out = std::move(result);
}

std::u16string utf8_wchar(std::string_view text) {
  std::u16string out;
  utf8_wchar(text, out);
  return out;
}

namespace {
std::atomic<bool> g_remove_underscores{false};
}

void set_remove_underscores(bool on) { g_remove_underscores.store(on, std::memory_order_relaxed); }
bool remove_underscores() { return g_remove_underscores.load(std::memory_order_relaxed); }

namespace {

// Every '_' of the last component becomes a blank.
template <class String>
String UnderscoresToBlanks(String path) {
  using Char = typename String::value_type;
  const Char separators[] = {Char('/'), Char('\\'), Char(0)};
  const auto sep = path.find_last_of(separators);
  for (auto i = sep == String::npos ? 0 : sep; i < path.size(); ++i) {
    if (path[i] == Char('_')) path[i] = Char(' ');
  }
  return path;
}

}  // namespace

std::u16string ReplaceUnderscoresInFileName(std::u16string path) {
  if (!remove_underscores()) return path;
  return UnderscoresToBlanks(std::move(path));
}

std::filesystem::path ToLocalFilePath(const std::string& utf8_path) {
  if (!remove_underscores()) return std::filesystem::path(utf8_path);
  // The rule works on the bytes: '_', '/' and '\\' never occur inside a
  // longer UTF-8 form, so the result is the same as through UTF-16 for
  // every name that converts, and a name that does not (a four-byte form,
  // bytes that are no UTF-8) keeps its bytes instead of throwing.
  return std::filesystem::path(UnderscoresToBlanks(utf8_path));
}

std::filesystem::path ToLocalFilePath(const std::filesystem::path& path) { return ToLocalFilePath(path.string()); }

std::string escape_string(const char* bytes, int length) {
  static const char hex[] = "0123456789abcdef";
  static const std::string_view unreserved = "-_.!~*()";
  std::string out;
  out.reserve(length > 0 ? std::size_t(length) * 3 : 0);
  for (int i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (alnum || unreserved.find(char(c)) != std::string_view::npos) {
      out += char(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string unescape_string(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) throw std::runtime_error("invalid escaped string");
      const int hi = hex_value(text[i + 1]);
      const int lo = hex_value(text[i + 2]);
      if (hi < 0 || lo < 0) throw std::runtime_error("invalid escaped string");
      out += char(hi << 4 | lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace engine
