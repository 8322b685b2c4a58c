#include "store/torrent_database.h"

#include "engine/formats/text_helpers.h"

#include <algorithm>
#include <exception>

namespace {

// The library's texts are UTF-8; anything that is not is widened byte by byte.
std::u16string widen(std::string_view text) {
  try {
    return engine::utf8_wchar(text);
  } catch (const std::exception&) {
    return std::u16string(text.begin(), text.end());
  }
}

}  // namespace

bool CTorrentDatabase::IsClientLibraryAvailable() { return store::mysql::client_library_available(); }

CTorrentDatabase::CTorrentDatabase(std::u16string_view host, std::uint16_t port, std::u16string_view user,
                                   std::u16string_view password)
    : m_host(engine::wchar_utf8(host)), m_user(engine::wchar_utf8(user)), m_password(engine::wchar_utf8(password)),
      m_port(port) {
  m_api = store::mysql::bind_client_library();
  Connect();
}

bool CTorrentDatabase::Connect() {
  if (m_connected) return true;
  if (!m_api) return false;
  m_connection = m_api->init(nullptr);
  if (!m_connection) return false;
  if (!m_api->real_connect(m_connection, m_host.c_str(), m_user.c_str(), m_password.c_str(), database_name, m_port,
                           nullptr, 0)) {
    const char* text = m_api->error(m_connection);
    m_connect_error = text ? text : "";
    m_api->close(m_connection);
    m_connection = nullptr;
    return false;
  }
  m_connected = true;
  const char reconnect = 1;
  m_api->options(m_connection, store::mysql::option_reconnect, &reconnect);

  m_torrent_data = std::make_unique<CTorrentDataTable>(*m_api, m_connection);
  m_resume_data = std::make_unique<CResumeDataTable>(*m_api, m_connection);
  m_piece_selection = std::make_unique<CPieceSelectionTable>(*m_api, m_connection);
  m_trackers = std::make_unique<CTrackersTable>(*m_api, m_connection);
  m_ip_filter = std::make_unique<CIpFilterTable>(*m_api, m_connection);
  m_auto_destinations = std::make_unique<CAutoDestinationsTable>(*m_api, m_connection);
  m_nodes = std::make_unique<CNodesTable>(*m_api, m_connection);
  return true;
}

CTorrentDatabase::~CTorrentDatabase() {
  // The tables free their pending results while the connection still stands.
  m_torrent_data.reset();
  m_resume_data.reset();
  m_piece_selection.reset();
  m_trackers.reset();
  m_ip_filter.reset();
  m_auto_destinations.reset();
  m_nodes.reset();
  if (m_connection) m_api->close(m_connection);
}

bool CTorrentDatabase::SaveTorrent(std::string_view meta_data) {
  if (!m_connected) return false;
  CTorrentDataTable& torrent = *m_torrent_data;
  const bool with_metainfo = m_trackers->tracker_url.empty();
  std::optional<CTorrentDataTable::Stored> stored = torrent.LookUp(torrent.info_hash);
  if (!stored) return false;
  if (with_metainfo && !stored->metainfo) {
    if (meta_data.empty() ||
        !torrent.StoreMetaData(torrent.info_hash, meta_data, torrent.destination, torrent.name))
      return false;
    stored = torrent.LookUp(torrent.info_hash);
    if (!stored || !stored->metainfo) return false;
  }
  if (!with_metainfo && stored->metainfo) {
    torrent.id = stored->id;
    return torrent.UpdateState();
  }
  const bool row_saved = stored->id == 0 ? torrent.InsertRow() : torrent.UpdateRow();
  if (!row_saved) return false;

  if (with_metainfo) {
    m_resume_data->torrent_data_id = torrent.id;
    if (!m_resume_data->Store()) return false;
    m_piece_selection->torrent_data_id = torrent.id;
    return m_piece_selection->Store();
  }
  m_trackers->torrent_data_id = torrent.id;
  return m_trackers->Store();
}

std::u16string CTorrentDatabase::GetLastError() const {
  if (m_connection) {
    const char* text = m_api->error(m_connection);
    return widen(text ? text : "");
  }
  if (m_api && !m_connect_error.empty()) return widen(m_connect_error);
  return u"No database";
}
