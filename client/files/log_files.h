#pragma once
// The program's log files: UTF-16LE text with the mark FF FE at the start
// of a new file, lines ending in CR LF, only ever appended to.

#include <filesystem>
#include <string_view>

namespace client {

inline constexpr std::string_view kDownloadsLogFileName = "Downloads.log.txt";

// Appends the line and CR LF (a new or empty file gets the mark first);
// false when the file could not be written.
bool AppendLogLine(const std::filesystem::path& file, std::wstring_view line);

}  // namespace client
