#include "dht/routing_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dht_harness.h"

using namespace dht_test;
using dht::Node;
using dht::RoutingTable;
using engine::address;

namespace {

TEST(DhtRoutingTable, BucketIndexByCommonPrefix) {
  const auto own = id_of(0x00);
  EXPECT_EQ(dht::bucket_index(own, own), 0);
  EXPECT_EQ(dht::bucket_index(flip(own, 159), own), 0);  // only the last bit differs
  EXPECT_EQ(dht::bucket_index(flip(own, 158), own), 1);
  EXPECT_EQ(dht::bucket_index(flip(own, 0), own), 159);
  EXPECT_EQ(dht::bucket_index(flip(own, 8), own), 151);
  EXPECT_EQ(dht::bucket_index(id_of(0xFF), own), 159);
}

TEST(DhtRoutingTable, FullBucketReplacesFirstTimedOutContactOrDrops) {
  RoutingTable t(id_of(0));
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(t.place(3, dht::new_contact(address(std::uint32_t(i + 1), 1), id_of(1), 0, 0)));
  EXPECT_FALSE(t.place(3, dht::new_contact(address(100, 1), id_of(1), 0, 0)));
  t[3][2].pending = 't';
  t[3][5].pending = 't';
  Node* n = t.place(3, dht::new_contact(address(101, 1), id_of(1), 0, 0));
  ASSERT_EQ(n, &t[3][2]);
  EXPECT_EQ(n->address.ip, 101u);
  EXPECT_EQ(t[3].size(), 8u);
  EXPECT_EQ(t.size(), 8u);
}

TEST(DhtRoutingTable, AContactStaysWhereItIsWhileItsBucketFills) {
  RoutingTable t(id_of(0));
  EXPECT_EQ(t[7].capacity(), 0u);  // no room taken before the first contact
  Node* first = t.place(7, dht::new_contact(address(1, 1), id_of(1), 0, 0));
  for (int i = 1; i < 8; ++i) ASSERT_TRUE(t.place(7, dht::new_contact(address(std::uint32_t(i + 1), 1), id_of(1), 0, 0)));
  EXPECT_EQ(first, &t[7][0]);
  EXPECT_EQ(first->address.ip, 1u);
}

TEST(DhtRoutingTable, ClosestContactsAreTheNearestUsableOnes) {
  const auto own = id_of(0);
  RoutingTable t(own);
  // Ids at every distance class from a target near bucket 100.
  const auto target = flip(own, 59);
  std::uint32_t ip = 1;
  for (int bit = 0; bit < 160; bit += 3) {
    const auto id = flip(own, bit);
    t.place(t.bucket_for(id), dht::new_contact(address(ip++, 1), id, 0, 0));
  }
  t.place(t.bucket_for(target), dht::new_contact(address(ip++, 1), target, 0, 0));
  const auto near_t = flip(target, 150);
  t.place(t.bucket_for(near_t), dht::new_contact(address(ip++, 1), near_t, 0, 0))->pending = 't';
  t.place(dht::idless_bucket, dht::new_contact(address(ip++, 1), engine::sha1_hash(), 0, 0));

  const auto closest = t.closest(target);
  ASSERT_EQ(closest.size(), 8u);
  for (std::size_t i = 0; i < closest.size(); ++i) {
    EXPECT_NE(closest[i]->id, target);
    EXPECT_NE(closest[i]->pending, 't');
    EXPECT_FALSE(closest[i]->id.is_all_zeros());
    if (i > 0) {
      EXPECT_TRUE(dht::closer(closest[i - 1]->id, closest[i]->id, target));
    }
  }
  // Every contact left out is farther than every one taken.
  for (int b = 0; b < dht::idless_bucket; ++b)
    for (const Node& n : t[b])
      if (n.pending != 't' && n.id != target && std::find(closest.begin(), closest.end(), &n) == closest.end()) {
        EXPECT_TRUE(dht::closer(closest.back()->id, n.id, target));
      }
  EXPECT_TRUE(RoutingTable(own).closest(target).empty());
}

}  // namespace
