#include "engine/formats/random.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "engine/wire/fingerprint.h"

using namespace engine;

namespace {

std::vector<std::uint32_t> draws(int n) {
  std::vector<std::uint32_t> v;
  for (int i = 0; i < n; ++i) v.push_back(random_u32());
  return v;
}

}  // namespace

TEST(EngineRandom, ASeedRepeatsTheSameDrawsOnEveryThread) {
  seed_random(7);
  const auto first = draws(8);
  seed_random(7);
  EXPECT_EQ(draws(8), first);
  std::vector<std::uint32_t> other;
  std::thread([&] { other = draws(8); }).join();
  EXPECT_EQ(other, first);
  seed_random(8);
  EXPECT_NE(draws(8), first);

  std::vector<int> a{1, 2, 3, 4, 5, 6, 7, 8}, b = a;
  seed_random(9);
  std::shuffle(a.begin(), a.end(), random_source());
  seed_random(9);
  std::shuffle(b.begin(), b.end(), random_source());
  EXPECT_EQ(a, b);
}

TEST(EngineRandom, AForkedChildDrawsItsOwnStream) {
  random_u32();  // the parent's stream is under way before the fork
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const auto v = draws(4);
    ::_exit(::write(out[1], v.data(), sizeof(std::uint32_t) * v.size()) == ssize_t(sizeof(std::uint32_t) * v.size())
                ? 0
                : 1);
  }
  ::close(out[1]);
  std::vector<std::uint32_t> theirs(4);
  ASSERT_EQ(::read(out[0], theirs.data(), sizeof(std::uint32_t) * 4), ssize_t(sizeof(std::uint32_t) * 4));
  ::close(out[0]);
  ::waitpid(child, nullptr, 0);
  EXPECT_NE(theirs, draws(4));
}

TEST(EngineRandom, PeerIdFillStaysInItsRangeAndAlphabet) {
  peer_id id = peer_id::from_bytes("-QF1300-aaaaaaaaaaaa");
  fill_peer_id_randomly(id, 8, 40);  // clipped to the id's 20 bytes
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()";
  EXPECT_EQ(std::string(id.begin(), id.begin() + 8), "-QF1300-");
  for (std::size_t i = 8; i < peer_id::size; ++i) EXPECT_NE(alphabet.find(char(id[i])), std::string::npos);
}
