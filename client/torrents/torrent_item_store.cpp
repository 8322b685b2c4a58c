// How a torrent keeps itself across runs: its section of the list file and
// its side files, or its rows in the store; its log file; and the .torrent
// made from metadata the swarm sent.

#include "client/files/CUTF16File.h"
#include "client/common/CVersionsInfo.h"
#include "client/common/paths.h"
#include "client/common/tick.h"
#include "client/torrents/dht_control.h"
#include "client/files/log_files.h"
#include "client/base/number_scan.h"
#include "client/torrents/torrent_item.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "engine/formats/text_helpers.h"
#include "engine/session/torrent_handle.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "store/torrent_database.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

namespace client {
namespace {

// "%f": six decimals after a point, whatever the user's locale.
std::string FixedSix(double value) {
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return ec == std::errc() ? std::string(buffer, end) : "0.000000";
}

// Reads a number into `out`; a text that holds none leaves it as it was.
template <class T>
void Scan(std::string_view text, T& out) {
  NumberScan(text).Number(out);
}

std::string Bencode(const engine::entry& value) {
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), value);
  return bytes;
}

std::string Utf8(std::u16string_view text) { return WideToUtf8(Utf16ToWide(text)); }

// The whole file, or none when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return std::nullopt;
  return bytes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The info-hash of the 40 hexadecimal digits that start `text`; none when
// any of them is something else (a blank, a sign, the end of the text).
std::optional<engine::sha1_hash> ParseHexInfoHash(std::string_view text) {
  if (text.size() < 2 * engine::sha1_hash::size) return std::nullopt;
  std::string bytes(engine::sha1_hash::size, '\0');
  for (std::size_t i = 0; i < 2 * engine::sha1_hash::size; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    bytes[i / 2] = static_cast<char>(bytes[i / 2] << 4 | digit);
  }
  return engine::sha1_hash::from_bytes(bytes);
}

// One '1' (not wanted) or '0' (wanted) per piece.
std::string PieceMap(const std::vector<bool>& pieces) {
  std::string map;
  map.reserve(pieces.size());
  for (const bool filtered : pieces) map += filtered ? '1' : '0';
  return map;
}

// The piece flags of a map of `count` pieces: all wanted when its length
// is another.
std::vector<bool> PieceFlags(std::string_view map, int count) {
  std::vector<bool> pieces(static_cast<std::size_t>(std::max(count, 0)), false);
  if (map.size() == pieces.size())
    for (std::size_t i = 0; i < map.size(); ++i) pieces[i] = map[i] == '1';
  return pieces;
}

}  // namespace

// --- what a save writes of the engine torrent

TorrentItem::EngineFacts TorrentItem::Facts() const {
  EngineFacts facts;
  facts.paused = IsEnginePaused();
  facts.save_path = m_readd ? m_readd->save_path : m_handle.save_path();
  facts.status = m_readd ? m_readd->status : m_handle.status();
  // While a re-add is pending the facts come from the removed torrent. The
  // engine gives no metadata for a torrent that waits for the check of its
  // files, but only a torrent with metadata has files to check.
  const auto state = facts.status.state;
  facts.metadata = m_readd || m_handle.has_metadata() || state == engine::queued_for_checking ||
                   state == engine::checking_files || state == engine::allocating;
  facts.seed = m_readd ? facts.status.state >= engine::finished : m_handle.is_seed();
  return facts;
}

engine::entry TorrentItem::ResumeDataToStore() const {
  return m_readd ? m_readd->resume_data : m_handle.build_resume_data();
}

std::vector<bool> TorrentItem::PiecesToStore() const {
  return m_readd ? m_readd->pieces : m_handle.filtered_pieces();
}

std::string TorrentItem::TorrentName() const {
  return m_readd ? m_readd->info.name() : m_handle.metainfo().name();
}

int TorrentItem::StoredStatus(bool engine_paused) const {
  const int status = Status();
  return status == TorrentStatus::Seeding && !engine_paused ? int{TorrentStatus::Downloading} : status;
}

