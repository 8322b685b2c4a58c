#include "client/torrents/hash_torrent_model.h"

#include "client/common/paths.h"
#include "client/torrents/save_folder.h"
#include "client/base/wide_text.h"
#include "platform/profile.h"

#include <cwctype>

namespace client {
namespace {

constexpr std::string_view kSection = "Configuration";

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

std::optional<engine::sha1_hash> ParseInfoHash(std::wstring_view text) {
  while (!text.empty() && std::iswspace(text.front())) text.remove_prefix(1);
  while (!text.empty() && std::iswspace(text.back())) text.remove_suffix(1);
  engine::sha1_hash hash;
  if (text.size() != 2 * engine::sha1_hash::size) return std::nullopt;
  for (std::size_t i = 0; i < engine::sha1_hash::size; ++i) {
    const int high = HexDigit(text[2 * i]), low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    hash[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return hash;
}

void HashTorrentModel::Load(const platform::profile& profile) {
  tracker_url = Utf8ToWide(profile.GetProfileString(kSection, "HTH Tracker Url", "http://"));
  save_path = Utf8ToWide(DriveRootToHome(profile.GetProfileString(kSection, "HTH Save Path", "A:\\")));
}

void HashTorrentModel::Save(platform::profile& profile) const {
  profile.WriteProfileString(kSection, "HTH Tracker Url", WideToUtf8(tracker_url));
  profile.WriteProfileString(kSection, "HTH Save Path", WideToUtf8(save_path));
}

bool HashTorrentModel::ChooseFolder(UiServices& ui) {
  const std::optional<std::string> chosen = ui.ChooseFolder(WideToUtf8(kHashFolderTitle), WideToUtf8(save_path));
  if (!chosen) return false;
  save_path = Utf8ToWide(WithTrailingSeparator(*chosen));
  return true;
}

}  // namespace client
