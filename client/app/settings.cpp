#include "client/app/settings.h"

#include "client/common/color_scheme.h"
#include "client/common/paths.h"
#include "client/dialogs/options_model.h"
#include "client/base/number_scan.h"
#include "client/base/wide_text.h"
#include "platform/profile.h"

#include <climits>
#include <system_error>

namespace client {

namespace {

constexpr std::string_view kSection = kConfigurationSection;

int Int(const platform::profile& p, std::string_view key, int fallback) {
  return p.GetProfileInt(kSection, key, fallback);
}
std::uint32_t Unsigned(const platform::profile& p, std::string_view key, std::uint32_t fallback) {
  return static_cast<std::uint32_t>(p.GetProfileInt(kSection, key, static_cast<int>(fallback)));
}
std::string Text(const platform::profile& p, std::string_view key, std::string_view fallback = {}) {
  return p.GetProfileString(kSection, key, fallback);
}

// The number of characters of a UTF-8 text (bytes that start one).
std::size_t CharacterCount(std::string_view utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Appends '/' to a folder of at least `min_chars` characters that ends in
// no separator.
std::string FolderWithSeparator(std::string folder, std::size_t min_chars) {
  if (CharacterCount(folder) >= min_chars && !IsSeparator(folder.back())) folder += '/';
  return folder;
}

}  // namespace

std::optional<double> ParseRatioText(std::string_view text) {
  double value = 0;
  if (!NumberScan(text).Ratio(value)) return std::nullopt;
  return value;
}

Settings LoadSettings(const platform::profile& p, bool platform_flag) {
  Settings s;
  s.max_upload_rate = Int(p, "MaxUploadRate", 10240);
  if (s.max_upload_rate < 2048 && s.max_upload_rate != -1) s.max_upload_rate = 2048;
  s.max_download_rate = Int(p, "MaxDownloadRate", -1);
  if (s.max_download_rate == 0) s.max_download_rate = -1;
  s.max_active_torrents = Unsigned(p, "MaxActiveTorrent", 4);
  s.max_uploads_per_torrent = Int(p, "MaxUploadsPerTorrent", 4);
  s.seeding_time = Unsigned(p, "SeedingTime", 7200000);
  s.seeding_mode = Unsigned(p, "SeedingMode", 0);
  s.seeding_ratio = ParseRatioText(Text(p, "SeedingRatio", "2")).value_or(2.0);
  s.peer_ratio = ParseRatioText(Text(p, "PeerRatio", "0")).value_or(0.0);
  if (s.peer_ratio < 1.0 && s.peer_ratio != 0.0) s.peer_ratio = 1.0;
  s.min_port = Unsigned(p, "MinPort", 1500);
  s.max_port = Unsigned(p, "MaxPort", 1504);
  s.dht_port = Unsigned(p, "DHTPort", 1500);
  s.max_connections = Int(p, "MaxConnections", 100);
  s.remove_underscores = Int(p, "Remove_FromFileNames", 0) != 0;
  s.upnp_port_forwarding = platform_flag && Int(p, "UPnPPortForwarding", 0) != 0;
  s.ip_address_index = Int(p, "IpAddressIndex", 0);
  s.asd_single = FolderWithSeparator(DriveRootToHome(Text(p, "ASDSingle", "C:\\")), 3);
  s.asd_mode = Unsigned(p, "ASDMode", 2);
  if (s.asd_mode >= 3) s.asd_mode = 2;
  s.last_priority = Int(p, "Last Priority", 1);
  return s;
}

StartupValues ReadStartupValues(const platform::profile& p) {
  StartupValues v;
  v.session_only = Int(p, "This Session Only", 0) != 0;
  v.simple_display = Int(p, "Simple Display", 0) != 0;
  v.torrents = Text(p, "Torrents");
  v.last_destination = Text(p, "Last Destination");
  v.show_diagram = Int(p, "Show Diagram", 0) != 0;
  v.use_database = Int(p, "Use Database", 0) != 0;
  v.database_url = Text(p, "Database URL");
  v.database_port = Int(p, "Database Port", 3306);
  v.database_user = Text(p, "Database User", "Quillfern");
  v.database_password = Text(p, "Database Password");
  return v;
}

int ClampInterval(int interval_ms) { return interval_ms < kMinimumInterval ? kMinimumInterval : interval_ms; }

int ReadInterval(const platform::profile& p) { return ClampInterval(Int(p, "Intervall", kDefaultInterval)); }

std::string DataFolder(std::string_view torrents) {
  std::string folder;
  if (!torrents.empty()) {
    folder = WithTrailingSeparator(torrents);
  } else {
    folder = DataHome() + "Quillfern/Torrents/";
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

std::string LastDestination(std::string_view stored) {
  if (!stored.empty()) return std::string(stored);
  std::error_code ec;
  const auto current = std::filesystem::current_path(ec);
  return ec ? HomeFolder() : WithTrailingSeparator(current.string());
}

std::vector<DestinationEntry> LoadDestinations(const std::filesystem::path& file) {
  std::vector<DestinationEntry> list;
  for (const DestinationRow& row : ReadDestinationsFile(file)) list.push_back({row.keywords, WideToUtf8(row.folder)});
  return list;
}

int SessionUploadSlots(int per_torrent, std::uint32_t max_active) {
  if (per_torrent < 0) return -1;
  const long long slots = static_cast<long long>(per_torrent) * max_active;
  return slots > INT_MAX ? INT_MAX : static_cast<int>(slots);
}

TorrentDefaults MakeTorrentDefaults(const Settings& s) {
  TorrentDefaults d;
  d.max_upload_rate = s.max_upload_rate;
  d.max_download_rate = s.max_download_rate;
  d.seeding_time = s.seeding_time;
  d.seeding_mode = s.seeding_mode;
  d.seeding_ratio = s.seeding_ratio;
  d.peer_ratio = s.peer_ratio;
  return d;
}

void WriteShutdownValues(platform::profile& p, const ShutdownValues& v) {
  p.WriteProfileInt(kSection, "Intervall", v.interval);
  p.WriteProfileString(kSection, "Torrents", v.torrents);
  p.WriteProfileString(kSection, "Last Destination", v.last_destination);
  p.WriteProfileInt(kSection, "Show Diagram", v.show_diagram ? 1 : 0);
  p.WriteProfileInt(kSection, "Last Priority", v.last_priority);
  p.WriteProfileInt(kSection, "Simple Display", v.simple_display ? 1 : 0);
}

}  // namespace client
