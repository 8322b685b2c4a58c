#include "store/piece_selection_table.h"

namespace {

const CTorrentBytesTable::statements piece_selection_statements{
    "SELECT piece_map FROM piece_selection WHERE torrent_data_id=%u",
    "DELETE FROM piece_selection WHERE torrent_data_id=%u",
    "SELECT id FROM piece_selection WHERE torrent_data_id=%u",
    "INSERT piece_selection SET torrent_data_id=%u, piece_map='%s'",
    "UPDATE piece_selection SET piece_map='%s' WHERE torrent_data_id=%u",
};

}  // namespace

CPieceSelectionTable::CPieceSelectionTable(const store::mysql::client_api& api,
                                           store::mysql::connection* connection)
    : CTorrentBytesTable(api, connection, piece_selection_statements) {}
