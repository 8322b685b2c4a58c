#pragma once
// The texts of the two table dumps, "nodes.txt" (the main routing table) and
// "info_hashs.txt" (the per-info-hash records), written for people to read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dht/info_hash_record.h"
#include "dht/routing_table.h"

namespace dht {

std::string dump_nodes(const RoutingTable& table, std::uint32_t now);
std::string dump_info_hashes(const std::vector<std::unique_ptr<InfoHashRecord>>& records, std::uint32_t now);

}  // namespace dht