std::uint32_t TorrentItem::StoredSeedingTime(bool seed) const {
  // Forever, unset, or a goal whose clock never started: as it stands.
  if (!seed || m_goal.time == 0 || m_goal.time == kSeedingTimeUnset || m_seedingStart == 0)
    return m_goal.time;
  const std::uint32_t elapsed = platform::elapsed_ms(TickMs(), m_seedingStart);
  // A goal that ran out stays the shortest goal there is; 0 would read
  // back as seeding forever.
  return elapsed >= m_goal.time ? 1 : m_goal.time - elapsed;
}

// --- loading

bool TorrentItem::Load(const Utf16IniFile& ini, DhtControl* dht) {
  if (!m_database) return LoadFromListFile(ini, dht);
  if (LoadFromDatabase(dht)) return true;
  if (const std::u16string error = m_database->GetLastError(); !error.empty()) Log(Utf16ToWide(error));
  return false;
}

bool TorrentItem::LoadFromListFile(const Utf16IniFile& ini, DhtControl* dht) {
  const std::u16string section = EscapeSectionName(WideToUtf16(Path()));
  auto text = [&](std::u16string_view key, std::u16string_view fallback) {
    return Utf8(ini.GetString(section, key, fallback));
  };
  auto flag = [&](std::u16string_view key, std::u16string_view fallback) {
    return ini.GetString(section, key, fallback) == u"true";
  };
  auto priority = static_cast<std::int32_t>(m_priority);  // kept when the text is no number
  Scan(text(u"Priority", u"0"), priority);
  m_priority = TorrentPriority(priority);
  std::int32_t status = TorrentStatus::Paused;
  Scan(text(u"Status", u"0"), status);
  SetStatus(status);  // held within 0..4
  m_userPaused = Status() == TorrentStatus::Paused;
  Scan(text(u"Seeding", u"0"), m_goal.time);
  Scan(text(u"UploadLimit", u"0"), m_limits.upload);
  Scan(text(u"DownloadLimit", u"0"), m_limits.download);
  auto seeding_mode = static_cast<std::uint32_t>(m_goal.mode);
  Scan(text(u"SeedingMode", u"0"), seeding_mode);
  m_goal.mode = SeedingMode(seeding_mode);
  NumberScan(text(u"SeedingRatio", u"0")).Ratio(m_goal.ratio);
  NumberScan(text(u"PeerRatio", u"0")).Ratio(m_goal.peer_ratio);
  m_peerRatioLoaded = true;
  Scan(text(u"Downloaded", u"0"), m_settings.downloadedBase);
  Scan(text(u"Uploaded", u"0"), m_settings.uploadedBase);
  m_settings.showState = flag(u"ShowState", u"false");
  m_complete = flag(u"Done", u"false");
  m_bitCometUdp = flag(u"BitCometUdpProtocol", u"false");
  const std::string destination = WithTrailingSeparator(text(u"Destination", u""));
  if (destination.empty()) {
    Log(L"no destination.");
    return false;
  }
  if (!flag(u"HasMetadata", u"true"))
    return AddByInfoHash(WideToUtf8(FileName()), text(u"HashInfoTracker", AsciiToUtf16(kDefaultHashTracker)),
                         destination);
  const std::optional<std::string> torrent_file = ReadWholeFile(SideFile({}));
  if (!torrent_file) {
    Log(L"cannot read the torrent file.");
    return false;
  }
  return AddWithMetadata(*torrent_file, destination, ReadWholeFile(SideFile(kFilterDataSuffix)).value_or(""),
                         ReadWholeFile(SideFile(kResumeDataSuffix)).value_or(""), dht);
}

