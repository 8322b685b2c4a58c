#pragma once
// The main window without its window: the settings, the engine session with
// its filter and DHT node, the optional store, the torrent list and queue,
// the status text and the caption. The wx window (CTorrentAnzeige) makes
// one, drives it from its events and shows what it reports.
//
// Start-up: the constructor reads the values kept for the whole run, makes
// the data folder and connects the store; OnCreate loads the settings,
// starts the engine and restores the torrents. Shut-down saves the list,
// stops the engine and writes the settings back. The window runs on
// without an engine when the engine cannot start.

#include "client/torrents/CTorrentListe.h"
#include "client/torrents/database_store.h"
#include "client/torrents/dht_control.h"
#include "client/files/ip_filter_keeper.h"
#include "client/app/main_session.h"
#include "client/app/main_timer.h"
#include "client/net/network_setup.h"
#include "client/torrents/remove_sequence.h"
#include "client/app/settings.h"
#include "client/torrents/torrent_adder.h"
#include "client/torrents/torrent_queue.h"
#include "client/torrents/torrent_store.h"
#include "client/net/url_download_jobs.h"
#include "dht/node_core.h"
#include "engine/wire/dht_link.h"
#include "platform/profile.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CDHTService;
class CTorrentDatabase;

namespace client {

// The text shown when no port of the range is free.
inline constexpr const wchar_t* kNoFreePortFormat = L"Quillfern - no available port between %u to %u";
std::wstring NoFreePortText(unsigned min_port, unsigned max_port);

// The log line: the local time as "%c - " followed by the text.
std::wstring LogLineText(std::time_t when, std::wstring_view text);

// The window's side of the core.
class MainWindowHost {
 public:
  virtual ~MainWindowHost() = default;
  // The status text changed: the frame shows it.
  virtual void StatusTextChanged(const std::wstring& text) = 0;
  virtual void SetCaption(const std::wstring& caption) = 0;
  // A torrent gets its row window; false when it cannot be made.
  virtual bool CreateTorrentRow(TorrentItem& torrent) = 0;
  // Rows came or went: lay them out again and repaint.
  virtual void RowsChanged() = 0;
  // The save-folder dialog; none when the user cancelled.
  virtual std::optional<SaveFolderChoice> AskSaveFolder(const SaveFolderRequest& request) = 0;
  // Runs `work` later on the GUI thread; callable from any thread.
  virtual void PostToGui(std::function<void()> work) = 0;
  // A removed torrent's engine torrent has not gone yet: call
  // MainWindowCore::PollRemovals every kRemovePollMs until it answers
  // false. (Without this the main timer's ticks poll.)
  virtual void RemovalsWaiting() {}
};

// The network part of applying the settings: the local address, the listen
// port inside MinPort..MaxPort, the router's port mappings and the DHT
// node's port.
class NetworkStep {
 public:
  // Where it reports; PostToGui runs `work` later on the GUI thread and may
  // be called from any thread.
  class Host : public NetworkSetup::Host {
   public:
    virtual void PostToGui(std::function<void()> work) = 0;
    // A mapping round learnt the router's public address.
    virtual void ExternalAddressLearnt(const std::string& address) = 0;
  };
  virtual ~NetworkStep() = default;
  // False when the round stopped early (no local address, no free port):
  // nothing further is applied then.
  virtual bool Apply(const Settings& settings, MainSession& session, CDHTService* dht) = 0;
  virtual std::string LocalAddress() const = 0;
  // The public address as the TCP mapping last reported it.
  virtual MappedAddress Mapped() const = 0;
  // Asks the router again; the answer updates Mapped().
  virtual void QueryExternalAddress() = 0;
  // Shut-down, once the session is gone and before the DHT node goes: the
  // router's mappings are disabled.
  virtual void DisableMappings() = 0;
};

// The real one: NetworkSetup with the UPnP worker, whose answers come back
// on the GUI thread.
class RouterNetworkStep : public NetworkStep {
 public:
  explicit RouterNetworkStep(Host& host);
  // With the router and the host's addresses of `options` (tests).
  RouterNetworkStep(Host& host, NetworkSetup::Options options);
  ~RouterNetworkStep() override;
  bool Apply(const Settings& settings, MainSession& session, CDHTService* dht) override;
  std::string LocalAddress() const override { return m_setup->LocalAddress(); }
  MappedAddress Mapped() const override { return m_mapped; }
  void QueryExternalAddress() override { m_setup->QueryExternalAddress(); }
  void DisableMappings() override;

 private:
  void OnEvent(const UpnpEvent& event);

