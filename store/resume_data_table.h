#pragma once
// The table resume_data: the fast-resume bytes of a torrent.

#include "store/torrent_bytes_table.h"

#include <string>

class CResumeDataTable : public CTorrentBytesTable {
 public:
  CResumeDataTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  std::string& resume_data = m_bytes;
};
