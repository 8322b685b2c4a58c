#include "store/ip_filter_table.h"

CIpFilterTable::CIpFilterTable(const store::mysql::client_api& api, store::mysql::connection* connection)
    : CDatabaseTable(api, connection) {}

bool CIpFilterTable::Insert() {
  return Execute("INSERT ip_filter SET ip_start='%s', ip_end='%s',flags=%u",
                 {std::string_view(ip_start), std::string_view(ip_end), flags});
}

bool CIpFilterTable::Select(std::uint32_t rule) {
  if (rule == 0) return CDatabaseTable::Select(4, "SELECT id,ip_start,ip_end,flags FROM ip_filter ORDER BY id");
  return CDatabaseTable::Select(4, "SELECT id,ip_start,ip_end,flags FROM ip_filter WHERE id=%u", {rule});
}

bool CIpFilterTable::Delete(std::uint32_t rule) {
  if (rule == 0)
    return Execute("DELETE FROM ip_filter") && Execute("ALTER TABLE ip_filter AUTO_INCREMENT = 1");
  return Execute("DELETE FROM ip_filter WHERE id=%u", {rule});
}

bool CIpFilterTable::ParseRow() {
  ip_start = Bytes(1);
  ip_end = Bytes(2);
  return Number(0, id) && Number(3, flags);
}
