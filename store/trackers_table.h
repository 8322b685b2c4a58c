#pragma once
// The table trackers: the tracker of a torrent known only by its info-hash.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CTorrentDatabase;

class CTrackersTable : public CDatabaseTable {
 public:
  CTrackersTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t torrent_data_id = 0;
  std::string tracker_url;
  std::uint32_t tier = 0;

  // The trackers of a torrent; the first row parsed into the buffer.
  bool SelectByTorrent(std::uint32_t torrent_data_id);
  bool DeleteByTorrent(std::uint32_t torrent_data_id);

 protected:
  bool ParseRow() override;

 private:
  friend class CTorrentDatabase;
  // Inserts or updates the row of the buffer's torrent.
  bool Store();
};
