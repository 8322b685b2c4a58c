#include "client/files/ip_filter_file.h"

#include "client/common/frame_model.h"
#include "client/base/number_scan.h"
#include "platform/atomic_file.h"
#include "store/ip_filter_table.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace client {

namespace {

constexpr std::uint32_t kLevelBlocked = 1;
constexpr std::uint32_t kLevelAllowed = 128;

engine::address AddressOf(const std::uint32_t (&parts)[4]) {
  return engine::address(std::uint8_t(parts[0]), std::uint8_t(parts[1]), std::uint8_t(parts[2]),
                         std::uint8_t(parts[3]), 0);
}

int FlagsOfLevel(std::uint32_t level) { return level < kLevelAllowed ? engine::ip_filter::blocked : 0; }

// A rule that is not empty; reversed ranges are dropped here, whatever the
// filter would make of them.
void AddRule(engine::ip_filter& filter, engine::address first, engine::address last, int flags) {
  if (first.ip <= last.ip) filter.add_rule(first, last, flags);
}

struct ParsedLine {
  engine::address first;
  engine::address last;
  std::uint32_t level = 0;
};

std::optional<ParsedLine> ParseRuleLine(std::string_view line) {
  NumberScan scan(line);
  std::uint32_t first[4], last[4], level = 0;
  if (!(scan.DottedQuad(first) && scan.Literal('-') && scan.DottedQuad(last) && scan.Literal(',') &&
        scan.Number(level)))
    return std::nullopt;
  return ParsedLine{AddressOf(first), AddressOf(last), level};
}

std::optional<engine::address> ParseDotted(std::string_view text) {
  std::uint32_t parts[4];
  if (!NumberScan(text).DottedQuad(parts)) return std::nullopt;
  return AddressOf(parts);
}

// "# " + program name + " " + the about text on one line.
std::string CommentLine() {
  std::string line = "# Quillfern ";
  for (wchar_t c : FrameInfoText()) line += static_cast<char>(c);  // ASCII
  for (std::size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, " ");
  return line;
}

}  // namespace

std::vector<IpFilterLine> IpFilterLines(const engine::ip_filter& filter) {
  const std::vector<engine::ip_range> ranges = filter.export_filter();
  std::vector<IpFilterLine> lines;
  lines.reserve(ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    engine::address last = ranges[i].last;
    if (i + 1 < ranges.size() && (ranges[i + 1].first.ip & 0xFF) == 0) last = ranges[i + 1].first;
    lines.push_back({ranges[i].first, last, (ranges[i].flags & engine::ip_filter::blocked) != 0});
  }
  return lines;
}

std::size_t ReadIpFilterText(std::string_view data, engine::ip_filter& filter) {
  std::string text;
  text.reserve(data.size());
  for (char c : data) {
    if (c == '\0') break;
    if (c != ' ') text += c;
  }
  std::size_t skipped = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    const std::string_view line = std::string_view(text).substr(pos, end == std::string::npos ? end : end - pos);
    // Blank lines (a lone CR, tabs) hold nothing to apply.
    const bool blank = line.find_first_not_of("\r\t\v\f") == std::string_view::npos;
    if (!blank && line.front() != '#') {
      if (const auto rule = ParseRuleLine(line)) AddRule(filter, rule->first, rule->last, FlagsOfLevel(rule->level));
      else ++skipped;
    }
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return skipped;
}

std::string IpFilterFileText(const engine::ip_filter& filter) {
  std::string text = CommentLine() + "\r\n";
  for (const IpFilterLine& line : IpFilterLines(filter)) {
    text += line.first.as_string() + " - " + line.last.as_string() + ", ";
    text += std::to_string(line.blocked ? kLevelBlocked : kLevelAllowed) + ",\r\n";
  }
  return text;
}

bool LoadIpFilterFile(const std::filesystem::path& file, engine::ip_filter& filter, std::size_t* skipped) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return false;
  const std::size_t count = ReadIpFilterText(bytes.str(), filter);
  if (skipped) *skipped = count;
  return true;
}

bool SaveIpFilterFile(const std::filesystem::path& file, const engine::ip_filter& filter) {
  return platform::write_file_atomically(file, IpFilterFileText(filter));
}

bool LoadIpFilterTable(CIpFilterTable& table, engine::ip_filter& filter) {
  if (!table.Select(0)) return false;
  do {
    const auto first = ParseDotted(table.ip_start);
    const auto last = ParseDotted(table.ip_end);
    if (first && last) AddRule(filter, *first, *last, FlagsOfLevel(table.flags));
  } while (table.FetchNext());
  return true;
}

bool SaveIpFilterTable(CIpFilterTable& table, const engine::ip_filter& filter) {
  if (!table.Delete(0)) return false;
  for (const IpFilterLine& line : IpFilterLines(filter)) {
    table.ip_start = line.first.as_string();
    table.ip_end = line.last.as_string();
    table.flags = line.blocked ? kLevelBlocked : kLevelAllowed;
    if (!table.Insert()) return false;
  }
  return true;
}

}  // namespace client
