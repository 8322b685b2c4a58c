#include "platform/profile.h"

#include "platform/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// Read-modify-write of a profile file is serialised within the process.
std::mutex g_file_mutex;
std::mutex g_app_mutex;
std::filesystem::path g_app_file;

bool iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x += 32;
    if (y >= 'A' && y <= 'Z') y += 32;
    if (x != y) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool valid_section(std::string_view s) {
  return !s.empty() && s.find_first_of("]\r\n") == std::string_view::npos;
}
bool valid_name(std::string_view s) {
  return !s.empty() && s.find_first_of("=\r\n") == std::string_view::npos && s.front() != '[' &&
         s.front() != ';' && trim(s) == s;
}

// Texts keep their line on one line: backslash, CR and LF are escaped.
std::string escape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}
std::string unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      const char n = s[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string> read_lines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

struct location {
  std::size_t section_line = std::string::npos;  // the "[section]" line
  std::size_t section_end = 0;                   // one past its last value line
  std::size_t value_line = std::string::npos;
};

std::optional<std::string_view> section_header(std::string_view line) {
  line = trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return std::nullopt;
  return line.substr(1, line.size() - 2);
}

location locate(const std::vector<std::string>& lines, std::string_view section, std::string_view name) {
  location loc;
  bool inside = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (auto header = section_header(lines[i])) {
      if (inside) break;  // the first section of that name is the one
      inside = iequal(*header, section);
      if (inside) {
        loc.section_line = i;
        loc.section_end = i + 1;
      }
      continue;
    }
    if (!inside) continue;
    const std::string_view line = lines[i];
    if (!trim(line).empty()) loc.section_end = i + 1;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || trim(line).starts_with(';')) continue;
    if (loc.value_line == std::string::npos && iequal(trim(line.substr(0, eq)), name)) loc.value_line = i;
  }
  return loc;
}

bool write_atomically(const std::filesystem::path& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += '\n';
  }
  return write_file_atomically(file, text, 0600);
}

}  // namespace

std::filesystem::path config_folder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && home[0]) return std::filesystem::path(home) / ".config";
  return std::filesystem::current_path();
}

profile profile::for_program(std::string_view program_name) {
  const std::string name(program_name);
  return profile(config_folder() / name / (name + ".ini"));
}

profile profile::application() {
  {
    std::lock_guard lock(g_app_mutex);
    if (!g_app_file.empty()) return profile(g_app_file);
  }
  return for_program("Quillfern");
}

void profile::set_application_file(std::filesystem::path file) {
  std::lock_guard lock(g_app_mutex);
  g_app_file = std::move(file);
}

std::optional<std::string> profile::read_raw(std::string_view section, std::string_view name) const {
  std::lock_guard lock(g_file_mutex);
  const auto lines = read_lines(m_file);
  const auto loc = locate(lines, section, name);
  if (loc.value_line == std::string::npos) return std::nullopt;
  const std::string_view line = lines[loc.value_line];
  return std::string(line.substr(line.find('=') + 1));
}

bool profile::write_raw(std::string_view section, std::string_view name, const std::string* raw) {
  if (!valid_section(section) || !valid_name(name)) return false;
  std::lock_guard lock(g_file_mutex);
  auto lines = read_lines(m_file);
  const auto loc = locate(lines, section, name);
  if (!raw) {
    if (loc.value_line == std::string::npos) return true;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(loc.value_line));
    return write_atomically(m_file, lines);
  }
  std::string line = std::string(name) + "=" + *raw;
  if (loc.value_line != std::string::npos) {
    lines[loc.value_line] = std::move(line);
  } else if (loc.section_line != std::string::npos) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(loc.section_end), std::move(line));
  } else {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(std::move(line));
  }
  return write_atomically(m_file, lines);
}

int profile::GetProfileInt(std::string_view section, std::string_view name, int fallback) const {
  const auto raw = read_raw(section, name);
  if (!raw) return fallback;
  const std::string_view text = trim(*raw);
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return fallback;
  if (v < INT32_MIN || v > static_cast<std::int64_t>(UINT32_MAX)) return fallback;
  return static_cast<int>(static_cast<std::uint32_t>(v));
}

bool profile::WriteProfileInt(std::string_view section, std::string_view name, int value) {
  const std::string raw = std::to_string(value);
  return write_raw(section, name, &raw);
}

std::string profile::GetProfileString(std::string_view section, std::string_view name,
                                      std::string_view fallback) const {
  const auto raw = read_raw(section, name);
  return raw ? unescape(*raw) : std::string(fallback);
}

bool profile::WriteProfileString(std::string_view section, std::string_view name, std::string_view value) {
  const std::string raw = escape(value);
  return write_raw(section, name, &raw);
}

std::optional<std::string> profile::GetProfileBinary(std::string_view section, std::string_view name) const {
  const auto raw = read_raw(section, name);
  if (!raw) return std::nullopt;
  const std::string_view hex = trim(*raw);
  if (hex.size() % 2 != 0) return std::nullopt;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes(hex.size() / 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int hi = digit(hex[2 * i]), lo = digit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

bool profile::WriteProfileBinary(std::string_view section, std::string_view name, std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string raw;
  raw.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    raw += digits[b >> 4];
    raw += digits[b & 15];
  }
  return write_raw(section, name, &raw);
}

bool profile::DeleteProfileValue(std::string_view section, std::string_view name) {
  return write_raw(section, name, nullptr);
}

std::string profile::SectionText(std::string_view section) const {
  std::lock_guard lock(g_file_mutex);
  const auto lines = read_lines(m_file);
  const auto loc = locate(lines, section, {});
  if (loc.section_line == std::string::npos) return {};
  std::string text;
  for (std::size_t i = loc.section_line; i < loc.section_end; ++i) {
    text += lines[i];
    text += '\n';
  }
  return text;
}

}  // namespace platform
