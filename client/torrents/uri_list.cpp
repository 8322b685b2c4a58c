#include "client/torrents/uri_list.h"

#include "client/files/torrent_copy_name.h"

#include <algorithm>
#include <cctype>

namespace client {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
  return line;
}

}  // namespace

std::string LocalPathOfFileUri(std::string_view uri) {
  if (!Lower(uri.substr(0, 5)).starts_with("file:")) return {};
  std::string_view rest = uri.substr(5);
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return {};
    const std::string host = Lower(rest.substr(0, slash));
    if (!host.empty() && host != "localhost") return {};
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with('/')) return {};
  std::string path = DecodePercentEscapes(rest);
  if (path.find('\0') != std::string::npos) return {};
  return path;
}

DroppedItems ParseUriList(std::string_view text) {
  DroppedItems items;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = Trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    const std::string scheme = Lower(line.substr(0, line.find(':') + 1));
    if (scheme == "file:") {
      std::string path = LocalPathOfFileUri(line);
      if (!path.empty() && Lower(path).ends_with(".torrent")) items.files.push_back(std::move(path));
      else items.refused.emplace_back(line);
    } else if (scheme == "http:" || scheme == "https:") {
      items.urls.emplace_back(line);
    } else {
      items.refused.emplace_back(line);
    }
  }
  return items;
}

}  // namespace client
