#include "client/base/wide_text.h"

namespace client {
namespace {

// A text unit as a code point; beyond Unicode is U+FFFD.
char32_t CodePoint(wchar_t unit) {
  const auto c = static_cast<char32_t>(unit);
  return c > 0x10FFFF ? 0xFFFD : c;
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  for (wchar_t unit : text) {
    const char32_t c = CodePoint(unit);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : lead >> 5 == 6 ? 1 : lead >> 4 == 14 ? 2 : lead >> 3 == 30 ? 3 : -1;
    char32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
    bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    std::size_t used = 1;
    for (int k = 1; ok && k <= extra; ++k, ++used) {
      const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      if (b >> 6 != 2) ok = false;
      else c = c << 6 | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (ok && (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))) ok = false;
    out += ok ? static_cast<wchar_t>(c) : L'\xFFFD';
    i += ok ? used : 1;
  }
  return out;
}

std::u16string WideToUtf16(std::wstring_view text) {
  std::u16string out;
  for (wchar_t unit : text) {
    char32_t c = CodePoint(unit);
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 | c >> 10);
      out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
  }
  return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      out += static_cast<wchar_t>(u);
    }
  }
  return out;
}

std::u16string AsciiToUtf16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::filesystem::path WideToPath(std::wstring_view path) { return std::filesystem::path(WideToUtf8(path)); }

}  // namespace client
