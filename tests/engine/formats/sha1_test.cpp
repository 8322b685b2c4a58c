#include "engine/formats/sha1.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using engine::hasher;
using engine::sha1_backend;

namespace {

std::string hex_of(const std::string& s) { return hasher(s.data(), static_cast<int>(s.size())).final().to_hex(); }

// A textbook SHA-1 over the whole padded message: a model independent of the
// engine's buffering and of its unrolled rounds.
std::string reference_sha1(const std::string& msg) {
  std::vector<std::uint8_t> m(msg.begin(), msg.end());
  const std::uint64_t bits = std::uint64_t(msg.size()) * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 7; i >= 0; --i) m.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));

  auto rol = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  std::uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  for (std::size_t off = 0; off < m.size(); off += 64) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
      w[t] = std::uint32_t(m[off + 4 * t]) << 24 | std::uint32_t(m[off + 4 * t + 1]) << 16 |
             std::uint32_t(m[off + 4 * t + 2]) << 8 | m[off + 4 * t + 3];
    for (int t = 16; t < 80; ++t) w[t] = rol(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      std::uint32_t f, k;
      if (t < 20) f = (b & c) | (~b & d), k = 0x5A827999u;
      else if (t < 40) f = b ^ c ^ d, k = 0x6ED9EBA1u;
      else if (t < 60) f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
      else f = b ^ c ^ d, k = 0xCA62C1D6u;
      const std::uint32_t tmp = rol(a, 5) + f + e + k + w[t];
      e = d, d = c, c = rol(b, 30), b = a, a = tmp;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  std::uint8_t out[20];
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
  return engine::sha1_hash(out).to_hex();
}

std::string random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& ch : s) ch = static_cast<char>(rng());
  return s;
}

// Runs every test once per compression routine the CPU offers.
class Sha1Backends : public ::testing::TestWithParam<sha1_backend> {
 protected:
  void SetUp() override {
    if (!engine::sha1_backend_available(GetParam())) GTEST_SKIP() << "this CPU has no SHA instructions";
    saved_ = engine::sha1_active_backend();
    ASSERT_TRUE(engine::sha1_use_backend(GetParam()));
  }
  void TearDown() override { engine::sha1_use_backend(saved_); }
  sha1_backend saved_ = sha1_backend::portable;
};

TEST_P(Sha1Backends, PublishedVectors) {
  EXPECT_EQ(hex_of(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hex_of("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(hex_of("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                   "mnopqrstnopqrstu"),
            "a49b2446a02c645bf419f995b67091253a04a259");
  EXPECT_EQ(hex_of(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_P(Sha1Backends, PaddingAroundBlockEnds) {
  const std::pair<int, const char*> cases[] = {
      {55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"}, {56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {63, "03f09f5b158a7a8cdad920bddc29b81c18a551f5"}, {64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {65, "11655326c708d70319be2610e8a57d9a5b959d3b"}, {119, "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
      {120, "f34c1488385346a55709ba056ddd08280dd4c6d6"}, {128, "ad5b3fdbcb526778c2839d2f151ea753995e26a0"},
  };
  for (auto [n, digest] : cases) EXPECT_EQ(hex_of(std::string(n, 'a')), digest) << n << " bytes";
}

// Every length up to three blocks, split at every point into two updates,
// and also fed one byte at a time, against the textbook model.
TEST_P(Sha1Backends, SplitUpdatesMatchModel) {
  for (std::size_t n = 0; n <= 200; ++n) {
    const std::string msg = random_bytes(n, static_cast<std::uint32_t>(n));
    const std::string want = reference_sha1(msg);
    ASSERT_EQ(hex_of(msg), want) << n;
    for (std::size_t cut = 0; cut <= n; ++cut) {
      hasher h;
      h.update(msg.data(), static_cast<int>(cut));
      h.update(msg.data() + cut, static_cast<int>(n - cut));
      ASSERT_EQ(h.final().to_hex(), want) << n << " split at " << cut;
    }
    hasher bytewise;
    for (char ch : msg) bytewise.update(&ch, 1);
    ASSERT_EQ(bytewise.final().to_hex(), want) << n << " bytewise";
  }
}

TEST_P(Sha1Backends, RandomChunksOverLongMessage) {
  const std::string msg = random_bytes(70000, 7);
  const std::string want = reference_sha1(msg);
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    engine::sha1_context ctx;
    engine::sha1_init(ctx);
    std::size_t pos = 0;
    while (pos < msg.size()) {
      const std::size_t take = std::min<std::size_t>(rng() % 300, msg.size() - pos);  // zero-length updates too
      engine::sha1_update(ctx, msg.data() + pos, take);
      pos += take;
    }
    std::uint8_t out[20];
    engine::sha1_final(ctx, out);
    ASSERT_EQ(engine::sha1_hash(out).to_hex(), want) << round;
  }
}

INSTANTIATE_TEST_SUITE_P(, Sha1Backends,
                         ::testing::Values(sha1_backend::portable, sha1_backend::sha_instructions),
                         [](const auto& info) {
                           return info.param == sha1_backend::portable ? "Portable" : "ShaInstructions";
                         });

TEST(Sha1, BackendsAgree) {
  if (!engine::sha1_backend_available(sha1_backend::sha_instructions)) GTEST_SKIP() << "no SHA instructions";
  const sha1_backend saved = engine::sha1_active_backend();
  for (std::size_t n : {0, 1, 63, 64, 65, 1000, 16384, 16385}) {
    const std::string msg = random_bytes(n, static_cast<std::uint32_t>(n) + 99);
    engine::sha1_use_backend(sha1_backend::portable);
    const auto a = hex_of(msg);
    engine::sha1_use_backend(sha1_backend::sha_instructions);
    EXPECT_EQ(a, hex_of(msg)) << n;
  }
  engine::sha1_use_backend(saved);
}

TEST(Sha1, BitCountCarriesIntoHighWord) {
  engine::sha1_context ctx;
  engine::sha1_init(ctx);
  ctx.count[0] = 0xFFFFFE00u;  // 64 bytes short of 2^32 bits... minus 512 bits
  const std::string block(128, 'x');
  engine::sha1_update(ctx, block.data(), block.size());
  EXPECT_EQ(ctx.count[0], 0x200u);
  EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Sha1, HasherStartsOverAfterFinal) {
  hasher h("abc", 3);
  EXPECT_EQ(h.final().to_hex(), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(h.final().to_hex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hasher("abc", -1).final().to_hex(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

}  // namespace