bool TorrentItem::LoadFromDatabase(DhtControl* dht) {
  CTorrentDataTable* row = m_database ? m_database->TorrentData() : nullptr;
  if (!row) return false;
  m_priority = TorrentPriority(static_cast<std::int32_t>(row->priority));
  SetStatus(static_cast<int>(std::min<std::uint32_t>(row->status, TorrentStatus::Error)));
  m_userPaused = Status() == TorrentStatus::Paused;
  m_goal.time = row->seeding_time;
  m_limits.upload = row->upload_limit;
  m_limits.download = row->download_limit;
  m_goal.mode = SeedingMode(row->seeding_mode);
  m_goal.ratio = row->seeding_ratio;
  m_goal.peer_ratio = row->peer_ratio;
  m_peerRatioLoaded = true;
  m_settings.downloadedBase = row->downloaded;
  m_settings.uploadedBase = row->uploaded;
  m_settings.showState = row->show_state != 0;
  m_complete = row->finished != 0;
  m_bitCometUdp = row->bitcomet_udp_protocol != 0;
  const std::string destination = WithTrailingSeparator(row->destination);
  if (destination.empty()) {
    Log(L"no destination.");
    return false;
  }
  // The buffer is shared: take what is needed before the next statement.
  const std::uint32_t id = row->id;
  const std::string meta_data = row->meta_data;
  m_metainfoStored = !meta_data.empty();
  if (meta_data.empty()) {
    std::string tracker(kDefaultHashTracker);
    CTrackersTable* trackers = m_database->Trackers();
    if (trackers && trackers->SelectByTorrent(id) && !trackers->tracker_url.empty()) tracker = trackers->tracker_url;
    return AddByInfoHash(row->info_hash, tracker, destination);
  }
  // A missing row reads as none (the buffers may hold another torrent's).
  std::string piece_map, resume_data;
  if (CPieceSelectionTable* pieces = m_database->PieceSelection(); pieces && pieces->Load(id))
    piece_map = pieces->piece_map;
  if (CResumeDataTable* resume = m_database->ResumeData(); resume && resume->Load(id))
    resume_data = resume->resume_data;
  return AddWithMetadata(meta_data, destination, piece_map, resume_data, dht);
}

void TorrentItem::ShowMetainfo(const engine::torrent_metainfo& info) {
  std::u16string name = WideToUtf16(Utf8ToWide(info.name()));
  if (!info.is_multi_file()) name = engine::ReplaceUnderscoresInFileName(std::move(name));
  // The row shows the torrent's name, as when it was added; where its files
  // are is the detail dialog's.
  m_chart->SetName(Utf16ToWide(name));
  if (m_settings.showState) m_chart->SetTitleLabel(m_settings.stateSummary);
  SetTotalWanted(static_cast<std::uint64_t>(info.total_size()));
}

bool TorrentItem::AddWithMetadata(const std::string& torrent_bytes, const std::string& destination,
                                  std::string_view piece_map, std::string_view resume_bytes, DhtControl* dht) {
  engine::entry torrent_file;
  std::optional<engine::torrent_metainfo> info;
  try {
    torrent_file = engine::bdecode(torrent_bytes);
    info.emplace(torrent_bytes.data(), torrent_bytes.size());
  } catch (const std::exception&) {
    Log(L"cannot read the torrent file.");
    return false;
  }
  ShowMetainfo(*info);

  std::vector<bool> pieces = PieceFlags(piece_map, info->num_pieces());
  m_hasFilteredPieces = std::find(pieces.begin(), pieces.end(), true) != pieces.end();
  // Resume data that cannot be read only costs a full check.
  engine::entry resume_data;
  if (!resume_bytes.empty()) {
    try {
      resume_data = engine::bdecode(resume_bytes);
    } catch (const std::exception&) {
      Log(L"the resume data cannot be read; the files are checked.");
    }
  }
  if (!m_session) return false;
  try {
    m_handle = m_session->add_torrent(*info, destination, resume_data, !m_hasFilteredPieces, kReAddBlockSize);
    m_handle.pause();
  } catch (const std::exception& e) {
    Log(L"cannot add the torrent: " + Utf8ToWide(e.what()));
    return false;
  }
  if (m_hasFilteredPieces) {
    // The engine takes piece flags only once it has checked the files:
    // they wait, with the torrent paused, as after a re-add.
    ReAddState state;
    state.info = *info;
    state.save_path = destination;
    state.resume_data = std::move(resume_data);
    state.pieces = std::move(pieces);
    state.started_at = TickMs();
    state.added = true;
    m_readd = std::move(state);
  }

  const engine::entry* nodes = torrent_file.find_key("nodes");
  m_hasDhtNodes = nodes && nodes->type() == engine::entry::list_t;
  if (dht) {
    if (m_hasDhtNodes) dht->AddBootstrapNodes(*nodes, m_handle.info_hash());
    dht->AddInfoHash(m_handle.info_hash(), !m_hasDhtNodes, true);
  }
  return true;
}

