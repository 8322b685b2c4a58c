#include "engine/wire/metadata_transfer.h"

#include <gtest/gtest.h>

#include "engine/formats/sha1.h"

using engine::metadata_transfer;
using engine::sha1_hash;
using result = metadata_transfer::result;

namespace {

std::string metadata(int size) {
  std::string m(std::size_t(size), '\0');
  for (int i = 0; i < size; ++i) m[std::size_t(i)] = char(i * 7 + 3);
  return m;
}

sha1_hash hash_of(const std::string& s) { return engine::hasher(s.data(), int(s.size())).final(); }

}  // namespace

TEST(MetadataTransfer, AssemblesPartsInAnyOrder) {
  const std::string m = metadata(1000);
  const sha1_hash ih = hash_of(m);
  metadata_transfer t;
  EXPECT_EQ(t.received(m.data() + 500, 500, 500, 1000, ih), result::incomplete);
  EXPECT_EQ(t.bytes_received(), 500);
  EXPECT_EQ(t.total_size(), 1000);
  EXPECT_EQ(t.received(m.data(), 500, 0, 1000, ih), result::complete);
  EXPECT_EQ(std::string(t.buffer().begin(), t.buffer().end()), m);
}

TEST(MetadataTransfer, WrongHashDropsEverything) {
  const std::string m = metadata(512);
  metadata_transfer t;
  EXPECT_EQ(t.received(m.data(), 512, 0, 512, sha1_hash()), result::failed);
  EXPECT_EQ(t.bytes_received(), 0);
  EXPECT_EQ(t.total_size(), 0);
  // A liar's total does not stay: the true one is taken afterwards.
  EXPECT_EQ(t.received(m.data(), 512, 0, 512, hash_of(m)), result::complete);
}

TEST(MetadataTransfer, HostilePartsAreIgnored) {
  const std::string m = metadata(300);
  const sha1_hash ih = hash_of(m);
  metadata_transfer t;
  EXPECT_EQ(t.received(m.data(), 10, 295, 300, ih), result::incomplete);  // past the end
  EXPECT_EQ(t.received(m.data(), 10, -1, 300, ih), result::incomplete);
  EXPECT_EQ(t.received(m.data(), -5, 0, 300, ih), result::incomplete);
  EXPECT_EQ(t.received(m.data(), 10, 0, metadata_transfer::max_size + 1, ih), result::incomplete);
  EXPECT_EQ(t.total_size(), 0);
  EXPECT_EQ(t.received(m.data(), 100, 0, 300, ih), result::incomplete);
  EXPECT_EQ(t.received(m.data() + 100, 200, 100, 300, ih), result::complete);
}

TEST(MetadataTransfer, AWrongTotalCannotHoldUpTheRest) {
  // A peer names another total and then never sends the rest: the honest
  // peers' parts must still be taken.
  const std::string m = metadata(300);
  const sha1_hash ih = hash_of(m);
  metadata_transfer t;
  EXPECT_EQ(t.received(m.data(), 100, 0, 300, ih), result::incomplete);
  EXPECT_EQ(t.received(m.data(), 10, 0, 400, ih), result::incomplete);  // another total
  EXPECT_EQ(t.total_size(), 400);
  EXPECT_EQ(t.received(m.data() + 100, 200, 100, 300, ih), result::incomplete);  // starts over
  EXPECT_EQ(t.total_size(), 300);
  EXPECT_EQ(t.received(m.data(), 100, 0, 300, ih), result::complete);
}

TEST(MetadataTransfer, RequestsSpreadOverTheParts) {
  metadata_transfer t;
  // Three peers: windows of 64 parts, each starting where nothing is asked.
  EXPECT_EQ(t.request(3), std::make_pair(0, 64));
  EXPECT_EQ(t.request(3), std::make_pair(64, 64));
  EXPECT_EQ(t.request(3), std::make_pair(128, 64));
  EXPECT_EQ(t.request(3), std::make_pair(192, 64));
  t.cancel({64, 64});
  EXPECT_EQ(t.request(3), std::make_pair(64, 64));
  // No peer known: the whole metadata at once; very many: one part.
  metadata_transfer u;
  EXPECT_EQ(u.request(0), std::make_pair(0, 256));
  EXPECT_EQ(u.request(1000).second, 1);
  u.cancel({0, 256});
  u.cancel({0, 256});  // never below zero
  EXPECT_EQ(u.request(1), std::make_pair(0, 128));
}

TEST(MetadataTransfer, RequestsGoWherePartsAreMissing) {
  // One peer answers the first half: the next request is the other half,
  // not the first half again.
  const std::string m = metadata(1000);
  const sha1_hash ih = hash_of(m);
  metadata_transfer t;
  const auto first = t.request(1);
  EXPECT_EQ(first, std::make_pair(0, 128));
  const auto bytes = metadata_transfer::window_to_bytes(first, 1000);
  EXPECT_EQ(t.received(m.data(), bytes.second, 0, 1000, ih), result::incomplete);
  t.cancel(first);
  const auto second = t.request(1);
  EXPECT_EQ(second, std::make_pair(128, 128));
  EXPECT_EQ(t.received(m.data() + bytes.second, 1000 - bytes.second, bytes.second, 1000, ih), result::complete);
}

TEST(MetadataTransfer, WindowsAndBytes) {
  EXPECT_EQ(metadata_transfer::window_to_bytes({0, 256}, 1000), std::make_pair(0, 1000));
  EXPECT_EQ(metadata_transfer::window_to_bytes({1, 1}, 1000), std::make_pair(4, 8));  // 3.9 and 7.8 rounded up
  EXPECT_EQ(metadata_transfer::byte_to_part(4, 1000), 1);
  EXPECT_EQ(metadata_transfer::byte_to_part(999, 1000), 255);
}
