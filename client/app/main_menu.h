#pragma once
// The main window's menus without the window: the context menu of the
// client area and the tray icon's menu, as items for UiServices::PopupMenu,
// and the folder the "Add Torrent File" chooser starts in.

#include "client/common/ui_services.h"
#include "platform/profile.h"

#include <string>
#include <string_view>
#include <vector>

namespace client {

// The context menu's command ids (all outside wx's stock range 4999..5999).
namespace main_menu {
inline constexpr int kAddTorrentFile = 1;
inline constexpr int kAddTorrentHash = 2;
inline constexpr int kMakeTorrent = 3;
inline constexpr int kOptions = 4;
inline constexpr int kClearBanList = 5;
inline constexpr int kCheckForUpdate = 6;
inline constexpr int kPauseAll = 7;
inline constexpr int kProgression = 8;
inline constexpr int kViewToggle = 9;  // "Simple View" / "Diagram View"
inline constexpr int kDumpDhtTables = 2000;
}  // namespace main_menu

// The tray menu's command ids.
namespace tray_menu {
inline constexpr int kOptions = 1;
inline constexpr int kClose = 2;
}  // namespace tray_menu

// What decides the context menu's items.
struct MainMenuState {
  bool has_ip_filter = false;
  bool has_dht = false;
  bool show_diagram = false;    // "Show Diagram": "Progression" is checked
  bool simple_display = false;  // "Simple Display": the toggle reads "Diagram View"
};

// "Add Torrent File", "Add Torrent Hash", -, "Make Torrent" (the default),
// -, "Pause All", -, "Options", "Clear ban list" (with a filter),
// "Progression", the view toggle, "Check for Update", "Dump DHT tables"
// (with a DHT node). Separators have id 0.
std::vector<MenuItem> MainMenuItems(const MainMenuState& state);

// "Options", "Close".
std::vector<MenuItem> TrayMenuItems();

// The chooser of "Add Torrent File".
inline constexpr std::string_view kAddTorrentFileTitle = "Add Torrent File";
std::vector<FileFilter> TorrentFileFilters();

// "Last Torrent Source" (section "Configuration"): where the chooser
// starts. A stored folder that does not exist (a value of another system)
// gives the home folder.
inline constexpr std::string_view kLastTorrentSourceValue = "Last Torrent Source";
inline constexpr std::string_view kLastTorrentSourceDefault = "C:\\";
std::string LastTorrentSource(const platform::profile& profile);
// The chosen file's folder (with its separator) becomes the start folder.
void RememberTorrentSource(platform::profile& profile, std::string_view chosen_path);

}  // namespace client
