#pragma once
// The table resume_data: the fast-resume bytes of a torrent.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CTorrentDatabase;

class CResumeDataTable : public CDatabaseTable {
 public:
  CResumeDataTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t torrent_data_id = 0;
  std::string resume_data;

  // The resume data of a torrent into the buffer (empty when the column is
  // NULL); false when it has none.
  bool Load(std::uint32_t torrent_data_id);
  bool DeleteByTorrent(std::uint32_t torrent_data_id);

 protected:
  bool ParseRow() override;

 private:
  friend class CTorrentDatabase;
  // Inserts or updates the row of the buffer's torrent.
  bool Store();
};
