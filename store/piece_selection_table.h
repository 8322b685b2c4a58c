#pragma once
// The table piece_selection: a torrent's piece map, one '0' (wanted) or '1'
// (not wanted) per piece.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CTorrentDatabase;

class CPieceSelectionTable : public CDatabaseTable {
 public:
  CPieceSelectionTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t torrent_data_id = 0;
  std::string piece_map;

  // The piece map of a torrent into the buffer; false when it has none.
  bool Load(std::uint32_t torrent_data_id);
  bool DeleteByTorrent(std::uint32_t torrent_data_id);

 protected:
  bool ParseRow() override;

 private:
  friend class CTorrentDatabase;
  // Inserts or updates the row of the buffer's torrent.
  bool Store();
};
