#include "dht/table_dump.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "dht_harness.h"

using namespace dht_test;
using engine::address;

namespace {

// The dump's upper-case hex of 20 equal bytes.
std::string hex_of(unsigned char fill) {
  char two[3];
  std::snprintf(two, sizeof two, "%02X", fill);
  std::string s;
  for (int i = 0; i < 20; ++i) s += two;
  return s;
}

TEST(DhtTableDump, EmptyTablesGiveTheirShortForms) {
  EXPECT_EQ(dht::dump_nodes(dht::RoutingTable(id_of(1)), 0), "\r\nEstimated table size: 0 bytes");
  EXPECT_EQ(dht::dump_info_hashes({}, 0), "no peers\r\n");
}

TEST(DhtTableDump, ContactLinesByBucket) {
  dht::RoutingTable t(id_of(0));
  dht::Node& a = *t.place(3, dht::new_contact(address(10, 0, 0, 1, 80), id_of(0xAB), 100000, 0));
  a.confirmed = true;
  a.pending = 'f';
  a.token = std::string(20, '\x01');
  // A new contact's last_contact lies ahead of the clock: 0 s of silence.
  t.place(3, dht::new_contact(address(10, 0, 0, 2, 6881), id_of(0xCD), 100000, 32767));
  t.place(160, dht::new_contact(address(10, 0, 0, 3, 1), engine::sha1_hash(), 0, 0));
  EXPECT_EQ(dht::dump_nodes(t, 112345),
            "[  3]\r\n"
            "   1     12s 1 0 f\t" + hex_of(0xAB) + "\t10.0.0.1\t   80\t" + hex_of(1) + "\r\n"
            "   2      0s 0 0 *\t" + hex_of(0xCD) + "\t10.0.0.2\t 6881\t" + hex_of(0) + "\r\n"
            "[160]\r\n"
            "   1    112s 0 0 *\t" + hex_of(0) + "\t10.0.0.3\t    1\t" + hex_of(0) + "\r\n"
            "\r\nEstimated table size: 264 bytes");
}

TEST(DhtTableDump, RecordsWithPeersAndContacts) {
  std::vector<std::unique_ptr<dht::InfoHashRecord>> records;
  records.push_back(std::make_unique<dht::InfoHashRecord>(id_of(0x01), 40, true, true, 1000));
  records.push_back(std::make_unique<dht::InfoHashRecord>(id_of(0x02), 40, false, false, 2000));
  records[1]->store_peer(address(127, 0, 0, 5, 51413), 40, 2000);
  records[1]->table.place(7, dht::new_contact(address(10, 0, 0, 9, 9), id_of(0xAB), 0, 0));
  // The first record's empty table runs straight into the next header.
  EXPECT_EQ(dht::dump_info_hashes(records, 61000),
            "[" + hex_of(1) + "] Private Own 60s\r\n  Peers\r\n  Nodes\r\n"
            "[" + hex_of(2) + "] Public Foreign 59s\r\n  Peers\r\n\t 1\t127.0.0.5\t51413\r\n  Nodes\r\n"
            "\t[  7]\r\n\t   1     61s 0 0 *\t" + hex_of(0xAB) + "\t10.0.0.9\t    9\t" + hex_of(0) + "\r\n"
            "\r\nTotal number of info hashes: 2\r\nEstimated table size: " + std::to_string(2 * 2628 + 8 + 88) +
            " bytes");
}

}  // namespace
