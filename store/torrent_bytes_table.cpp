#include "store/torrent_bytes_table.h"

CTorrentBytesTable::CTorrentBytesTable(const store::mysql::client_api& api, store::mysql::connection* connection,
                                       const statements& texts)
    : CDatabaseTable(api, connection), m_statements(texts) {}

bool CTorrentBytesTable::Load(std::uint32_t torrent) { return Select(1, m_statements.load, {torrent}); }

bool CTorrentBytesTable::DeleteByTorrent(std::uint32_t torrent) {
  return Execute(m_statements.remove, {torrent});
}

bool CTorrentBytesTable::ParseRow() {
  m_bytes = Bytes(0);
  return true;
}

bool CTorrentBytesTable::Store() {
  const std::string_view bytes(m_bytes);
  return StoreByTorrent(torrent_data_id, m_statements.find, m_statements.insert, {torrent_data_id, bytes},
                        m_statements.update, {bytes, torrent_data_id});
}
