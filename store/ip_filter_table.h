#pragma once
// The table ip_filter: address ranges with their access flags.

#include "store/database_table.h"

#include <cstdint>
#include <string>

class CIpFilterTable : public CDatabaseTable {
 public:
  CIpFilterTable(const store::mysql::client_api& api, store::mysql::connection* connection);

  // Row buffer.
  std::uint32_t id = 0;
  std::string ip_start;
  std::string ip_end;
  std::uint32_t flags = 0;

  // Adds the rule of the buffer.
  bool Insert();
  // The rule `id`, or every rule for id 0 (in id order); the first row parsed
  // into the buffer.
  bool Select(std::uint32_t id);
  // Deletes the rule `id`, or for id 0 every rule, restarting the ids at 1.
  bool Delete(std::uint32_t id);

 protected:
  bool ParseRow() override;
};
