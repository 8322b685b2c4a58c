#pragma once
// The table nodes: peer addresses of a torrent, kept to connect to them
// again at the next run.

#include "store/database_table.h"

#include <cstdint>
#include <string>
#include <string_view>

class CNodesTable : public CDatabaseTable {
 public:
  CNodesTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t id = 0;
  std::uint32_t torrent_data_id = 0;
  std::string ip;  // dotted IPv4
  std::uint32_t port = 0;

  // The id of the torrent's row for `ip` and its stored port; 0 when absent.
  std::uint32_t FindByIp(std::uint32_t torrent_data_id, std::string_view ip, std::uint32_t& port);
  // Adds the address of the buffer to its torrent, seen now.
  bool Insert();
  // Writes the buffer's address to the row `id` of its torrent, seen now.
  bool Update();
  // The addresses of a torrent; the first row parsed into the buffer.
  bool SelectByTorrent(std::uint32_t torrent_data_id);
  bool DeleteByTorrent(std::uint32_t torrent_data_id);

 protected:
  bool ParseRow() override;
};