  Host& m_host;
  MappedAddress m_mapped;
  CDHTService* m_dht = nullptr;  // the node of the last round, until shut-down
  // Answers that arrive after this object went are dropped.
  std::shared_ptr<RouterNetworkStep*> m_self;
  std::unique_ptr<NetworkSetup> m_setup;
};

// How the core makes the engine's parts; tests hand in stand-ins.
class EngineParts {
 public:
  virtual ~EngineParts() = default;
  // May throw: the engine then does not run.
  virtual std::unique_ptr<MainSession> MakeSession(const engine::fingerprint& id) = 0;
  virtual std::unique_ptr<CDHTService> MakeDht(std::uint32_t peer_capacity) = 0;
  virtual std::unique_ptr<NetworkStep> MakeNetworkStep(NetworkStep::Host& host) = 0;
  // The store ("Use Database"); it may not be connected (its server away):
  // it is tried again while the run goes on. Null: the list file keeps the
  // torrents.
  virtual std::unique_ptr<CTorrentDatabase> ConnectStore(const StartupValues& values) = 0;
  // Loads a torrent as its store keeps it (TorrentItem::Load), adding it
  // to the session, paused; false when it does not load.
  virtual bool LoadTorrent(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) = 0;
};

// The real engine: engine::session, CDHTService, the MySQL store.
class RealEngineParts : public EngineParts {
 public:
  std::unique_ptr<MainSession> MakeSession(const engine::fingerprint& id) override;
  std::unique_ptr<CDHTService> MakeDht(std::uint32_t peer_capacity) override;
  std::unique_ptr<NetworkStep> MakeNetworkStep(NetworkStep::Host& host) override;
  std::unique_ptr<CTorrentDatabase> ConnectStore(const StartupValues& values) override;
  bool LoadTorrent(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) override;
};

class MainWindowCore : public NetworkStep::Host, public TorrentEvents, public MainTimerSink, public TorrentAdderHost {
 public:
  // Reads the values kept for the run, makes the data folder and connects
  // the store. `ui` asks the user (messages, folders). `platform_flag`
  // allows port forwarding and the half-open limit.
  MainWindowCore(platform::profile profile, MainWindowHost& host, EngineParts& parts, UiServices& ui,
                 bool platform_flag = true);
  // Shuts down when that has not happened yet.
  ~MainWindowCore() override;
  MainWindowCore(const MainWindowCore&) = delete;
  MainWindowCore& operator=(const MainWindowCore&) = delete;

  // The window exists: "Intervall", the settings, the engine, the torrents.
  void OnCreate();
  void LoadSettings();
  bool StartSession();
  void ApplySettings();
  // Temporaries of saves a kill interrupted, in the data folder.
  void RemoveStaleTemporaries();
  bool RestoreTorrents();
  // The engine part of the shut-down.
  void StopSession();
  // Saves the list (not in session-only mode), stops the engine and writes
  // the settings back; once.
  void Shutdown();

  // One tick of the main timer; the window shows the result.
  MainTimerResult Tick();
  MainTimer& Timer() { return m_timer; }

  void AddLogLine(const std::wstring& line) override;
  void ShowStatus(const std::wstring& text) override;
  void PostToGui(std::function<void()> work) override { m_host.PostToGui(std::move(work)); }
  void ExternalAddressLearnt(const std::string& address) override { m_timer.SetExternalAddress(address); }
  // The engine is linked to the node whenever it starts, also when a
  // mapping round started it long after the settings were applied.
  void DhtStarted() override;
  // The engine's link to the DHT node, or null while it has none.
  engine::dht_link* DhtLink() const { return m_dhtLink.get(); }
  std::wstring StatusText() const override { return m_statusText; }

  // MainTimerSink: what the timer has done beyond the status text.
  void AppendTorrentLog(TorrentItem& torrent, const std::wstring& line) override;
  void MetadataReceived(TorrentItem& torrent) override;
  void AppendDownloadsLog(const std::wstring& name) override;
  void BanPeer(const engine::address& peer) override { m_filter.BanPeer(peer); }
  // Blocks a.b.c.1 to a.b.c.255 around the peer (the peers list's "ban
  // range").
  void BanPeerRange(const engine::address& peer) { m_filter.BanPeerRange(peer); }

  // TorrentAdderHost.
  bool CreateTorrentRow(TorrentItem& torrent) override { return m_host.CreateTorrentRow(torrent); }
  // A new torrent's section goes into the list file (its row into the
  // store) at once.
  void TorrentAdded(TorrentItem& torrent) override;
  void RowsChanged() override { m_host.RowsChanged(); }
  void GiveTorrentDefaults(TorrentItem& torrent) override;
  std::optional<SaveFolderChoice> AskSaveFolder(const SaveFolderRequest& request) override {
    return m_host.AskSaveFolder(request);
  }
  // New torrents: files, links, info-hashes.
  TorrentAdder& Adder() { return m_adder; }
  // A link to a .torrent: downloaded on a worker, then added and the
  // download deleted. False when no download started (no link, no engine
  // window yet, or shut down).
  bool OpenTorrentUrl(const std::string& url) { return m_adder.OpenTorrentUrl(url); }
  // Asks the maker's server ("Update URL" of the profile) on a worker; the
  // answer, if any, comes as a log line.
  void CheckForUpdate();

