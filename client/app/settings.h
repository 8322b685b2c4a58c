#pragma once
// The main window's settings, all in the profile section "Configuration":
// those read again after every OK of the options dialog (Settings), those
// read once when the window is made (StartupValues), the data folder, the
// auto-save destination list "Destinations.txt" and the defaults every new
// torrent starts with.
//
// Numbers kept as text ("SeedingRatio", "PeerRatio") are read the same way
// whatever the user's locale: a '.' is the decimal point.

#include "client/torrents/save_folder.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class profile;
}

namespace client {

struct Settings {
  int max_upload_rate = 10240;  // "MaxUploadRate", bytes/s, -1 unlimited
  int max_download_rate = -1;   // "MaxDownloadRate", bytes/s, -1 unlimited
  std::uint32_t max_active_torrents = 4;  // "MaxActiveTorrent"
  int max_uploads_per_torrent = 4;        // "MaxUploadsPerTorrent"
  std::uint32_t seeding_time = 7200000;   // "SeedingTime", ms
  std::uint32_t seeding_mode = 0;         // "SeedingMode": 0 time, 1 ratio
  double seeding_ratio = 2.0;             // "SeedingRatio"
  double peer_ratio = 0.0;                // "PeerRatio"
  unsigned min_port = 1500;               // "MinPort"
  unsigned max_port = 1504;               // "MaxPort"
  unsigned dht_port = 1500;               // "DHTPort", 0: no DHT
  int max_connections = 100;              // "MaxConnections"
  bool remove_underscores = false;        // "Remove_FromFileNames"
  bool upnp_port_forwarding = false;      // "UPnPPortForwarding"
  int ip_address_index = 0;               // "IpAddressIndex"
  std::string asd_single;                 // "ASDSingle": folder of ASDMode 0
  std::uint32_t asd_mode = 2;             // "ASDMode"
  int last_priority = 1;                  // "Last Priority"
};

// Reads every setting with its default and clamp. `platform_flag` gates
// "UPnPPortForwarding": without it the setting stays off.
Settings LoadSettings(const platform::profile& profile, bool platform_flag);

// A ratio text as the loader reads it: one number with '.' or ',' as
// decimal point (whatever the user's locale), leading blanks allowed and
// anything after the number ignored; none when no number starts the text.
std::optional<double> ParseRatioText(std::string_view text);

// Read once when the main window is made.
struct StartupValues {
  bool session_only = false;    // "This Session Only"
  bool simple_display = false;  // "Simple Display"
  std::string torrents;         // "Torrents" (empty: the default data folder)
  std::string last_destination; // "Last Destination" (empty: the current folder)
  bool show_diagram = false;    // "Show Diagram"
  bool use_database = false;    // "Use Database"
  std::string database_url;     // "Database URL"
  int database_port = 3306;     // "Database Port"
  std::string database_user = "Quillfern";  // "Database User"
  std::string database_password;            // "Database Password"
};
StartupValues ReadStartupValues(const platform::profile& profile);

// The main timer's period: "Intervall" (default 500), at least 10 ms.
inline constexpr int kDefaultInterval = 500;
inline constexpr int kMinimumInterval = 10;
int ReadInterval(const platform::profile& profile);
int ClampInterval(int interval_ms);

// The data folder: `torrents` with a trailing separator when set, else
// "$XDG_DATA_HOME/Quillfern/Torrents/" ($XDG_DATA_HOME when set and
// absolute, else ~/.local/share). Made with its parents.
std::string DataFolder(std::string_view torrents);
// "Last Destination", or the current folder with a trailing separator.
std::string LastDestination(std::string_view stored);

// The auto-save destination list "Destinations.txt" as the save-folder
// choice takes it (folders in UTF-8); a missing or unreadable file gives an
// empty list.
std::vector<DestinationEntry> LoadDestinations(const std::filesystem::path& file);

// Upload slots of the session: slots per torrent times the most active
// torrents, saturated at the largest int; a negative per-torrent value is
// unlimited (-1).
int SessionUploadSlots(int per_torrent, std::uint32_t max_active);

// What every new torrent starts with.
struct TorrentDefaults {
  int upload_limit = -1;
  int download_limit = -1;
  int max_upload_rate = 0;
  int max_download_rate = 0;
  std::uint32_t seeding_time = 0;
  std::uint32_t seeding_mode = 0;
  double seeding_ratio = 2.0;
  double peer_ratio = 0.0;
  bool flag = false;
};
TorrentDefaults MakeTorrentDefaults(const Settings& settings);

// The values the main window writes back when it closes.
struct ShutdownValues {
  int interval = kDefaultInterval;
  std::string torrents;
  std::string last_destination;
  bool show_diagram = false;
  int last_priority = 1;
  bool simple_display = false;
};
void WriteShutdownValues(platform::profile& profile, const ShutdownValues& values);

}  // namespace client