bool TorrentItem::AddByInfoHash(std::string_view hex_name, const std::string& tracker,
                                const std::string& destination) {
  const std::optional<engine::sha1_hash> info_hash = ParseHexInfoHash(hex_name);
  if (!info_hash) {
    Log(L"the name does not start with an info-hash.");
    return false;
  }
  if (!m_session) return false;
  try {
    m_handle = m_session->add_torrent_by_info_hash(tracker, *info_hash, destination, kReAddBlockSize);
    m_handle.pause();
  } catch (const std::exception& e) {
    Log(L"cannot add the torrent: " + Utf8ToWide(e.what()));
    return false;
  }
  return true;
}

// --- saving

bool TorrentItem::Save(Utf16IniFile& ini, bool pause, platform::file_batch* batch) {
  return m_database ? SaveToDatabase(pause) : SaveToListFile(ini, pause, batch);
}

bool TorrentItem::SaveToListFile(Utf16IniFile& ini, bool pause, platform::file_batch* batch) {
  if (!IsValid()) return false;
  if (pause) PauseEngine();
  const EngineFacts facts = Facts();

  const std::u16string section = EscapeSectionName(WideToUtf16(Path()));
  auto put = [&](std::u16string_view key, const std::string& value) {
    ini.Set(section, key, WideToUtf16(Utf8ToWide(value)));
  };
  auto put_bool = [&](std::u16string_view key, bool value) { put(key, value ? "true" : "false"); };

  put(u"Priority", std::to_string(static_cast<std::int32_t>(m_priority)));
  put(u"Status", std::to_string(StoredStatus(facts.paused)));
  put(u"Destination", WithTrailingSeparator(facts.save_path.string()));
  put_bool(u"Done", m_complete);
  put(u"UploadLimit", std::to_string(m_limits.upload));
  put(u"DownloadLimit", std::to_string(m_limits.download));
  put(u"SeedingMode", std::to_string(static_cast<std::uint32_t>(m_goal.mode)));
  put(u"SeedingRatio", FixedSix(m_goal.ratio));
  put(u"PeerRatio", FixedSix(m_goal.peer_ratio));
  if (!facts.metadata) {
    const std::vector<engine::announce_entry> trackers = m_handle.trackers();
    put(u"Seeding", std::to_string(m_goal.time));
    put(u"Downloaded", std::to_string(m_settings.downloadedBase));
    put(u"Uploaded", std::to_string(m_settings.uploadedBase));
    put_bool(u"ShowState", m_settings.showState);
    put_bool(u"HasMetadata", false);
    if (!trackers.empty()) {
      put(u"HashInfoTracker", trackers.front().url);
      put(u"HashInfoTier", std::to_string(static_cast<unsigned>(trackers.front().tier)));
    }
    return true;
  }
  put_bool(u"HasMetadata", true);
  put(u"Seeding", std::to_string(StoredSeedingTime(facts.seed)));
  put(u"Downloaded", std::to_string(DownloadedTotal(facts.status)));
  put(u"Uploaded", std::to_string(UploadedTotal(facts.status)));
  put_bool(u"ShowState", m_settings.showState);
  put_bool(u"BitCometUdpProtocol", m_bitCometUdp);

  // Resume data the engine cannot give now (the torrent is being checked)
  // leaves the file of the last save.
  // A side file that already holds what would be written stays as it is:
  // an idle torrent costs no file written at the end.
  const auto store = [&](const std::filesystem::path& file, const std::string& bytes, const wchar_t* failure) {
    if (platform::file_holds(file, bytes)) return;
    // Called at once after the failed call, while errno still tells why.
    const auto failed = [this, failure] {
      SaveFailed(std::wstring(failure) + L" (" + Utf8ToWide(std::generic_category().message(errno)) + L")");
    };
    const bool written = batch ? batch->write(file, bytes, failed) : platform::write_file_atomically(file, bytes);
    if (!written) failed();
  };
  const engine::entry resume_data = ResumeDataToStore();
  if (resume_data.type() != engine::entry::undefined_t)
    store(SideFile(kResumeDataSuffix), Bencode(resume_data), L"cannot write the resume data");
  const std::vector<bool> pieces = PiecesToStore();
  if (!pieces.empty()) store(SideFile(kFilterDataSuffix), PieceMap(pieces), L"cannot write the piece selection");
  return true;
}

