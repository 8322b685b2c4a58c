#pragma once
// The program's IP filter on disk and in the store.
//
// The file "IpAddress.FilterData" in the data folder is text with CR LF line
// ends: a comment line naming the program, then one line per range in
// ascending order, "start - end, level,", where level 1 blocks and 128
// allows:
//   # Quillfern Version 1, 3, 0, 55 quillfern.example.org
//   0.0.0.0 - 9.255.255.255, 128,
//   10.0.0.0 - 10.255.255.255, 1,
// A range ends one address before the next one starts, except that when the
// next start ends in .0 the end is written as that start itself (the next
// line, read later, wins for it). In the store's ip_filter table each range
// is one row with the same ends and the flags 1 or 128.

#include "engine/net/ip_filter.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class CIpFilterTable;

namespace client {

inline constexpr std::string_view kIpFilterFileName = "IpAddress.FilterData";

// One line of the file or one row of the table.
struct IpFilterLine {
  engine::address first;
  engine::address last;  // with the .0 rule applied
  bool blocked = false;

  friend bool operator==(const IpFilterLine&, const IpFilterLine&) = default;
};

// The filter's ranges as they are written.
std::vector<IpFilterLine> IpFilterLines(const engine::ip_filter& filter);

// Adds the rules of a file's text to `filter`, in file order. Blanks are
// ignored anywhere; a line starting with '#' is a comment, an empty line
// is passed over; the text ends at a zero byte. A line that is not
// "a.b.c.d-a.b.c.d,level" is skipped and counted: the lines after it are
// read as usual. Address parts count with their low eight bits; a level
// below 128 blocks. A line whose first address lies above its last is
// skipped (not counted: it is well formed). The count of malformed lines.
std::size_t ReadIpFilterText(std::string_view text, engine::ip_filter& filter);

// The whole file: the comment line and one line per range.
std::string IpFilterFileText(const engine::ip_filter& filter);

// False when the file cannot be read; the filter is then unchanged.
// `skipped` (when given) gets the count of malformed lines.
bool LoadIpFilterFile(const std::filesystem::path& file, engine::ip_filter& filter, std::size_t* skipped = nullptr);
// Replaces the file as a whole (a crash leaves the old one). False when
// that failed.
bool SaveIpFilterFile(const std::filesystem::path& file, const engine::ip_filter& filter);

// Adds the table's rules in id order. Rows whose ends are no dotted quads,
// or whose start lies above their end, are skipped. False when not even a
// first row could be fetched (an empty table too).
bool LoadIpFilterTable(CIpFilterTable& table, engine::ip_filter& filter);
// Deletes every row (restarting the ids) and inserts one per range in
// order. False at the first statement that fails.
bool SaveIpFilterTable(CIpFilterTable& table, const engine::ip_filter& filter);

}  // namespace client
