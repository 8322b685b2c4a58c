#pragma once
// The table torrent_data: one row per torrent with its metainfo, settings,
// totals and times.

#include "store/database_table.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CTorrentDatabase;

class CTorrentDataTable : public CDatabaseTable {
 public:
  CTorrentDataTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t id = 0;
  std::string meta_data;  // the torrent's metainfo bytes
  std::uint32_t priority = 0;
  std::uint32_t status = 0;
  std::string destination;
  std::uint32_t finished = 0;
  std::int32_t upload_limit = 0;
  std::int32_t download_limit = 0;
  std::uint32_t seeding_mode = 0;
  float seeding_ratio = 0;
  float peer_ratio = 0;
  std::uint32_t seeding_time = 0;
  std::uint64_t uploaded = 0;
  std::uint64_t downloaded = 0;
  std::uint32_t show_state = 0;
  std::uint32_t bitcomet_udp_protocol = 0;
  std::string info_hash;
  store::date_time start_time;
  store::date_time end_time;
  std::string name;

  // The id of the torrent's row; 0 when there is none or on failure.
  std::uint32_t FindIdByInfoHash(std::string_view info_hash);
  // What the store holds of a torrent: the id of its row (0 when it has
  // none) and whether that row holds metainfo.
  struct Stored {
    std::uint32_t id = 0;
    bool metainfo = false;
  };
  // None when the server did not answer: unlike FindIdByInfoHash, a
  // failure does not read as a torrent the store does not know.
  std::optional<Stored> LookUp(std::string_view info_hash);
  // Stores a torrent's metainfo: a new row when the info-hash has none, else
  // the row's metainfo and name are replaced (and it counts as unfinished).
  // Empty metainfo (a torrent known by its info-hash) never replaces what a
  // row holds: such a row only counts as unfinished again.
  bool StoreMetaData(std::string_view info_hash, std::string_view meta_data, std::string_view destination,
                     std::string_view name);
  // Writes the settings and totals of the buffer to the row `id`.
  bool UpdateState();
  // The unfinished torrents; the first row parsed into the buffer.
  bool SelectUnfinished();
  bool SelectById(std::uint32_t id);
  bool SelectAll();
  // Marks the row `id` finished now.
  bool MarkFinished();
  // Deletes the trackers, resume data and piece selection of the row `id`,
  // then marks it finished.
  bool Finish();

 protected:
  bool ParseRow() override;

 private:
  friend class CTorrentDatabase;
  // Inserts or updates the row of the buffer's info-hash, then sets the
  // buffer's id from it.
  bool InsertRow();
  bool UpdateRow();
};
