#pragma once
// The main window's timer, without the window. The window runs it as a
// one-shot chain: it arms the timer again after every tick, whatever the
// tick did, so ticks never overlap. One tick
//   - takes a snapshot of the session's transfer figures,
//   - drains the engine's alerts and reacts to the kinds the window cares
//     about (log lines, the torrent's log file, seeding goals, bans),
//   - reports the listening address on its first tick and then on every
//     11th, and reacts to a change of the public address,
//   - while "MaxUploadRate" is set, on every 6th tick steers the session's
//     upload limit from the measured traffic and samples the five
//     progression charts,
//   - while no peer is connected, forces re-announces (every 30 minutes)
//     and saves the list file (every 4 hours),
//   - and makes the caption and the tray tip.
// What the window must show comes back in MainTimerResult; what it must do
// goes through MainTimerSink.

#include "client/torrents/CTorrentListe.h"
#include "client/torrents/dht_control.h"
#include "client/app/session_control.h"
#include "dht/node_core.h"
#include "engine/net/address.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace client {

inline constexpr int kProgressionChartCount = 5;
inline constexpr int kProgressionSamples = 200;
// Chart 0 connected peers, 1 upload rate, 2 download rate, 3 DHT upload
// rate, 4 DHT download rate (bytes/s); sample 0 is the oldest, 199 the
// newest.
using ProgressionCharts = std::array<std::array<float, kProgressionSamples>, kProgressionChartCount>;

inline constexpr std::uint32_t kQuietReannounceMs = 1800000;  // 30 minutes
inline constexpr std::uint32_t kPeriodicSaveMs = 14400000;    // 4 hours
inline constexpr std::size_t kTrayTipLength = 127;

// What the window does for the timer.
class MainTimerSink {
 public:
  virtual ~MainTimerSink() = default;
  // A log line; stamped with the local time it becomes the status text.
  virtual void AddLogLine(const std::wstring& text) = 0;
  // The status text: the latest log line as shown.
  virtual std::wstring StatusText() const = 0;
  // Appends a line to the torrent's ".log.txt".
  virtual void AppendTorrentLog(TorrentItem& torrent, const std::wstring& line) = 0;
  // The torrent's metadata arrived from the swarm: its .torrent is written
  // (or stored).
  virtual void MetadataReceived(TorrentItem& torrent) = 0;
  // A download finished (list-file mode only): its name goes to
  // "Downloads.log.txt".
  virtual void AppendDownloadsLog(const std::wstring& name) = 0;
  // The engine banned a peer: its address is blocked in the IP filter, if
  // there is one, and the filter goes to the session
  // (IpFilterKeeper::BanPeer).
  virtual void BanPeer(const engine::address& peer) = 0;
};

// The router's public address as the TCP port mapping last reported it.
struct MappedAddress {
  enum Kind {
    NoMapping,  // no port mapping is kept: the local address counts
    Pending,    // a mapping is kept, its address has not been read yet
    Known,      // `text` is the address
    Failed,     // it could not be read: `text` says why
  };
  Kind kind = NoMapping;
  std::string text;
};

// The window's settings the timer reads.
struct MainTimerSettings {
  std::int32_t max_upload_rate = -1;  // "MaxUploadRate", bytes/s; -1 unlimited
  std::uint32_t seeding_mode = 0;     // "SeedingMode": 0 by time, 1 by ratio
  std::uint32_t seeding_time = 0;     // "SeedingTime", ms
  double seeding_ratio = 1.0;         // "SeedingRatio"
  bool show_diagram = false;          // "Show Diagram"
  bool database = false;              // DB mode (else list-file mode)
  // "TorrentQueue.txt" in the data folder; empty: the list is not saved.
  std::filesystem::path list_file;
};

// The world one tick looks at.
struct MainTimerInput {
  SessionControl* session = nullptr;  // null: the engine did not start
  DhtControl* dht = nullptr;          // null: no DHT node
  std::uint32_t active_count = 0;
  std::uint32_t max_active = 0;  // "MaxActiveTorrent"
  std::string local_address;
  MappedAddress mapped_address;
};

struct MainTimerResult {
  // The window's caption; none when the tick broke off.
  std::optional<std::wstring> caption;
  // A new tray tip, at most kTrayTipLength characters.
  std::optional<std::wstring> tray_tip;
  // Repaint the client area (without erasing).
  bool invalidate = false;
  // The listening report used the port mapping's address: the window asks
  // the router again, so that the next report has a fresh answer.
  bool query_external_address = false;
};

// A tray tip as the tray takes it: cut to kTrayTipLength characters.
std::wstring TrayTipText(std::wstring text);

// The steered upload limit's start value: MaxUploadRate - 4200, at least
// 4096.
std::int32_t InitialSteeredLimit(std::int32_t max_upload_rate);

class MainTimer {
 public:
  // The forced re-announce and the periodic save count from now.
  MainTimer(CTorrentListe& torrents, MainTimerSink& sink);

  MainTimerSettings& Settings() { return m_settings; }
  const MainTimerSettings& Settings() const { return m_settings; }

  // One tick. Never throws: a failure inside ends the tick, with a log
  // line that says what it was.
  MainTimerResult Tick(const MainTimerInput& input);

  std::int32_t SteeredLimit() const { return m_steeredLimit; }
  void SetSteeredLimit(std::int32_t limit) { m_steeredLimit = limit; }
  const ProgressionCharts& Charts() const { return m_charts; }
  // The line the window shows for the listening address.
  const std::wstring& ListeningLine() const { return m_listeningLine; }
  // The public address as last reported. A port mapping round that learnt
  // it sets it too, so that the next report sees no change.
  const std::string& ExternalAddress() const { return m_externalAddress; }
  void SetExternalAddress(std::string address) { m_externalAddress = std::move(address); }

 private:
  // Steps that need a session; they give the transfer part of the caption.
  std::wstring SessionSteps(const MainTimerInput& input, MainTimerResult& result);
  void HandleAlert(const engine::alert& alert);
  // For the kinds that are only logged: true when `alert` is a Kind.
  template <class Kind>
  bool LogIf(const engine::alert& alert, const std::wstring& message);
  // The log line, then the status text to the torrent's log file.
  void LogFor(const engine::sha1_hash& info_hash, const std::wstring& line);
  void TorrentFinished(const engine::sha1_hash& info_hash);
  // The line with the name of the torrent it is about in front (when the
  // list has it); a file error also stops the torrent with status Error.
  void LogNamed(const engine::sha1_hash& info_hash, const std::wstring& message);
  void FileError(const engine::sha1_hash& info_hash, const std::wstring& message);
  void ReportListening(const MainTimerInput& input, const engine::session_status& status, MainTimerResult& result);
  void SteerUpload(const MainTimerInput& input, const engine::session_status& status, MainTimerResult& result);
  void QuietUpkeep();
  void Caption(const MainTimerInput& input, std::wstring transfer, MainTimerResult& result);

  CTorrentListe& m_torrents;
  MainTimerSink& m_sink;
  MainTimerSettings m_settings;
  std::uint32_t m_listenCountdown = 0;
  std::uint32_t m_steerCountdown = 6;
  std::int32_t m_steeredLimit = 4096;
  ProgressionCharts m_charts{};
  dht::Statistics m_dhtStatistics;
  std::wstring m_listeningLine;
  std::string m_externalAddress;
  std::wstring m_shownStatus;
  std::uint32_t m_lastReannounce;
  std::uint32_t m_lastSave;
};

}  // namespace client
