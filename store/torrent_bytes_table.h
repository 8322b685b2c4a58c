#pragma once
// A table that keeps one byte string per torrent (its resume data, its piece
// map): loaded, stored and deleted by the torrent's row id.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CTorrentDatabase;

class CTorrentBytesTable : public CDatabaseTable {
 public:
  // Row buffer: the torrent, and its bytes under the name the table gives them.
  std::uint32_t torrent_data_id = 0;

  // The bytes of a torrent into the buffer (empty when the column is NULL);
  // false when it has none.
  bool Load(std::uint32_t torrent_data_id);
  bool DeleteByTorrent(std::uint32_t torrent_data_id);

  // The statements of one such table, each with its torrent_data_id and
  // bytes in the order the texts name them.
  struct statements {
    const char* load;    // SELECT <bytes> ... WHERE torrent_data_id=%u
    const char* remove;  // DELETE ... WHERE torrent_data_id=%u
    const char* find;    // SELECT id ... WHERE torrent_data_id=%u
    const char* insert;  // INSERT ... torrent_data_id=%u, <bytes>='%s'
    const char* update;  // UPDATE ... SET <bytes>='%s' WHERE torrent_data_id=%u
  };

 protected:
  CTorrentBytesTable(const store::mysql::client_api& api, store::mysql::connection* connection,
                     const statements& texts);

  bool ParseRow() override;

  std::string m_bytes;

 private:
  friend class CTorrentDatabase;
  // Inserts or updates the row of the buffer's torrent.
  bool Store();

  const statements& m_statements;
};
