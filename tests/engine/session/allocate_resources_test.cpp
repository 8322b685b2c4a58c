#include "engine/session/allocate_resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using engine::allocate_resources;
using engine::resource_request;

namespace {

constexpr std::int32_t inf = resource_request::inf;

void allocate(std::int32_t amount, std::vector<resource_request>& v) {
  allocate_resources(amount, v, [](resource_request& r) -> resource_request& { return r; });
}

}  // namespace

TEST(BandwidthSaturation, AddAndGive) {
  EXPECT_EQ(engine::saturated_add(inf, 1), inf);
  EXPECT_EQ(engine::saturated_add(inf - 5, 4), inf - 1);
  EXPECT_EQ(engine::saturated_add(2, 3), 5);
  resource_request r(0, 0, 100, 90);
  EXPECT_EQ(engine::give(r, 50), 10);
  EXPECT_EQ(r.given, 100);
  EXPECT_EQ(engine::give(r, 50), 0);
  resource_request over(0, 50, 10, 50);  // min above max
  EXPECT_EQ(engine::give(over, 5), 0);
  EXPECT_EQ(over.given, 50);
}

TEST(BandwidthSaturation, MinusOneIsTheOnlyUnlimitedSetting) {
  EXPECT_EQ(engine::limit_from_setting(-1), inf);
  EXPECT_EQ(engine::limit_from_setting(0), 0);
  EXPECT_EQ(engine::limit_from_setting(-2), -2);
  EXPECT_EQ(engine::limit_from_setting(inf - 1), inf - 1);
  EXPECT_EQ(engine::limit_to_setting(inf), -1);
  EXPECT_EQ(engine::limit_to_setting(inf - 1), inf - 1);
  EXPECT_EQ(engine::limit_to_setting(0), 0);
  EXPECT_EQ(engine::limit_to_setting(engine::limit_from_setting(-1)), -1);
}

TEST(BandwidthAllocation, UnlimitedGivesEveryoneTheirMax) {
  std::vector<resource_request> v{{5, 10, 100, 0}, {1000, 0, inf, 0}, {0, 3, 7, 0}};
  allocate(inf, v);
  EXPECT_EQ(v[0].given, 100);
  EXPECT_EQ(v[1].given, inf);
  EXPECT_EQ(v[2].given, 7);
}

TEST(BandwidthAllocation, BelowSumOfMinimumsStillGivesMinimums) {
  std::vector<resource_request> v{{500, 100, inf, 0}, {0, 100, inf, 0}, {7, 100, inf, 0}};
  allocate(150, v);
  for (const auto& r : v) EXPECT_EQ(r.given, 100);
}

TEST(BandwidthAllocation, ProportionalWithSecondRoundForRemainder) {
  std::vector<resource_request> v{{0, 0, inf, 0}, {99, 0, inf, 0}};
  allocate(1000, v);
  EXPECT_EQ(v[0].given, 9);
  EXPECT_EQ(v[1].given, 991);
}

TEST(BandwidthAllocation, OverflowingMaximaCountAsUnlimited) {
  std::vector<resource_request> v{{10, 0, inf - 1, 0}, {10, 0, inf - 1, 0}};
  allocate(1000, v);
  EXPECT_EQ(v[0].given + v[1].given, 1000);
  EXPECT_EQ(v[0].given, 500);
}

TEST(BandwidthAllocation, ZeroAmountLeavesMinimums) {
  std::vector<resource_request> v{{10, 4, 100, 77}, {10, 0, 100, 77}};
  allocate(0, v);
  EXPECT_EQ(v[0].given, 4);
  EXPECT_EQ(v[1].given, 0);
}

TEST(BandwidthAllocation, CappedConsumersPassTheirShareOn) {
  std::vector<resource_request> v{{1000, 0, 50, 0}, {0, 0, inf, 0}};
  allocate(1000, v);
  EXPECT_EQ(v[0].given, 50);
  EXPECT_EQ(v[1].given, 950);
}

// A consumer whose minimum lies above its maximum (a peer joining after a low
// limit was set) keeps its minimum and must not stall the rounds.
TEST(BandwidthAllocation, MinimumAboveMaximumTerminates) {
  std::vector<resource_request> v{{100, 50, 10, 0}, {100, 0, 100, 0}, {0, 0, 20, 0}};
  allocate(1000, v);
  EXPECT_EQ(v[0].given, 50);
  EXPECT_EQ(v[1].given, 100);
  EXPECT_EQ(v[2].given, 20);

  std::vector<resource_request> only{{100, 50, 10, 0}};
  allocate(1000, only);
  EXPECT_EQ(only[0].given, 50);
}

TEST(BandwidthAllocation, RandomisedSharesStayWithinBoundsAndAddUp) {
  std::mt19937 rng(12345);
  auto pick = [&](std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(rng);
  };
  for (int round = 0; round < 3000; ++round) {
    const int n = pick(0, 40);
    std::vector<resource_request> v;
    std::int64_t sum_min = 0, sum_max = 0;
    for (int i = 0; i < n; ++i) {
      resource_request r;
      r.used = pick(0, 3) == 0 ? 0 : pick(0, pick(0, 1) ? 1000 : inf);
      r.min = pick(0, 2) == 0 ? 0 : pick(0, 5000);
      const int kind = pick(0, 4);
      r.max = kind == 0 ? inf : kind == 1 ? pick(0, 100) : pick(0, 1 << 20);
      r.given = pick(-5, 5);
      sum_min += r.min;
      sum_max += std::max({r.max, r.min, 0});
      v.push_back(r);
    }
    const int akind = pick(0, 5);
    const std::int32_t amount = akind == 0 ? 0 : akind == 1 ? inf : akind == 2 ? pick(1, 50) : pick(0, 1 << 22);
    allocate(amount, v);
    std::int64_t total = 0;
    for (const auto& r : v) {
      ASSERT_GE(r.given, r.min);
      if (r.min <= r.max) ASSERT_LE(r.given, r.max);
      else ASSERT_EQ(r.given, r.min);
      total += r.given;
    }
    if (amount != inf && amount > 0 && sum_max > 0) {
      const std::int64_t capped = std::min<std::int64_t>(std::max<std::int64_t>(amount, sum_min), std::min<std::int64_t>(sum_max, inf));
      ASSERT_EQ(total, std::max(capped, sum_min));
    }
  }
}
