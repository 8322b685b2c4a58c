#include "store/nodes_table.h"

#include <array>

CNodesTable::CNodesTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

std::uint32_t CNodesTable::FindByIp(std::uint32_t torrent, std::string_view address, std::uint32_t& stored_port) {
  std::array<std::uint32_t, 2> row{};
  if (!SelectFirst("SELECT id,port FROM nodes WHERE (torrent_data_id=%u) and (ip='%s')", {torrent, address}, row))
    return 0;
  stored_port = row[1];
  return row[0];
}

bool CNodesTable::Insert() {
  return Execute("INSERT nodes SET torrent_data_id=%u,ip='%s',port=%u,last_seen=now()",
                 {torrent_data_id, std::string_view(ip), port});
}

bool CNodesTable::Update() {
  return Execute("UPDATE nodes SET ip='%s',port=%u,last_seen=now() WHERE (id=%u) and (torrent_data_id=%u)",
                 {std::string_view(ip), port, id, torrent_data_id});
}

bool CNodesTable::SelectByTorrent(std::uint32_t torrent) {
  return Select(4, "SELECT id,torrent_data_id,ip,port FROM nodes WHERE torrent_data_id=%u", {torrent});
}

bool CNodesTable::DeleteByTorrent(std::uint32_t torrent) {
  return Execute("DELETE FROM nodes WHERE torrent_data_id=%u", {torrent});
}

bool CNodesTable::ParseRow() {
  ip = IsNull(2) ? "0.0.0.0" : Bytes(2);
  return Number(0, id) && Number(1, torrent_data_id) && Number(3, port);
}
