#include "store/trackers_table.h"

CTrackersTable::CTrackersTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

bool CTrackersTable::SelectByTorrent(std::uint32_t torrent) {
  return Select(2, "SELECT tracker_url,tier FROM trackers WHERE torrent_data_id=%u", {torrent});
}

bool CTrackersTable::DeleteByTorrent(std::uint32_t torrent) {
  return Execute("DELETE FROM trackers WHERE torrent_data_id=%u", {torrent});
}

bool CTrackersTable::ParseRow() {
  tracker_url = Bytes(0);
  return Number(1, tier);
}

bool CTrackersTable::Store() {
  const std::string_view url(tracker_url);
  return StoreByTorrent(torrent_data_id, "SELECT id FROM trackers WHERE torrent_data_id=%u",
                        "INSERT trackers SET torrent_data_id=%u,tracker_url='%s',tier=%u",
                        {torrent_data_id, url, tier},
                        "UPDATE trackers SET tracker_url='%s',tier=%u WHERE torrent_data_id=%u",
                        {url, tier, torrent_data_id});
}
