#include "client/app/main_timer.h"

#include "client/common/tick.h"
#include "client/base/truncate.h"
#include "client/base/unexpected_fault.h"
#include "client/base/wide_text.h"
#include "engine/session/alert_types.h"
#include "platform/clock.h"

#include <algorithm>

namespace client {
namespace {

// The upload the session needs for the traffic it carries: the payload
// going up, 1/32 of it for the protocol, 30 bytes/s per peer and 5 % of
// the download for the requests and acknowledgements going out. The two
// bracketed terms are single-precision values before the sum.
std::int32_t UploadEstimate(float up, float down, std::int32_t peers) {
  const float requests = down * 0.05f;
  const float overhead = static_cast<float>(peers) * 30.0f + up * 0.03125f;
  return Truncate<std::int32_t>(static_cast<double>(requests) + static_cast<double>(overhead) +
                                static_cast<double>(up));
}

unsigned long long WholeMiB(std::int64_t bytes) {
  return bytes > 0 ? static_cast<unsigned long long>(bytes) / 1048576 : 0;
}

}  // namespace

std::wstring TrayTipText(std::wstring text) {
  if (text.size() > kTrayTipLength) text.resize(kTrayTipLength);
  return text;
}

std::int32_t InitialSteeredLimit(std::int32_t max_upload_rate) {
  return static_cast<std::int32_t>(std::max<std::int64_t>(std::int64_t{max_upload_rate} - 4200, 4096));
}

MainTimer::MainTimer(CTorrentListe& torrents, MainTimerSink& sink)
    : m_torrents(torrents), m_sink(sink), m_lastReannounce(TickMs()), m_lastSave(TickMs()) {}

MainTimerResult MainTimer::Tick(const MainTimerInput& input) {
  MainTimerResult result;
  try {
    std::wstring transfer;
    if (input.session) transfer = SessionSteps(input, result);
    Caption(input, std::move(transfer), result);
  } catch (...) {
    // The rest of this tick is lost; the next one tries again.
    m_sink.AddLogLine(UnexpectedFault("the main timer"));
  }
  return result;
}

std::wstring MainTimer::SessionSteps(const MainTimerInput& input, MainTimerResult& result) {
  const engine::session_status status = input.session->status();
  while (std::unique_ptr<engine::alert> alert = input.session->pop_alert()) {
    // One alert that cannot be handled costs only itself: the others, and
    // the rest of the tick, still run.
    try {
      HandleAlert(*alert);
    } catch (...) {
      m_sink.AddLogLine(UnexpectedFault("the handling of an alert"));
    }
  }

  if (m_listenCountdown == 0) {
    m_listenCountdown = 10;
    ReportListening(input, status, result);
  } else {
    --m_listenCountdown;
  }
  if (m_settings.max_upload_rate != -1 && --m_steerCountdown == 0) {
    m_steerCountdown = 6;
    SteerUpload(input, status, result);
  }
  if (status.num_peers == 0) QuietUpkeep();
  return FormatWide(" - %llu/%lluMB", WholeMiB(status.total_payload_download), WholeMiB(status.total_payload_upload));
}

// --- alerts

template <class Kind>
bool MainTimer::LogIf(const engine::alert& alert, const std::wstring& message) {
  const auto* kind = dynamic_cast<const Kind*>(&alert);
  if (kind) LogFor(kind->handle.info_hash(), message);
  return kind != nullptr;
}

void MainTimer::LogFor(const engine::sha1_hash& info_hash, const std::wstring& line) {
  m_sink.AddLogLine(line);
  if (TorrentItem* torrent = m_torrents.FindByHash(info_hash)) m_sink.AppendTorrentLog(*torrent, m_sink.StatusText());
}

void MainTimer::HandleAlert(const engine::alert& alert) {
  const std::wstring message = Utf8ToWide(alert.msg());
  if (const auto* finished = dynamic_cast<const engine::torrent_finished_alert*>(&alert)) {
    TorrentFinished(finished->handle.info_hash());
    return;
  }
  if (LogIf<engine::tracker_alert>(alert, message) || LogIf<engine::hash_failed_alert>(alert, message)) return;
  if (const auto* ban = dynamic_cast<const engine::peer_ban_alert*>(&alert)) {
    LogFor(ban->handle.info_hash(), message + L" (" + Utf8ToWide(ban->ip.as_string()) + L")");
    m_sink.BanPeer(ban->ip);
    return;
  }
  if (LogIf<engine::chat_message_alert>(alert, message)) return;
  if (const auto* error = dynamic_cast<const engine::file_error_alert*>(&alert)) {
    FileError(error->handle.info_hash(), message);
    return;
  }
  if (const auto* metadata = dynamic_cast<const engine::metadata_received_alert*>(&alert)) {
    m_sink.AddLogLine(message);
    if (TorrentItem* torrent = m_torrents.FindByHash(metadata->handle.info_hash())) {
      m_sink.MetadataReceived(*torrent);
      m_sink.AppendTorrentLog(*torrent, m_sink.StatusText());
    }
    return;
  }
  if (LogIf<engine::tracker_warning_alert>(alert, message)) return;
  if (const auto* rejected = dynamic_cast<const engine::fastresume_rejected_alert*>(&alert))
    LogNamed(rejected->handle.info_hash(), message);
}

void MainTimer::LogNamed(const engine::sha1_hash& info_hash, const std::wstring& message) {
  const TorrentItem* torrent = m_torrents.FindByHash(info_hash);
  LogFor(info_hash, torrent ? torrent->FileName() + L": " + message : message);
}

void MainTimer::FileError(const engine::sha1_hash& info_hash, const std::wstring& message) {
  LogNamed(info_hash, message);
  // The engine paused the torrent (or dropped it): it shows Error and
  // gives its slot to the next queued one.
  if (TorrentItem* torrent = m_torrents.FindByHash(info_hash)) torrent->StopOnFileError();
}

void MainTimer::TorrentFinished(const engine::sha1_hash& info_hash) {
  TorrentItem* torrent = m_torrents.FindByHash(info_hash);
  if (!torrent) return;
  // The goal is armed the torrent's own way (the global mode only chose it
  // when the torrent was added): a torrent seeding by ratio keeps seeding
  // by ratio.
  torrent->ArmSeedingGoal(m_settings.seeding_time, m_settings.seeding_ratio);
  // A torrent restored at start that the check of its files found complete
  // finished in an earlier run, and was recorded then.
  bool finished_before = false;
  try {
    finished_before = torrent->IsRestored() && torrent->Handle().status().total_payload_download == 0;
  } catch (const engine::invalid_handle&) {
    // Gone from the engine: nothing tells an earlier finish, it is recorded.
  }
  // In DB mode finished downloads are not recorded.
  if (!m_settings.database && !finished_before) m_sink.AppendDownloadsLog(torrent->Chart().GetName());
}

// --- listening address

void MainTimer::ReportListening(const MainTimerInput& input, const engine::session_status& status,
                                MainTimerResult& result) {
  const unsigned port = input.session->listen_port();
  const MappedAddress& mapped = input.mapped_address;
  std::wstring line;
  std::string address;
  bool address_known = true;
  switch (mapped.kind) {
    case MappedAddress::Known:
      address = mapped.text;
      line = FormatWide("listening on external %s:%u", address.c_str(), port);
      break;
    case MappedAddress::Failed:
      line = FormatWide("listening failed (UPnP Error: %s)", mapped.text.c_str());
      break;
    case MappedAddress::Pending:
      // Until the router answers, the public address stays as it was.
      address_known = false;
      line = FormatWide("listening on %s:%u", input.local_address.c_str(), port);
      break;
    case MappedAddress::NoMapping:
      address = input.local_address;
      line = FormatWide("listening on %s:%u", address.c_str(), port);
      break;
  }
  result.query_external_address = mapped.kind != MappedAddress::NoMapping;
  line += FormatWide(" Peers: %u", static_cast<unsigned>(std::max(status.num_peers, 0)));
  if (line != m_listeningLine) {
    m_listeningLine = std::move(line);
    result.invalidate = true;
  }
  if (!address_known || address == m_externalAddress) return;
  m_externalAddress = address;
  if (address.empty() || address == "0.0.0.0") return;
  if (input.dht) input.dht->SetExternalAddress(address);
  if (m_torrents.ReannounceAll()) m_sink.AddLogLine(L"ip address change to " + Utf8ToWide(address) + L" - reannounce enforced");
  m_lastReannounce = TickMs();
}

// --- upload steering and charts

void MainTimer::SteerUpload(const MainTimerInput& input, const engine::session_status& status,
                            MainTimerResult& result) {
  float up = status.upload_rate;
  float down = status.download_rate;
  float dht_up = 0, dht_down = 0;
  if (input.dht) {
    m_dhtStatistics = input.dht->GetStatistics();
    dht_up = m_dhtStatistics.upload_rate;
    dht_down = m_dhtStatistics.download_rate;
    up += dht_up;
    down += dht_down;
  }
  const std::int64_t max = m_settings.max_upload_rate;
  const std::int64_t step = (max - UploadEstimate(up, down, status.num_peers)) / 5;
  if (step != 0) {
    std::int64_t limit = m_steeredLimit + step;
    limit = std::max(max / 2, limit);
    limit = std::min(max, limit);
    m_steeredLimit = static_cast<std::int32_t>(limit);
    input.session->set_upload_rate_limit(m_steeredLimit);
    for (const auto& torrent : m_torrents) torrent->Chart().SetMarker(m_steeredLimit);
  }
  if (!m_settings.show_diagram) return;
  const std::array<float, kProgressionChartCount> samples = {static_cast<float>(status.num_peers), up, down, dht_up,
                                                             dht_down};
  for (int i = 0; i < kProgressionChartCount; ++i) {
    auto& chart = m_charts[static_cast<std::size_t>(i)];
    std::shift_left(chart.begin(), chart.end(), 1);
    chart.back() = samples[static_cast<std::size_t>(i)];
  }
  result.invalidate = true;
}

// --- while nothing is connected

void MainTimer::QuietUpkeep() {
  const std::uint32_t now = TickMs();
  if (platform::elapsed_ms(now, m_lastReannounce) > kQuietReannounceMs) {
    if (m_torrents.ReannounceAll()) m_sink.AddLogLine(L"0 peers - reannounce enforced");
    m_lastReannounce = now;
  }
  if (!m_settings.database && platform::elapsed_ms(now, m_lastSave) > kPeriodicSaveMs) {
    const auto log = [this](const std::wstring& line) { m_sink.AddLogLine(line); };
    if (!m_settings.list_file.empty() && !m_torrents.SaveUnfinished(m_settings.list_file, log))
      m_sink.AddLogLine(L"cannot write " + Utf8ToWide(m_settings.list_file.string()));
    m_lastSave = now;
  }
}

// --- caption and tray tip

void MainTimer::Caption(const MainTimerInput& input, std::wstring transfer, MainTimerResult& result) {
  const std::wstring title = FormatWide("Quillfern %u/%u", input.active_count, input.max_active);
  std::wstring status_text = m_sink.StatusText();
  if (status_text != m_shownStatus) {
    m_shownStatus = status_text;
    result.invalidate = true;
    if (!status_text.empty()) result.tray_tip = TrayTipText(title + L"\n" + status_text);
  }
  if (m_settings.database) transfer += L" - DB";
  if (input.dht) transfer += FormatWide(" - DHT %u/%u", m_dhtStatistics.records, m_dhtStatistics.record_limit);
  result.caption = title + transfer;
}

}  // namespace client
