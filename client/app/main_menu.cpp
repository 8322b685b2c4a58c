#include "client/app/main_menu.h"

#include "client/common/color_scheme.h"
#include "client/common/paths.h"

#include <filesystem>

namespace client {

std::vector<MenuItem> MainMenuItems(const MainMenuState& state) {
  std::vector<MenuItem> items = {
      {main_menu::kAddTorrentFile, "Add Torrent File"},
      {main_menu::kAddTorrentHash, "Add Torrent Hash"},
      {},
      {main_menu::kMakeTorrent, "Make Torrent", true, false, true},
      {},
      {main_menu::kPauseAll, "Pause All"},
      {},
      {main_menu::kOptions, "Options"},
  };
  if (state.has_ip_filter) items.push_back({main_menu::kClearBanList, "Clear ban list"});
  items.push_back({main_menu::kProgression, "Progression", true, state.show_diagram});
  items.push_back({main_menu::kViewToggle, state.simple_display ? "Diagram View" : "Simple View"});
  items.push_back({main_menu::kCheckForUpdate, "Check for Update"});
  if (state.has_dht) items.push_back({main_menu::kDumpDhtTables, "Dump DHT tables"});
  return items;
}

std::vector<MenuItem> TrayMenuItems() { return {{tray_menu::kOptions, "Options"}, {tray_menu::kClose, "Close"}}; }

std::vector<FileFilter> TorrentFileFilters() {
  return {{"Torrent Files (*.torrent)", "*.torrent"}, {"All Files (*.*)", "*"}};
}

std::string LastTorrentSource(const platform::profile& profile) {
  const std::string folder =
      profile.GetProfileString(kConfigurationSection, kLastTorrentSourceValue, kLastTorrentSourceDefault);
  std::error_code ec;
  if (!folder.empty() && std::filesystem::is_directory(folder, ec)) return WithTrailingSeparator(folder);
  return HomeFolder();
}

void RememberTorrentSource(platform::profile& profile, std::string_view chosen_path) {
  profile.WriteProfileString(kConfigurationSection, kLastTorrentSourceValue, FolderOf(chosen_path));
}

}  // namespace client
