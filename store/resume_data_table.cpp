#include "store/resume_data_table.h"

CResumeDataTable::CResumeDataTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

bool CResumeDataTable::Load(std::uint32_t torrent) {
  return Select(1, "SELECT resume_data FROM resume_data WHERE torrent_data_id=%u", {torrent});
}

bool CResumeDataTable::DeleteByTorrent(std::uint32_t torrent) {
  return Execute("DELETE FROM resume_data WHERE torrent_data_id=%u", {torrent});
}

bool CResumeDataTable::ParseRow() {
  resume_data = Bytes(0);
  return true;
}

bool CResumeDataTable::Store() {
  const std::string_view data(resume_data);
  if (SelectId("SELECT id FROM resume_data WHERE torrent_data_id=%u", {torrent_data_id}) == 0)
    return Execute("INSERT resume_data SET torrent_data_id=%u, resume_data='%s'", {torrent_data_id, data});
  return Execute("UPDATE resume_data SET resume_data='%s' WHERE torrent_data_id=%u", {data, torrent_data_id});
}