void TorrentItem::FillDatabaseRow(CTorrentDataTable& row, const EngineFacts& facts) const {
  row.priority = static_cast<std::uint32_t>(static_cast<std::int32_t>(m_priority));
  row.status = static_cast<std::uint32_t>(StoredStatus(facts.paused));
  row.upload_limit = m_limits.upload;
  row.download_limit = m_limits.download;
  row.seeding_mode = static_cast<std::uint32_t>(m_goal.mode);
  row.seeding_ratio = static_cast<float>(m_goal.ratio);
  row.peer_ratio = static_cast<float>(m_goal.peer_ratio);
  row.show_state = m_settings.showState;
  row.bitcomet_udp_protocol = m_bitCometUdp;
  row.seeding_time = facts.metadata ? StoredSeedingTime(facts.seed) : m_goal.time;
  // A torrent without metadata has downloaded nothing of its payload yet.
  row.downloaded = facts.metadata ? DownloadedTotal(facts.status) : m_settings.downloadedBase;
  row.uploaded = facts.metadata ? UploadedTotal(facts.status) : m_settings.uploadedBase;
}

bool TorrentItem::SaveToDatabase(bool pause) {
  if (!IsValid()) return false;
  CTorrentDataTable* row = m_database->TorrentData();
  CTrackersTable* trackers = m_database->Trackers();
  CResumeDataTable* resume = m_database->ResumeData();
  CPieceSelectionTable* pieces = m_database->PieceSelection();
  if (!row || !trackers || !resume || !pieces) {
    Log(Utf16ToWide(m_database->GetLastError()));
    return false;
  }
  if (pause) PauseEngine();
  const EngineFacts facts = Facts();
  const std::string info_hash = WideToUtf8(GetInfoHashHex());

  FillDatabaseRow(*row, facts);
  row->info_hash = info_hash;
  row->destination = WithTrailingSeparator(facts.save_path.string());
  row->finished = m_complete;
  row->end_time = {};  // the stored end time stays
  engine::entry resume_data;
  if (!facts.metadata) {
    const std::vector<engine::announce_entry> list = m_handle.trackers();
    row->name = kUnknownTorrentName;
    trackers->tracker_url = list.empty() ? std::string(kDefaultHashTracker) : list.front().url;
    trackers->tier = list.empty() ? 0 : static_cast<std::uint32_t>(list.front().tier);
  } else {
    row->name = TorrentName();
    resume_data = ResumeDataToStore();
    if (resume_data.type() != engine::entry::undefined_t) {
      resume->resume_data = Bencode(resume_data);
    } else {
      // Nothing to give now (being checked): the stored resume data stays.
      const std::uint32_t id = row->FindIdByInfoHash(info_hash);
      resume->resume_data.clear();
      if (id && !resume->Load(id)) resume->resume_data.clear();
    }
    pieces->piece_map = PieceMap(PiecesToStore());
    trackers->tracker_url.clear();  // the store then writes resume data and pieces
  }
  // The metainfo goes with the first save that reaches the server; a row
  // is never written without it.
  bool from_copy = false;
  const std::string meta_data = facts.metadata && !m_metainfoStored ? MetainfoToStore(from_copy) : std::string();
  if (!m_database->SaveTorrent(meta_data)) {
    // Handed over at the next try, in case the row lost it.
    if (facts.metadata) m_metainfoStored = false;
    StoreFailed(Utf16ToWide(m_database->GetLastError()));
    return false;
  }
  if (facts.metadata && !m_metainfoStored) {
    m_metainfoStored = true;
    // The metainfo lives in the store alone from now on.
    std::error_code ec;
    if (from_copy) std::filesystem::remove(SideFile({}), ec);
  }
  if (m_storeWaits) {
    m_storeWaits = false;
    m_events.LogLine(FileName() + L" is in the store again");
  }
  StorePeerNodes(row->id, resume_data);
  return true;
}

