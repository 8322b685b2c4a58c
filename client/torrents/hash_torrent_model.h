#pragma once
// The "Add Torrent" dialog for a torrent known only by its info-hash: the
// hash, the tracker to ask and the folder to save to. The tracker and the
// folder are kept in the profile ("HTH Tracker Url", "HTH Save Path" in
// "Configuration"); the hash is not.

#include "client/common/ui_services.h"
#include "engine/formats/sha1_hash.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {
class profile;
}

namespace client {

inline constexpr std::wstring_view kHashTorrentCaption = L"Add Torrent - Quillfern";
inline constexpr std::wstring_view kHashFolderTitle = L"Select destination folder";

// Control ids (OK and Cancel are 1 and 2).
inline constexpr int kIdHashOk = 1;
inline constexpr int kIdHashCancel = 2;
inline constexpr int kIdHashInfoHash = 1035;
inline constexpr int kIdHashTrackerUrl = 1036;
inline constexpr int kIdHashSavePath = 1037;
inline constexpr int kIdHashChooseFolder = 1038;

// The 20 bytes of an info-hash written as 40 hexadecimal digits (either
// case, blanks around them allowed); none for any other text.
std::optional<engine::sha1_hash> ParseInfoHash(std::wstring_view text);

struct HashTorrentModel {
  std::wstring info_hash;
  std::wstring tracker_url = L"http://";
  std::wstring save_path;

  // The tracker and the folder from the profile.
  void Load(const platform::profile& profile);
  // OK: the tracker and the folder go back to the profile.
  void Save(platform::profile& profile) const;
  // "...": the folder chooser; a chosen folder replaces the save path.
  bool ChooseFolder(UiServices& ui);
};

}  // namespace client
