#include "client/files/CUTF16File.h"

#include "platform/atomic_file.h"

#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace client {
namespace {

constexpr std::size_t kFillBytes = 4096;

// One character of UTF-8; a byte that starts no valid form stands for
// itself (widened), so any bytes can be read.
int DecodeUtf8(std::string_view s, std::size_t& pos, char16_t out[2]) {
  const unsigned char c = static_cast<unsigned char>(s[pos]);
  int len = 0;
  std::uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
  bool valid = len > 0 && pos + static_cast<std::size_t>(len) <= s.size();
  for (int k = 1; valid && k < len; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[pos + static_cast<std::size_t>(k)]);
    valid = (b & 0xC0) == 0x80;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (valid && len == 3) valid = cp >= 0x800;
  if (valid && len == 4) valid = cp >= 0x10000 && cp <= 0x10FFFF;
  if (!valid) {
    out[0] = c;
    ++pos;
    return 1;
  }
  pos += static_cast<std::size_t>(len);
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  cp -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  return 2;
}

// UTF-16 to UTF-8; surrogate pairs become one four-byte form, a lone half
// its own three-byte form.
std::string EncodeUtf8(std::u16string_view text, bool crlf) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (cp == '\n' && crlf) out += '\r';
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

CUTF16File::CUTF16File(const std::filesystem::path& name, unsigned flags) { Open(name, flags); }

CUTF16File::~CUTF16File() { Close(); }

bool CUTF16File::Open(const std::filesystem::path& name, unsigned flags) {
  Close();
  m_name = name;
  m_flags = flags;
  m_bytes.clear();
  m_pos = 0;
  m_ahead.clear();
  m_unicode = m_swapped = false;
  const bool truncate = (flags & modeCreate) && !(flags & modeNoTruncate);
  if (!truncate) {
    std::error_code ec;
    if (std::filesystem::is_directory(name, ec)) return false;
    std::ifstream in(name, std::ios::binary);
    if (in) {
      m_bytes.assign(std::istreambuf_iterator<char>(in), {});
      if (in.bad()) return false;
    } else if (!(flags & modeCreate)) {
      return false;
    }
  }
  m_open = true;
  m_changed = (flags & modeCreate) != 0;
  if (!(flags & modeWrite) && m_bytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(m_bytes[0]), b1 = static_cast<unsigned char>(m_bytes[1]);
    if (b0 == 0xFF && b1 == 0xFE) m_unicode = true;
    if (b0 == 0xFE && b1 == 0xFF) m_unicode = m_swapped = true;
    if (m_unicode) m_pos = 2;
  }
  return true;
}

bool CUTF16File::Close() {
  if (!m_open) return true;
  m_open = false;
  m_ahead.clear();
  if (!(m_flags & (modeWrite | modeReadWrite)) || !m_changed) return true;
  // Keep the permissions of the file being replaced.
  mode_t mode = 0644;
  struct stat st{};
  if (::stat(m_name.c_str(), &st) == 0) mode = st.st_mode & 07777;
  return platform::write_file_atomically(m_name, m_bytes, mode);
}

void CUTF16File::Fill() {
  const std::size_t count = std::min(kFillBytes, m_bytes.size() - std::min(m_pos, m_bytes.size()));
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    const auto lo = static_cast<unsigned char>(m_bytes[m_pos + i]);
    const auto hi = static_cast<unsigned char>(m_bytes[m_pos + i + 1]);
    m_ahead.push_back(m_swapped ? static_cast<char16_t>(lo << 8 | hi) : static_cast<char16_t>(hi << 8 | lo));
  }
  m_pos += count;
}

bool CUTF16File::ReadString(std::u16string& line) {
  if (!m_open) return false;
  if (!m_unicode) return ReadPlainString(line);
  line.clear();
  Fill();
  if (m_ahead.empty()) return false;
  for (;;) {
    if (m_ahead.empty()) {
      Fill();
      if (m_ahead.empty()) break;
    }
    const char16_t unit = m_ahead.front();
    m_ahead.pop_front();
    if (unit == u'\n') break;
    line += unit;
  }
  return true;
}

char16_t* CUTF16File::ReadString(char16_t* buffer, unsigned n) {
  if (!m_open || n < 2) return nullptr;
  if (!m_unicode) return ReadPlainString(buffer, n);
  Fill();
  unsigned copied = 0;
  while (copied < n - 1) {
    if (m_ahead.empty()) {
      Fill();
      if (m_ahead.empty()) break;
    }
    const char16_t unit = m_ahead.front();
    m_ahead.pop_front();
    buffer[copied++] = unit;
    if (unit == u'\n') break;
  }
  buffer[copied] = 0;
  return copied ? buffer : nullptr;
}

int CUTF16File::NextPlainChar(char16_t out[2]) {
  if (m_pos >= m_bytes.size()) return 0;
  // Text mode reads the line end CR LF as LF.
  if (!(m_flags & typeBinary) && m_bytes[m_pos] == '\r' && m_pos + 1 < m_bytes.size() &&
      m_bytes[m_pos + 1] == '\n') {
    ++m_pos;
  }
  return DecodeUtf8(m_bytes, m_pos, out);
}

bool CUTF16File::ReadPlainString(std::u16string& line) {
  line.clear();
  char16_t c[2];
  bool any = false;
  while (const int units = NextPlainChar(c)) {
    any = true;
    if (c[0] == u'\n') break;
    line.append(c, static_cast<std::size_t>(units));
  }
  return any;
}

char16_t* CUTF16File::ReadPlainString(char16_t* buffer, unsigned n) {
  unsigned copied = 0;
  char16_t c[2];
  while (copied < n - 1) {
    const std::size_t before = m_pos;
    const int units = NextPlainChar(c);
    if (units == 0) break;
    if (copied + static_cast<unsigned>(units) > n - 1) {
      m_pos = before;  // a surrogate pair that does not fit waits for the next call
      break;
    }
    for (int k = 0; k < units; ++k) buffer[copied++] = c[k];
    if (c[0] == u'\n') break;
  }
  buffer[copied] = 0;
  return copied ? buffer : nullptr;
}

std::uint64_t CUTF16File::Seek(std::int64_t offset, SeekPosition from) {
  if (!m_open) return m_pos;
  const std::int64_t origin = from == begin ? 0 : from == current ? static_cast<std::int64_t>(m_pos)
                                                                  : static_cast<std::int64_t>(m_bytes.size());
  const std::int64_t target = origin + offset;
  if (target >= 0) m_pos = static_cast<std::size_t>(target);
  const std::uint64_t position = m_pos;
  if (m_unicode) {
    m_ahead.clear();
    Fill();
  }
  return position;
}

void CUTF16File::WriteBytes(std::string_view bytes) {
  if (m_pos > m_bytes.size()) m_bytes.resize(m_pos, '\0');
  m_bytes.replace(m_pos, std::min(bytes.size(), m_bytes.size() - m_pos), bytes);
  m_pos += bytes.size();
  m_changed = true;
}

bool CUTF16File::WriteString(std::u16string_view text) {
  if (!m_open || !(m_flags & (modeWrite | modeReadWrite))) return false;
  if (!m_write_unicode) {
    WriteBytes(EncodeUtf8(text, !(m_flags & typeBinary)));
    return true;
  }
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  if (m_pos == 0) bytes += "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  WriteBytes(bytes);
  return true;
}

}  // namespace client
