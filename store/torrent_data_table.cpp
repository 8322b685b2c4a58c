#include "store/torrent_data_table.h"

#include <vector>

namespace {

constexpr store::sql_fragment columns{
    "id,meta_data,priority,status,destination,finished,upload_limit,download_limit,seeding_mode,"
    "seeding_ratio,peer_ratio,seeding_time,uploaded,downloaded,show_state,bitcomet_udp_protocol,"
    "info_hash,start_time,end_time,name"};
constexpr unsigned column_count = 20;

}  // namespace

CTorrentDataTable::CTorrentDataTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

std::uint32_t CTorrentDataTable::FindIdByInfoHash(std::string_view hash) {
  return SelectId("SELECT id FROM torrent_data WHERE info_hash='%s'", {hash});
}

std::optional<CTorrentDataTable::Stored> CTorrentDataTable::LookUp(std::string_view hash) {
  std::uint32_t row[2] = {};
  const std::optional<bool> found = QueryFirst(
      "SELECT id,meta_data IS NOT NULL AND LENGTH(meta_data)>0 FROM torrent_data WHERE info_hash='%s'", {hash}, row);
  if (!found) return std::nullopt;
  if (!*found) return Stored{};
  return Stored{row[0], row[1] != 0};
}

bool CTorrentDataTable::StoreMetaData(std::string_view hash, std::string_view meta, std::string_view dest,
                                      std::string_view torrent_name) {
  if (FindIdByInfoHash(hash) == 0)
    return Execute(
        "INSERT torrent_data SET meta_data='%s',destination='%s',info_hash='%s',name='%s',finished=0,"
        "start_time=now()",
        {meta, dest, hash, torrent_name});
  if (meta.empty()) return Execute("UPDATE torrent_data SET finished=0 WHERE info_hash='%s'", {hash});
  return Execute("UPDATE torrent_data SET meta_data='%s',name='%s',finished=0 WHERE info_hash='%s'",
                 {meta, torrent_name, hash});
}

bool CTorrentDataTable::UpdateState() {
  return Execute(
      "UPDATE torrent_data SET priority=%u,status=%u,finished=%u,upload_limit=%d,download_limit=%d,"
      "seeding_mode=%u,seeding_ratio=%f,peer_ratio=%f,seeding_time=%u,uploaded=%llu,downloaded=%llu,"
      "show_state=%u,bitcomet_udp_protocol=%u,end_time=now() WHERE id=%u",
      {priority, status, finished, upload_limit, download_limit, seeding_mode, seeding_ratio, peer_ratio,
       seeding_time, uploaded, downloaded, show_state, bitcomet_udp_protocol, id});
}

bool CTorrentDataTable::SelectUnfinished() {
  return Select(column_count, "SELECT %s FROM torrent_data WHERE finished=%u", {columns, 0u});
}

bool CTorrentDataTable::SelectById(std::uint32_t row_id) {
  return Select(column_count, "SELECT %s FROM torrent_data WHERE id=%u", {columns, row_id});
}

bool CTorrentDataTable::SelectAll() {
  return Select(column_count, "SELECT %s FROM torrent_data", {columns});
}

bool CTorrentDataTable::MarkFinished() {
  return Execute("UPDATE torrent_data SET finished=1,end_time=now() where id=%u", {id});
}

bool CTorrentDataTable::Finish() {
  return Execute("DELETE FROM trackers WHERE torrent_data_id=%u", {id}) &&
         Execute("DELETE FROM resume_data WHERE torrent_data_id=%u", {id}) &&
         Execute("DELETE FROM piece_selection WHERE torrent_data_id=%u", {id}) && MarkFinished();
}

bool CTorrentDataTable::InsertRow() {
  const bool ok = Execute(
      "INSERT torrent_data SET priority=%u,status=%u,destination='%s',finished=%u,upload_limit=%d,"
      "download_limit=%d,seeding_mode=%u,seeding_ratio=%f,peer_ratio=%f,seeding_time=%u,uploaded=%llu,"
      "downloaded=%llu,show_state=%u,bitcomet_udp_protocol=%u,info_hash='%s',start_time=now(),name='%s'",
      {priority, status, std::string_view(destination), finished, upload_limit, download_limit, seeding_mode,
       seeding_ratio, peer_ratio, seeding_time, uploaded, downloaded, show_state, bitcomet_udp_protocol,
       std::string_view(info_hash), std::string_view(name)});
  if (!ok) return false;
  id = FindIdByInfoHash(info_hash);
  return id != 0;
}

bool CTorrentDataTable::UpdateRow() {
  // An end time that nobody set leaves the stored one as it is.
  const std::string end = end_time.format();
  std::vector<argument> args{priority,     status,       std::string_view(destination),
                             finished,     upload_limit, download_limit,
                             seeding_mode, seeding_ratio, peer_ratio,
                             seeding_time, uploaded,     downloaded,
                             show_state,   bitcomet_udp_protocol};
  std::string pattern =
      "UPDATE torrent_data SET priority=%u,status=%u,destination='%s',finished=%u,upload_limit=%d,"
      "download_limit=%d,seeding_mode=%u,seeding_ratio=%f,peer_ratio=%f,seeding_time=%u,uploaded=%llu,"
      "downloaded=%llu,show_state=%u,bitcomet_udp_protocol=%u,";
  if (end_time.valid()) {
    pattern += "end_time='%s',";
    args.emplace_back(std::string_view(end));
  }
  pattern += "name='%s' WHERE info_hash='%s'";
  args.emplace_back(std::string_view(name));
  args.emplace_back(std::string_view(info_hash));
  if (!Execute(pattern, args)) return false;
  id = FindIdByInfoHash(info_hash);
  return id != 0;
}

bool CTorrentDataTable::ParseRow() {
  meta_data = Bytes(1);
  destination = Bytes(4);
  info_hash = Bytes(16);
  start_time = DateTime(17);
  end_time = DateTime(18);
  name = Bytes(19);
  return Number(0, id) && Number(2, priority) && Number(3, status) && Number(5, finished) &&
         Number(6, upload_limit) && Number(7, download_limit) && Number(8, seeding_mode) &&
         Number(9, seeding_ratio) && Number(10, peer_ratio) && Number(11, seeding_time) &&
         Number(12, uploaded) && Number(13, downloaded) && Number(14, show_state) &&
         Number(15, bitcomet_udp_protocol);
}