std::string TorrentItem::MetainfoToStore(bool& from_copy) const {
  from_copy = false;
  if (std::optional<std::string> copy = ReadWholeFile(SideFile({}))) {
    try {
      if (engine::torrent_metainfo(copy->data(), copy->size()).info_hash() == m_handle.info_hash()) {
        from_copy = true;
        return std::move(*copy);
      }
    } catch (const std::exception&) {
      // A placeholder or something else: not this torrent's metainfo.
    }
  }
  return ReceivedTorrentFile();
}

void TorrentItem::StoreFailed(const std::wstring& error) {
  if (m_storeWaits) return;
  m_storeWaits = true;
  m_events.LogLine(FileName() + L" waits for the store" + (error.empty() ? L"" : L": " + error));
}

void TorrentItem::SaveFailed(std::wstring_view reason) {
  m_events.LogLine(L"cannot save " + FileName() + L": " + std::wstring(reason));
}

bool TorrentItem::UpdateDatabaseRow(bool with_nodes, bool finished) {
  if (!m_database) return true;
  CTorrentDataTable* row = m_database->TorrentData();
  if (!row) return false;
  const std::optional<CTorrentDataTable::Stored> stored = row->LookUp(WideToUtf8(GetInfoHashHex()));
  if (!stored) {
    StoreFailed(Utf16ToWide(m_database->GetLastError()));
    return false;
  }
  const std::uint32_t id = stored->id;
  if (!id) return false;
  engine::entry resume_data;
  try {
    FillDatabaseRow(*row, Facts());
    if (with_nodes) resume_data = ResumeDataToStore();
  } catch (...) {
    Log(GoneOrUnexpected(L"torrent is not valid.", "the torrent's row in the store"));
    return false;
  }
  row->id = id;
  row->finished = Status() == TorrentStatus::Seeding || finished;
  if (!row->UpdateState()) {
    StoreFailed(Utf16ToWide(m_database->GetLastError()));
    return false;
  }
  if (with_nodes) StorePeerNodes(id, resume_data);
  return true;
}

void TorrentItem::StorePeerNodes(std::uint32_t torrent_id, const engine::entry& resume_data) {
  CNodesTable* nodes = m_database ? m_database->Nodes() : nullptr;
  if (!nodes || !torrent_id || resume_data.type() != engine::entry::dictionary_t) return;
  const engine::entry* peers = resume_data.find_key("peers");
  if (!peers || peers->type() != engine::entry::list_t) return;
  for (const engine::entry& peer : peers->list()) {
    if (peer.type() != engine::entry::dictionary_t) continue;
    const engine::entry* ip = peer.find_key("ip");
    const engine::entry* port = peer.find_key("port");
    if (!ip || ip->type() != engine::entry::string_t || !port || port->type() != engine::entry::int_t ||
        port->integer() < 1 || port->integer() > 65535)
      continue;
    std::uint32_t stored_port = 0;
    const std::uint32_t id = nodes->FindByIp(torrent_id, ip->string(), stored_port);
    nodes->id = id;
    nodes->torrent_data_id = torrent_id;
    nodes->ip = ip->string();
    nodes->port = static_cast<std::uint32_t>(port->integer());
    if (!id) nodes->Insert();
    else if (stored_port != nodes->port) nodes->Update();
  }
}

