#include "store/resume_data_table.h"

namespace {

const CTorrentBytesTable::statements resume_data_statements{
    "SELECT resume_data FROM resume_data WHERE torrent_data_id=%u",
    "DELETE FROM resume_data WHERE torrent_data_id=%u",
    "SELECT id FROM resume_data WHERE torrent_data_id=%u",
    "INSERT resume_data SET torrent_data_id=%u, resume_data='%s'",
    "UPDATE resume_data SET resume_data='%s' WHERE torrent_data_id=%u",
};

}  // namespace

CResumeDataTable::CResumeDataTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CTorrentBytesTable(api, connection, resume_data_statements) {}
