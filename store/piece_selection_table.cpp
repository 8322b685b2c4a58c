#include "store/piece_selection_table.h"

CPieceSelectionTable::CPieceSelectionTable(const store::mysql::client_api& api,
                                           store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

bool CPieceSelectionTable::Load(std::uint32_t torrent) {
  return Select(1, "SELECT piece_map FROM piece_selection WHERE torrent_data_id=%u", {torrent});
}

bool CPieceSelectionTable::DeleteByTorrent(std::uint32_t torrent) {
  return Execute("DELETE FROM piece_selection WHERE torrent_data_id=%u", {torrent});
}

bool CPieceSelectionTable::ParseRow() {
  piece_map = Bytes(0);
  return true;
}

bool CPieceSelectionTable::Store() {
  const std::string_view map(piece_map);
  if (SelectId("SELECT id FROM piece_selection WHERE torrent_data_id=%u", {torrent_data_id}) == 0)
    return Execute("INSERT piece_selection SET torrent_data_id=%u, piece_map='%s'", {torrent_data_id, map});
  return Execute("UPDATE piece_selection SET piece_map='%s' WHERE torrent_data_id=%u", {map, torrent_data_id});
}
