#pragma once
// The table auto_destinations: keywords and the folder that a torrent whose
// name holds one of them is saved to.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CAutoDestinationsTable : public CDatabaseTable {
 public:
  CAutoDestinationsTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t id = 0;
  std::string key_words;
  std::string destination;

  // Adds the entry of the buffer.
  bool Insert();
  // The entry `id`, or every entry for id 0; the first row parsed into the buffer.
  bool Select(std::uint32_t id);
  // Deletes the entry `id`, or for id 0 every entry, restarting the ids at 1.
  bool Delete(std::uint32_t id);

 protected:
  bool ParseRow() override;
};