  // TorrentEvents. Started, stopped and remove are handled later on the
  // GUI thread (the torrent may be in the middle of its own call); they
  // name the torrent by its address and info-hash, and one that is no
  // longer in the list by then is ignored.
  void TorrentStarted(TorrentItem& torrent, int status) override;
  void TorrentStopped(TorrentItem& torrent, int status) override;
  void RemoveTorrent(TorrentItem& torrent, int status) override;
  void LogLine(std::wstring line) override { AddLogLine(line); }
  // A log line from any thread.
  void PostLogLine(std::wstring line);
  // The peers dialog blocks a peer's address, or a.b.c.1 - a.b.c.255 around
  // it; handled later on the GUI thread.
  void PostBanPeer(const engine::address& peer, bool whole_range);

  // Finishes the removals whose engine torrent went; true while some wait.
  // At exit, before the rows stop: carries out the adds kept for removals
  // that still run (Shutdown does it too, for hosts without rows).
  void FinishKeptAdds();
  bool PollRemovals() { return m_removals.Poll(); }
  bool RemovalsPending() const { return m_removals.Waiting(); }
  // "Clear ban list" (offered while a filter exists): the filter becomes
  // empty, and so does what the shut-down saves.
  void ClearBanList() { m_filter.ClearBanList(); }
  // "Pause All": every torrent's engine torrent pauses; none runs now,
  // which the active count (and the caption) shows at once. They wait
  // until resumed or started by the queue.
  void PauseAll();
  // "Dump DHT tables": false without a DHT node or when writing failed.
  bool DumpDhtTables();
  // The torrents' posted events: the torrent when it is still listed.
  TorrentItem* FindPosted(const TorrentItem* torrent, const engine::sha1_hash& info_hash) const;

  // "Show Diagram" (the progression charts) and "Simple Display" (rows
  // without charts); both are kept for the next run.
  void SetShowDiagram(bool on) {
    m_startup.show_diagram = on;
    m_timer.Settings().show_diagram = on;
  }
  void SetSimpleDisplay(bool on) { m_startup.simple_display = on; }

  const Settings& GetSettings() const { return m_settings; }
  const StartupValues& Startup() const { return m_startup; }
  const TorrentDefaults& Defaults() const { return m_defaults; }
  const std::vector<DestinationEntry>& Destinations() const { return m_destinations; }
  const std::string& DataFolderPath() const { return m_dataFolder; }
  std::filesystem::path ListFile() const { return std::filesystem::path(m_dataFolder) / "TorrentQueue.txt"; }
  std::filesystem::path IpFilterFile() const;
  int Interval() const { return m_interval; }
  int SteeredUploadLimit() const { return m_timer.SteeredLimit(); }
  std::string LocalAddress() const;

  MainSession* Session() const { return m_session.get(); }
  CDHTService* Dht() const { return m_dht.get(); }
  // The DHT node as the torrents' rows use it, or null.
  DhtControl* TorrentDht() const { return m_dhtControl.get(); }
  const engine::ip_filter* IpFilter() const { return m_filter.Filter(); }
  // The MySQL store ("Use Database"), or null.
  CTorrentDatabase* Database() const { return m_database.get(); }
  // What keeps the torrents between runs: the list file or the store.
  TorrentStore& Storage() const { return *m_storage; }
  CTorrentListe& List() { return m_list; }
  TorrentQueue& Queue() { return m_queue; }

  // Clock of the log lines (tests).
  void SetClock(std::function<std::time_t()> clock) { m_clock = std::move(clock); }

 private:
  void SetStatusText(const std::wstring& text);
  void ReleaseEngine();
  // The adder follows the settings and the engine's parts.
  void UpdateAdder();
  // One torrent of the restore: made, loaded, given its row and started
  // while there is room; false when it did not load.
  bool RestoreTorrent(const std::wstring& path, const Utf16IniFile& list);
  // Runs `work` later on the GUI thread with the torrent, when it is still
  // listed then and the shut-down has not come.
  void PostForTorrent(TorrentItem& torrent, std::function<void(TorrentItem&)> work);

  platform::profile m_profile;
  MainWindowHost& m_host;
  EngineParts& m_parts;
  bool m_platformFlag;
  std::function<std::time_t()> m_clock;

  StartupValues m_startup;
  std::string m_dataFolder;
  int m_interval = kDefaultInterval;
  Settings m_settings;
  std::vector<DestinationEntry> m_destinations;
  TorrentDefaults m_defaults;

  std::unique_ptr<CTorrentDatabase> m_database;
  std::unique_ptr<TorrentStore> m_storage;
  std::unique_ptr<NetworkStep> m_network;
  IpFilterKeeper m_filter;
  std::unique_ptr<CDHTService> m_dht;
  std::unique_ptr<DhtServiceControl> m_dhtControl;
  std::unique_ptr<engine::dht_link> m_dhtLink;
  // Destroyed before the DHT node: its threads use it.
  std::unique_ptr<MainSession> m_session;

  CTorrentListe m_list;
  TorrentQueue m_queue;
  MainTimer m_timer;
  TorrentAdder m_adder;
  // URL downloads and update checks; closed first at shut-down.
  UrlDownloadJobs m_netJobs;
  RemoveSequence m_removals;
  std::wstring m_statusText;
  bool m_shutDown = false;
};

}  // namespace client
