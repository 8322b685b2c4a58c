#include "engine/formats/sha1_hash.h"

#include <gtest/gtest.h>

#include <map>

using engine::sha1_hash;

TEST(Sha1Hash, OrdersBytewiseUnsigned) {
  sha1_hash a, b;
  a[0] = 0x7F;
  b[0] = 0x80;  // larger unsigned, smaller signed
  EXPECT_LT(a, b);
  sha1_hash c = a;
  c[19] = 1;
  EXPECT_LT(a, c);
  EXPECT_EQ(a, a);
  std::map<sha1_hash, int> m{{b, 2}, {a, 1}};
  EXPECT_EQ(m.begin()->second, 1);
}

TEST(Sha1Hash, ZerosAndText) {
  sha1_hash h;
  EXPECT_TRUE(h.is_all_zeros());
  h = sha1_hash::from_bytes("\xab\x01");
  EXPECT_FALSE(h.is_all_zeros());
  EXPECT_EQ(h.to_hex().substr(0, 6), "ab0100");
  EXPECT_EQ(h.to_string().size(), 20u);
}
