#include "store/auto_destinations_table.h"

CAutoDestinationsTable::CAutoDestinationsTable(const store::mysql::client_api& api,
                                               store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

bool CAutoDestinationsTable::Insert() {
  return Execute("INSERT auto_destinations SET key_words='%s',destination='%s'",
                 {std::string_view(key_words), std::string_view(destination)});
}

bool CAutoDestinationsTable::Select(std::uint32_t entry) {
  if (entry == 0) return CDatabaseTable::Select(3, "SELECT id,key_words,destination FROM auto_destinations");
  return CDatabaseTable::Select(3, "SELECT id,key_words,destination FROM auto_destinations WHERE id=%u", {entry});
}

bool CAutoDestinationsTable::Delete(std::uint32_t entry) {
  if (entry == 0)
    return Execute("DELETE FROM auto_destinations") &&
           Execute("ALTER TABLE auto_destinations AUTO_INCREMENT = 1");
  return Execute("DELETE FROM auto_destinations WHERE id=%u", {entry});
}

bool CAutoDestinationsTable::ParseRow() {
  key_words = Bytes(1);
  destination = Bytes(2);
  return Number(0, id);
}
