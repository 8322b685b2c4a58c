#include "client/torrents/command_line.h"

#include "client/common/paths.h"

namespace client {

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

namespace {
std::optional<std::string>& Kept() {
  static std::optional<std::string> kept;
  return kept;
}
}  // namespace

void KeepProgramArguments(int argc, const char* const* argv) { Kept() = JoinArguments(argc, argv); }

std::optional<std::string> KeptCommandLine() { return Kept(); }

std::optional<std::string> TorrentPathFromCommandLine(std::string_view text) {
  std::string path;
  path.reserve(text.size());
  for (char c : text)
    if (c != '"') path += c;
  if (!path.ends_with(".torrent")) return std::nullopt;
  return path;
}

std::string CommandLineToHandOver(std::string_view text, std::string_view current_folder) {
  auto path = TorrentPathFromCommandLine(text);
  if (!path) return std::string(text);
  if (path->front() == '/' || current_folder.empty()) return *path;
  return WithTrailingSeparator(current_folder) + *path;
}

}  // namespace client