void TorrentItem::OnAddDbNodes() {
  CTorrentDataTable* row = m_database ? m_database->TorrentData() : nullptr;
  CNodesTable* nodes = m_database ? m_database->Nodes() : nullptr;
  if (!row || !nodes) return;
  const std::uint32_t id = row->FindIdByInfoHash(WideToUtf8(GetInfoHashHex()));
  if (!id || !nodes->SelectByTorrent(id)) return;
  do {
    if (nodes->port < 1 || nodes->port > 65535) continue;
    const auto peer = engine::address::parse_dotted(nodes->ip, static_cast<std::uint16_t>(nodes->port));
    if (!peer) continue;
    try {
      m_handle.connect_peer(*peer);
    } catch (...) {
      Log(GoneOrUnexpected(L"torrent is not valid.", "the stored peers' hand-over"));
      return;
    }
  } while (nodes->FetchNext());
}

// --- metadata from the swarm

std::string TorrentItem::ReceivedTorrentFile() const {
  std::string info;
  std::vector<engine::announce_entry> trackers;
  try {
    if (!m_handle.is_valid() || !m_handle.has_metadata()) return {};
    info = m_handle.metainfo().info_dictionary_bytes();
    trackers = m_handle.trackers();
  } catch (const engine::invalid_handle&) {
    return {};
  }
  if (!info.starts_with('d')) return {};
  engine::entry file(engine::entry::dictionary_t);
  if (!trackers.empty()) {
    // The file names the tracker's own scheme.
    std::string url = trackers.front().url;
    if (url.starts_with("bcudp")) url.erase(0, 2);
    file["announce"] = url;
  }
  file["comment"] = std::string("received metadata");
  file["created by"] = "Quillfern " + WideToUtf8(CVersionsInfo().GetVersionText());
  file["creation date"] = static_cast<engine::entry::integer_type>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
  // The info dictionary goes in as the swarm sent it, not decoded and
  // encoded again: its bytes are what the info-hash is taken over. "info"
  // sorts after every other key, so it comes last.
  std::string bytes = Bencode(file);
  bytes.insert(bytes.size() - 1, "4:info" + info);
  return bytes;
}

void TorrentItem::OnMetadataReceived(const std::wstring& target) {
  // Until now the row knew the torrent only by its hash.
  try {
    if (m_handle.is_valid() && m_handle.has_metadata()) ShowMetainfo(m_handle.metainfo());
  } catch (const engine::invalid_handle&) {
    // Gone again: there is nothing to name.
  }
  if (m_database) StoreMetadataInDatabase();
  else WriteTorrentFile(target);
}

bool TorrentItem::WriteTorrentFile(const std::wstring& target) {
  const std::string bytes = ReceivedTorrentFile();
  if (bytes.empty()) return false;
  if (!platform::write_file_atomically(target.empty() ? SideFile({}) : WideToPath(target), bytes)) {
    Log(L"cannot write the torrent file.");
    return false;
  }
  Repaint();
  return true;
}

bool TorrentItem::StoreMetadataInDatabase() {
  CTorrentDataTable* row = m_database ? m_database->TorrentData() : nullptr;
  if (!row) return false;
  const std::string bytes = ReceivedTorrentFile();
  if (bytes.empty()) return false;
  std::string destination, name;
  try {
    destination = WithTrailingSeparator(m_handle.save_path().string());
    name = m_handle.metainfo().name();
  } catch (const engine::invalid_handle&) {
    return false;
  }
  if (!row->StoreMetaData(WideToUtf8(GetInfoHashHex()), bytes, destination, name)) {
    StoreFailed(Utf16ToWide(m_database->GetLastError()));
    return false;
  }
  m_metainfoStored = true;
  return true;
}

// --- log file

void TorrentItem::AppendLogFile(std::wstring_view line) { AppendLogLine(SideFile(kLogFileSuffix), line); }

}  // namespace client
