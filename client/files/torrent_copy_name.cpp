#include "client/files/torrent_copy_name.h"

#include "client/base/wide_text.h"
#include "engine/formats/text_helpers.h"

#include <algorithm>

namespace client {
namespace {

constexpr std::string_view kTorrentSuffix = ".torrent";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string DecodePercentEscapes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::optional<std::string> TorrentCopyName(std::string_view source) {
  // The source is a path of this system, where a backslash is part of a
  // file name.
  const std::size_t slash = source.rfind('/');
  std::string name = DecodePercentEscapes(slash == std::string_view::npos ? source : source.substr(slash + 1));
  if (!IsPlainFileName(name)) return std::nullopt;
  // The name is a single component: the underscore rule covers all of it.
  if (engine::remove_underscores()) std::replace(name.begin(), name.end(), '_', ' ');
  if (!name.ends_with(kTorrentSuffix)) name += kTorrentSuffix;
  return ShortenTorrentName(ListSafeName(name), kMaxCopyNameBytes - kCopyNameNumberRoom);
}

std::string ListSafeName(std::string_view name) {
  std::wstring wide = Utf8ToWide(name);
  for (wchar_t& c : wide)
    if (c < 0x20 || c == 0x7F) c = L' ';
  return WideToUtf8(wide);
}

std::string ShortenTorrentName(std::string_view name, std::size_t max_bytes) {
  if (name.size() <= max_bytes) return std::string(name);
  const std::string_view ending = name.ends_with(kTorrentSuffix) ? kTorrentSuffix : std::string_view();
  std::size_t cut = max_bytes > ending.size() ? max_bytes - ending.size() : 0;
  // Not inside a character: back to the start of the one at the cut.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return std::string(name.substr(0, cut)) + std::string(ending);
}

std::string UniqueTorrentName(std::string_view folder, std::string_view name,
                              const std::function<bool(const std::string& path)>& taken) {
  std::string candidate(name);
  const std::size_t dot = std::min(name.rfind('.'), name.size());
  const std::string stem(name.substr(0, dot)), extension(name.substr(dot));
  for (int n = 2; taken(std::string(folder) + candidate); ++n)
    candidate = stem + " (" + std::to_string(n) + ")" + extension;
  return candidate;
}

}  // namespace client
