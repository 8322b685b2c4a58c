#include "client/app/main_window_core.h"

#include "client/common/CVersionsInfo.h"
#include "client/common/paths.h"
#include "client/files/ip_filter_file.h"
#include "client/files/log_files.h"
#include "client/dialogs/options_model.h"
#include "client/net/update_check.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "dht/dht_service.h"
#include "dht/engine_link.h"
#include "engine/formats/text_helpers.h"
#include "platform/atomic_file.h"
#include "client/torrents/list_file_store.h"
#include "store/torrent_database.h"

#include <algorithm>
#include <variant>
#include <cwchar>

namespace client {

namespace {

constexpr std::uint32_t kDhtPeerCapacity = 40;
constexpr int kHalfOpenLimit = 7;
// How long the exit waits for the removals that have an add kept.
constexpr std::uint32_t kExitReAddWaitMs = 5000;

std::u16string ToUtf16(const std::string& utf8) { return WideToUtf16(Utf8ToWide(utf8)); }

}  // namespace

std::wstring NoFreePortText(unsigned min_port, unsigned max_port) {
  wchar_t text[96];
  std::swprintf(text, sizeof text / sizeof *text, kNoFreePortFormat, min_port, max_port);
  return text;
}

std::wstring LogLineText(std::time_t when, std::wstring_view line) {
  std::tm local{};
  localtime_r(&when, &local);
  wchar_t stamp[128];
  if (std::wcsftime(stamp, sizeof stamp / sizeof *stamp, L"%c - ", &local) == 0) stamp[0] = 0;
  return stamp + std::wstring(line);
}

// --- the network step over the router

RouterNetworkStep::RouterNetworkStep(Host& host) : RouterNetworkStep(host, NetworkSetup::Options{}) {}

RouterNetworkStep::RouterNetworkStep(Host& host, NetworkSetup::Options options)
    : m_host(host), m_self(std::make_shared<RouterNetworkStep*>(this)) {
  std::weak_ptr<RouterNetworkStep*> self = m_self;
  m_setup = std::make_unique<NetworkSetup>(
      host,
      [self, &host](UpnpEvent event) {
        host.PostToGui([self, event = std::move(event)] {
          if (const auto alive = self.lock()) (*alive)->OnEvent(event);
        });
      },
      std::move(options));
}

void RouterNetworkStep::OnEvent(const UpnpEvent& event) {
  if (const auto* report = std::get_if<MappingReport>(&event)) {
    m_setup->OnMappingReport(*report, m_dht);
    if (!m_setup->HasTcpMapping()) {
      m_mapped = {};
    } else {
      m_mapped = {MappedAddress::Known, m_setup->ExternalAddress()};
      m_host.ExternalAddressLearnt(m_setup->ExternalAddress());
    }
  } else if (const auto* answer = std::get_if<ExternalAddressAnswer>(&event)) {
    if (!m_setup->HasTcpMapping()) m_mapped = {};
    else if (answer->ok) m_mapped = {MappedAddress::Known, answer->address};
    else m_mapped = {MappedAddress::Failed, answer->error};
  }
}

RouterNetworkStep::~RouterNetworkStep() {
  m_self.reset();
  // Waits for the worker, which runs what is still queued.
  m_setup.reset();
}

bool RouterNetworkStep::Apply(const Settings& s, MainSession& session, CDHTService* dht) {
  m_dht = dht;
  NetworkSettings n;
  n.upnp_port_forwarding = s.upnp_port_forwarding;
  n.ip_address_index = s.ip_address_index;
  n.min_port = s.min_port;
  n.max_port = s.max_port;
  n.dht_port = s.dht_port;
  const bool done = m_setup->Apply(n, session.Engine(), dht);
  // A new mapping round answers later.
  if (done && s.upnp_port_forwarding) m_mapped.kind = MappedAddress::Pending;
  if (!s.upnp_port_forwarding) m_mapped = {};
  return done;
}

void RouterNetworkStep::DisableMappings() {
  m_dht = nullptr;
  m_setup->DisableMappings();
}

// --- the real engine

std::unique_ptr<MainSession> RealEngineParts::MakeSession(const engine::fingerprint& id) {
  return std::make_unique<RealMainSession>(id);
}

std::unique_ptr<CDHTService> RealEngineParts::MakeDht(std::uint32_t peer_capacity) {
  return std::make_unique<CDHTService>(peer_capacity);
}

std::unique_ptr<NetworkStep> RealEngineParts::MakeNetworkStep(NetworkStep::Host& host) {
  return std::make_unique<RouterNetworkStep>(host);
}

std::unique_ptr<CTorrentDatabase> RealEngineParts::ConnectStore(const StartupValues& v) {
  // Kept when its server does not answer now: it is tried again later.
  return std::make_unique<CTorrentDatabase>(ToUtf16(v.database_url), static_cast<std::uint16_t>(v.database_port),
                                            ToUtf16(v.database_user), ToUtf16(v.database_password));
}

bool RealEngineParts::LoadTorrent(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) {
  return torrent.Load(list, dht);
}

// --- the core

MainWindowCore::MainWindowCore(platform::profile profile, MainWindowHost& host, EngineParts& parts, UiServices& ui,
                               bool platform_flag)
    : m_profile(std::move(profile)),
      m_host(host),
      m_parts(parts),
      m_platformFlag(platform_flag),
      m_clock([] { return std::time(nullptr); }),
      m_filter([this](const std::wstring& line) { AddLogLine(line); }),
      m_queue(m_list, [this](std::wstring line) { AddLogLine(line); }),
      m_timer(m_list, *this),
      m_adder(*this, ui, m_list, m_queue, *this),
      m_removals({m_list, m_queue, [this]() -> TorrentControl* { return m_session ? &m_session->Torrents() : nullptr; },
                  [this]() -> DhtControl* { return m_dhtControl.get(); }, [this] { return m_storage->InDatabase(); },
                  [this] { return m_startup.session_only; }, [this] { m_host.RowsChanged(); },
                  [this](std::wstring line) { AddLogLine(line); }}) {
  m_startup = ReadStartupValues(m_profile);
  // The file-name rule holds until the settings say otherwise.
  engine::set_remove_underscores(true);
  m_dataFolder = DataFolder(m_startup.torrents);
  m_adder.destination = LastDestination(m_startup.last_destination);
  if (m_startup.use_database && !m_startup.database_url.empty()) m_database = m_parts.ConnectStore(m_startup);
  const auto log = [this](const std::wstring& line) { AddLogLine(line); };
  if (m_database) m_storage = std::make_unique<DatabaseStore>(*m_database, m_dataFolder, log);
  else m_storage = std::make_unique<ListFileStore>(m_dataFolder, ListFile(), m_startup.session_only, log);
  // The IP filter is the store's only when its server answered at the
  // start; else the filter file keeps it.
  m_filter.SetStore(m_database && m_database->IsConnected() ? m_database.get() : nullptr);
  m_filter.SetSessionOnly(m_startup.session_only);
  m_network = m_parts.MakeNetworkStep(*this);
  UpdateAdder();
}

void MainWindowCore::UpdateAdder() {
  m_adder.data_folder = m_dataFolder;
  m_adder.session = m_session ? &m_session->Torrents() : nullptr;
  m_adder.dht = m_dhtControl.get();
  m_adder.store = m_storage.get();
  m_adder.session_only = m_startup.session_only;
  m_adder.removals = &m_removals;
  m_adder.auto_save = {m_settings.asd_mode, m_settings.asd_single, m_destinations};
  m_adder.rate_scale_up = m_settings.max_upload_rate;
  m_adder.rate_scale_down = m_settings.max_download_rate;
}

void MainWindowCore::GiveTorrentDefaults(TorrentItem& torrent) {
  torrent.SetLimits({m_defaults.upload_limit, m_defaults.download_limit});
  torrent.SetSeedingGoal({SeedingMode(m_defaults.seeding_mode), m_defaults.seeding_time, m_defaults.seeding_ratio,
                          m_defaults.peer_ratio});
}

MainWindowCore::~MainWindowCore() { Shutdown(); }

void MainWindowCore::OnCreate() {
  // Links are taken once there is a private folder for their downloads.
  if (!m_netJobs.Folder().empty()) {
    m_adder.downloads = m_netJobs.Workers();
    m_adder.download_folder = m_netJobs.Folder();
  }
  m_interval = ReadInterval(m_profile);
  LoadSettings();
  StartSession();
  RemoveStaleTemporaries();
  RestoreTorrents();
}

void MainWindowCore::RemoveStaleTemporaries() {
  const std::size_t removed = platform::remove_stale_temporaries(
      m_dataFolder, {".ResumeData", ".FilterData", ".torrent", ".Torrent", "TorrentQueue.txt", kWaitingFileName});
  if (removed) AddLogLine(FormatWide("removed %zu temporary files left by an earlier run", removed));
}

void MainWindowCore::LoadSettings() {
  m_settings = client::LoadSettings(m_profile, m_platformFlag);
  engine::set_remove_underscores(m_settings.remove_underscores);
  if (m_settings.asd_mode == 1)
    m_destinations = LoadDestinations(std::filesystem::path(m_dataFolder) / kDestinationsFileName);
  m_defaults = MakeTorrentDefaults(m_settings);
  m_queue.SetMaxActive(m_settings.max_active_torrents);
  MainTimerSettings& timer = m_timer.Settings();
  timer.max_upload_rate = m_settings.max_upload_rate;
  timer.seeding_mode = m_settings.seeding_mode;
  timer.seeding_time = m_settings.seeding_time;
  timer.seeding_ratio = m_settings.seeding_ratio;
  timer.show_diagram = m_startup.show_diagram;
  timer.database = m_storage->InDatabase();
  timer.list_file = m_startup.session_only ? std::filesystem::path() : ListFile();
  m_adder.priority = m_settings.last_priority;
  UpdateAdder();
}

bool MainWindowCore::StartSession() {
  try {
    const CVersionsInfo version;
    m_filter.CreateFilter();
    m_filter.LoadIpFilter(IpFilterFile());
    const engine::fingerprint id("QF", version.GetMajorVersion(), version.GetMinorVersion(), version.GetBuildNumber(),
                                 version.GetRevision() & 0x7F);
    m_session = m_parts.MakeSession(id);
    engine::http_settings http;
    http.proxy_ip.clear();
    http.proxy_port = 0;
    http.user_agent = "Quillfern";
    http.tracker_timeout = 20;
    http.stop_tracker_timeout = 3;
    http.tracker_maximum_response_length = 1048576;
    m_session->set_http_settings(http);
    m_session->set_ip_filter(*m_filter.Filter());
    m_filter.SetSession(m_session->Engine());
    m_dht = m_parts.MakeDht(kDhtPeerCapacity);
    if (m_dht) m_dhtControl = std::make_unique<DhtServiceControl>(*m_dht);
    ApplySettings();
    m_queue.ResetActive();
    UpdateAdder();
    return true;
  } catch (...) {
    // The program runs on without an engine.
    AddLogLine(UnexpectedFault("the engine's start"));
    ReleaseEngine();
    UpdateAdder();
    return false;
  }
}

void MainWindowCore::ReleaseEngine() {
  // The session goes first: its threads use the DHT node.
  m_filter.SetSession(nullptr);
  m_session.reset();
  m_dhtLink.reset();
  m_dhtControl.reset();
  m_dht.reset();
  m_filter.DeleteFilter();
}

void MainWindowCore::ApplySettings() {
  if (!m_session) return;
  // The DHT node starts inside, or later when a port mapping round ends
  // (DhtStarted links the engine to it then).
  if (!m_network->Apply(m_settings, *m_session, m_dht.get())) return;
  m_timer.SetSteeredLimit(InitialSteeredLimit(m_settings.max_upload_rate));
  m_session->set_upload_rate_limit(m_settings.max_upload_rate);
  m_session->set_download_rate_limit(m_settings.max_download_rate);
  m_session->set_severity_level(engine::alert::info);
  m_session->set_max_connections(m_settings.max_connections);
  m_session->set_max_uploads(SessionUploadSlots(m_settings.max_uploads_per_torrent, m_settings.max_active_torrents));
  m_session->disable_extensions();
  for (int extension : {0, 3, 1, 2}) m_session->enable_extension(extension);
  if (m_platformFlag) m_session->set_max_half_open_connections(kHalfOpenLimit);
  for (const auto& torrent : m_list) torrent->SetRateScale(m_settings.max_upload_rate, m_settings.max_download_rate);
}

bool MainWindowCore::RestoreTorrents() {
  if (m_startup.session_only) return false;
  if (!m_storage->Restore([this](const std::wstring& path, const Utf16IniFile& list) {
        return RestoreTorrent(path, list);
      }))
    return false;
  m_queue.StartNextQueued(nullptr);
  return true;
}

bool MainWindowCore::RestoreTorrent(const std::wstring& path, const Utf16IniFile& list) {
  auto torrent = std::make_unique<TorrentItem>(path, L"START", *this);
  GiveTorrentDefaults(*torrent);
  torrent->SetStore(m_storage.get());
  torrent->SetRateScale(m_settings.max_upload_rate, m_settings.max_download_rate);
  if (m_session) torrent->SetSession(&m_session->Torrents());
  bool loaded = false;
  try {
    loaded = m_parts.LoadTorrent(*torrent, list, m_dhtControl.get());
  } catch (const std::exception& e) {
    torrent->Log(Utf8ToWide(e.what()));
  }
  if (!loaded) return false;
  torrent->MarkRestored();
  if (torrent->Status() == TorrentStatus::Seeding) {
    if (!torrent->ArmSeedingGoal(torrent->Goal().time, torrent->Goal().ratio))
      AddLogLine(L"unknown seeding mode for " + torrent->FileName());
  }
  TorrentItem& added = *torrent;
  if (!m_host.CreateTorrentRow(added)) return true;
  m_list.Add(std::move(torrent));
  const int status = added.Status();
  if (m_queue.ActiveCount() < m_queue.MaxActive() &&
      (status == TorrentStatus::Downloading || status == TorrentStatus::Seeding) && !added.IsComplete()) {
    if (added.Start(false)) m_queue.OnTorrentStarted();
    else AddLogLine(added.FileName() + L" failed to start");
  }
  return true;
}

void MainWindowCore::TorrentAdded(TorrentItem& torrent) {
  if (m_startup.session_only || m_shutDown) return;
  m_storage->Added(torrent);
}

void MainWindowCore::StopSession() {
  m_filter.SetSession(nullptr);
  m_session.reset();
  m_filter.SaveIpFilter(IpFilterFile());
  m_filter.DeleteFilter();
  m_network->DisableMappings();
  m_dhtLink.reset();
  m_dhtControl.reset();
  m_dht.reset();
  UpdateAdder();
}

void MainWindowCore::FinishKeptAdds() {
  // The engine lets go of a removed torrent within a round or two of its
  // network thread: an add kept for such a removal is carried out now, so
  // that the list saved at exit holds it.
  if (!m_removals.FinishKeptAdds(kExitReAddWaitMs))
    AddLogLine(L"a torrent added again while it was being removed could not be added before the end");
}

void MainWindowCore::Shutdown() {
  if (m_shutDown) return;
  FinishKeptAdds();
  m_shutDown = true;
  // No job reports from here on.
  m_adder.downloads = nullptr;
  m_netJobs.Close();
  if (!m_startup.session_only) {
    if (!m_storage->SaveAll(m_list)) AddLogLine(L"cannot write " + Utf8ToWide(ListFile().string()));
  } else {
    m_list.PauseAll();
  }
  StopSession();
  WriteShutdownValues(m_profile, {m_interval, m_dataFolder, m_adder.destination, m_startup.show_diagram,
                                  m_adder.priority, m_startup.simple_display});
}

void MainWindowCore::DhtStarted() {
  if (!m_dht || m_dhtLink || !m_session || !m_session->Engine()) return;
  m_dhtLink = std::make_unique<dht::EngineLink>(*m_dht);
  m_session->Engine()->set_dht_node(m_dhtLink.get());
}

MainTimerResult MainWindowCore::Tick() {
  MainTimerInput input;
  input.session = m_session.get();
  input.dht = m_dhtControl.get();
  input.active_count = m_queue.ActiveCount();
  input.max_active = m_settings.max_active_torrents;
  input.local_address = m_network->LocalAddress();
  input.mapped_address = m_network->Mapped();
  // A host without its own poll timer finishes removals here.
  if (m_removals.Waiting()) m_removals.Poll();
  if (!m_startup.session_only) m_storage->Retry(m_list);
  MainTimerResult result = m_timer.Tick(input);
  if (result.query_external_address) m_network->QueryExternalAddress();
  return result;
}

void MainWindowCore::AppendTorrentLog(TorrentItem& torrent, const std::wstring& line) { torrent.AppendLogFile(line); }

void MainWindowCore::MetadataReceived(TorrentItem& torrent) {
  torrent.OnMetadataReceived(L"");
  // The section says so at once: the next start reads the .torrent.
  TorrentAdded(torrent);
}

void MainWindowCore::AppendDownloadsLog(const std::wstring& name) {
  // In DB mode finished downloads are not recorded.
  if (m_storage->InDatabase()) return;
  AppendLogLine(std::filesystem::path(m_dataFolder) / kDownloadsLogFileName, LogLineText(m_clock(), name));
}

void MainWindowCore::PauseAll() {
  m_list.PauseAll();
  m_queue.Recount();
}

bool MainWindowCore::DumpDhtTables() {
  if (!m_dht) return false;
  try {
    m_dht->DumpTables();
    return true;
  } catch (const std::exception& e) {
    AddLogLine(L"DHT tables not written: " + Utf8ToWide(e.what()));
    return false;
  }
}

void MainWindowCore::CheckForUpdate() {
  NetWorkers* workers = m_netJobs.Workers();
  if (!workers) return;
  StartUpdateCheck(*workers, UpdateCheckRequestFor(m_profile),
                   [this](const std::wstring& line) { PostToGui([this, line] { AddLogLine(line); }); });
}

std::filesystem::path MainWindowCore::IpFilterFile() const {
  return std::filesystem::path(m_dataFolder) / kIpFilterFileName;
}

std::string MainWindowCore::LocalAddress() const { return m_network ? m_network->LocalAddress() : "0.0.0.0"; }

void MainWindowCore::SetStatusText(const std::wstring& text) {
  m_statusText = text;
  m_host.StatusTextChanged(m_statusText);
}

void MainWindowCore::AddLogLine(const std::wstring& line) { SetStatusText(LogLineText(m_clock(), line)); }

void MainWindowCore::ShowStatus(const std::wstring& text) {
  SetStatusText(text);
  m_host.SetCaption(text);
}

TorrentItem* MainWindowCore::FindPosted(const TorrentItem* torrent, const engine::sha1_hash& info_hash) const {
  for (const auto& t : m_list)
    if (t.get() == torrent && t->Handle().info_hash() == info_hash) return t.get();
  return nullptr;
}

void MainWindowCore::PostLogLine(std::wstring line) {
  m_host.PostToGui([this, line = std::move(line)] { AddLogLine(line); });
}

void MainWindowCore::PostBanPeer(const engine::address& peer, bool whole_range) {
  m_host.PostToGui([this, peer, whole_range] {
    if (whole_range) m_filter.BanPeerRange(peer);
    else m_filter.BanPeer(peer);
  });
}

void MainWindowCore::PostForTorrent(TorrentItem& torrent, std::function<void(TorrentItem&)> work) {
  m_host.PostToGui([this, t = &torrent, hash = torrent.Handle().info_hash(), work = std::move(work)] {
    // After the shut-down the list is saved and the engine gone: nothing
    // more is done to the torrents.
    if (m_shutDown) return;
    if (TorrentItem* found = FindPosted(t, hash)) work(*found);
  });
}

void MainWindowCore::TorrentStarted(TorrentItem& torrent, int) {
  PostForTorrent(torrent, [this](TorrentItem&) { m_queue.OnTorrentStarted(); });
}

void MainWindowCore::TorrentStopped(TorrentItem& torrent, int status) {
  PostForTorrent(torrent, [this, status](TorrentItem& found) { m_removals.Stopped(found, status); });
}

void MainWindowCore::RemoveTorrent(TorrentItem& torrent, int status) {
  PostForTorrent(torrent, [this, status](TorrentItem& found) {
    if (m_removals.Remove(found, status)) m_host.RemovalsWaiting();
  });
}

}  // namespace client
