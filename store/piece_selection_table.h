#pragma once
// The table piece_selection: a torrent's piece map, one '0' (wanted) or '1'
// (not wanted) per piece.

#include "store/torrent_bytes_table.h"

#include <string>

class CPieceSelectionTable : public CTorrentBytesTable {
 public:
  CPieceSelectionTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  std::string& piece_map = m_bytes;
};
