#pragma once
// Conversions between the GUI's texts (std::wstring, one code point per
// unit here), the list file's UTF-16 and the engine's UTF-8.

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace client {

std::string WideToUtf8(std::wstring_view text);
// Malformed bytes become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
std::u16string WideToUtf16(std::wstring_view text);
// An unpaired surrogate is kept as it stands.
std::wstring Utf16ToWide(std::u16string_view text);
// ASCII text (numbers, keys) as UTF-16.
std::u16string AsciiToUtf16(std::string_view text);
// A path text as a local path (UTF-8 bytes).
std::filesystem::path WideToPath(std::wstring_view path);

// printf formatting (numbers, UTF-8 arguments) into a wide text.
template <class... Args>
std::wstring FormatWide(const char* format, Args... values) {
  char buffer[128];
  const int n = std::snprintf(buffer, sizeof buffer, format, values...);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buffer) return Utf8ToWide(std::string_view(buffer, n));
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, values...);
  text.resize(static_cast<std::size_t>(n));
  return Utf8ToWide(text);
}

}  // namespace client
