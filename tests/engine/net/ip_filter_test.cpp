#include "engine/net/ip_filter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

using engine::address;
using engine::ip_filter;
using engine::ip_range;

namespace {

constexpr std::uint32_t max_ip = 0xFFFFFFFFu;

ip_range range(address first, address last, int flags) { return ip_range{first, last, flags}; }

TEST(IpFilterRules, NewFilterAllowsEverything) {
  const ip_filter f;
  EXPECT_EQ(f.access(address(0, 0)), 0);
  EXPECT_EQ(f.access(address(max_ip, 6881)), 0);
  EXPECT_EQ(f.export_filter(), std::vector<ip_range>{range(address(0, 0), address(max_ip, 0), 0)});
}

TEST(IpFilterRules, BlockedSpanSplitsAndMergesWithNeighbour) {
  ip_filter f;
  f.add_rule(address(10, 0, 0, 0, 0), address(10, 255, 255, 255, 0), 1);
  EXPECT_EQ(f.export_filter(), (std::vector<ip_range>{
                                   range(address(0, 0), address(9, 255, 255, 255, 0), 0),
                                   range(address(10, 0, 0, 0, 0), address(10, 255, 255, 255, 0), 1),
                                   range(address(11, 0, 0, 0, 0), address(max_ip, 0), 0),
                               }));
  f.add_rule(address(11, 0, 0, 0, 0), address(11, 0, 0, 255, 0), 1);
  EXPECT_EQ(f.export_filter(), (std::vector<ip_range>{
                                   range(address(0, 0), address(9, 255, 255, 255, 0), 0),
                                   range(address(10, 0, 0, 0, 0), address(11, 0, 0, 255, 0), 1),
                                   range(address(11, 0, 1, 0, 0), address(max_ip, 0), 0),
                               }));
  // The same from below: a span ending right before a blocked range joins it.
  f.add_rule(address(9, 255, 255, 0, 0), address(9, 255, 255, 255, 0), 1);
  EXPECT_EQ(f.export_filter()[1], range(address(9, 255, 255, 0, 0), address(11, 0, 0, 255, 0), 1));
  EXPECT_EQ(f.export_filter().size(), 3u);
  // Reopening the middle of it splits it again.
  f.add_rule(address(10, 1, 0, 0, 0), address(10, 1, 0, 0, 0), 0);
  EXPECT_EQ(f.export_filter().size(), 5u);
  EXPECT_EQ(f.access(address(10, 1, 0, 0, 0)), 0);
  EXPECT_EQ(f.access(address(10, 0, 255, 255, 0)), 1);
  EXPECT_EQ(f.access(address(10, 1, 0, 1, 0)), 1);
}

TEST(IpFilterRules, WholeSpaceRuleResetsToOneRange) {
  ip_filter f;
  f.add_rule(address(1, 2, 3, 4, 0), address(5, 6, 7, 8, 0), 1);
  f.add_rule(address(200, 0, 0, 0, 0), address(max_ip, 0), 3);
  f.add_rule(address(0, 0), address(0, 0), 2);
  f.add_rule(address(0, 0), address(max_ip, 0), 0);
  EXPECT_EQ(f.export_filter(), std::vector<ip_range>{range(address(0, 0), address(max_ip, 0), 0)});
  f.add_rule(address(0, 0), address(max_ip, 0), 1);
  EXPECT_EQ(f.export_filter(), std::vector<ip_range>{range(address(0, 0), address(max_ip, 0), 1)});
}

TEST(IpFilterRules, BanningOneAddress) {
  ip_filter f;
  const address peer(192, 168, 7, 9, 6881);
  f.add_rule(peer, peer, 1);
  EXPECT_EQ(f.export_filter().size(), 3u);
  EXPECT_EQ(f.access(peer), 1);
  EXPECT_EQ(f.access(address(192, 168, 7, 9, 0)), 1);  // ports play no part
  EXPECT_EQ(f.access(address(192, 168, 7, 8, 6881)), 0);
  EXPECT_EQ(f.access(address(192, 168, 7, 10, 6881)), 0);
  // Banning it again, or its already allowed neighbour, changes nothing.
  const auto before = f.export_filter();
  f.add_rule(peer, peer, 1);
  f.add_rule(address(192, 168, 7, 10, 0), address(192, 168, 7, 200, 0), 0);
  EXPECT_EQ(f.export_filter(), before);
}

TEST(IpFilterRules, EndsOfTheAddressSpace) {
  ip_filter f;
  f.add_rule(address(max_ip, 0), address(max_ip, 0), 1);
  EXPECT_EQ(f.export_filter(), (std::vector<ip_range>{
                                   range(address(0, 0), address(max_ip - 1, 0), 0),
                                   range(address(max_ip, 0), address(max_ip, 0), 1),
                               }));
  EXPECT_EQ(f.access(address(0, 0)), 0);  // nothing wrapped round to 0.0.0.0
  f.add_rule(address(0, 0), address(0, 0), 1);
  EXPECT_EQ(f.access(address(0, 0)), 1);
  EXPECT_EQ(f.access(address(1, 0)), 0);
  EXPECT_EQ(f.access(address(max_ip, 0)), 1);
  EXPECT_EQ(f.export_filter().size(), 3u);
  f.add_rule(address(1, 0), address(max_ip - 1, 0), 1);
  EXPECT_EQ(f.export_filter(), std::vector<ip_range>{range(address(0, 0), address(max_ip, 0), 1)});
}

TEST(IpFilterRules, ReversedRuleChangesNothing) {
  ip_filter f;
  f.add_rule(address(10, 0, 0, 0, 0), address(10, 0, 0, 255, 0), 1);
  const auto before = f.export_filter();
  f.add_rule(address(10, 0, 0, 200, 0), address(10, 0, 0, 100, 0), 0);
  f.add_rule(address(max_ip, 0), address(0, 0), 2);
  EXPECT_EQ(f.export_filter(), before);
}

// Rules whose ends lie in the lowest or highest 64 addresses, checked against
// a painted map. Every address between those two strips is covered by the
// same rules, so one cell stands for all of them.
class IpFilterModel {
 public:
  static constexpr std::uint32_t strip = 64;
  static constexpr std::size_t cells = 2 * strip + 1;

  static std::size_t cell_of(std::uint32_t ip) {
    if (ip < strip) return ip;
    if (ip > max_ip - strip) return cells - 1 - (max_ip - ip);
    return strip;
  }
  // The lowest address a cell stands for.
  static std::uint32_t start_of(std::size_t cell) {
    if (cell < strip) return static_cast<std::uint32_t>(cell);
    if (cell == strip) return strip;
    return max_ip - static_cast<std::uint32_t>(cells - 1 - cell);
  }

  void paint(std::uint32_t first, std::uint32_t last, int flags) {
    for (std::size_t c = cell_of(first); c <= cell_of(last); ++c) flags_[c] = flags;
  }
  int at(std::uint32_t ip) const { return flags_[cell_of(ip)]; }

  std::vector<ip_range> ranges() const {
    std::vector<ip_range> out;
    for (std::size_t c = 0; c < cells; ++c) {
      const std::uint32_t last = c + 1 < cells ? start_of(c + 1) - 1 : max_ip;
      if (!out.empty() && out.back().flags == flags_[c])
        out.back().last = address(last, 0);
      else
        out.push_back(ip_range{address(start_of(c), 0), address(last, 0), flags_[c]});
    }
    return out;
  }

 private:
  std::vector<int> flags_ = std::vector<int>(cells, 0);
};

TEST(IpFilterRandomRules, MatchPaintedMap) {
  std::mt19937 rng(1234);
  auto pick = [&] {
    const std::uint32_t off = rng() % IpFilterModel::strip;
    return rng() % 2 ? off : max_ip - off;
  };
  for (int trial = 0; trial < 200; ++trial) {
    ip_filter f;
    IpFilterModel model;
    const int rules = 1 + static_cast<int>(rng() % 40);
    for (int r = 0; r < rules; ++r) {
      std::uint32_t a = pick(), b = rng() % 4 == 0 ? a : pick();
      if (a > b) std::swap(a, b);
      const int flags = static_cast<int>(rng() % 3);
      f.add_rule(address(a, 0), address(b, 0), flags);
      model.paint(a, b, flags);

      const auto got = f.export_filter();
      ASSERT_EQ(got, model.ranges()) << "trial " << trial << " rule " << r;
      ASSERT_EQ(got.front().first, address(0, 0));
      ASSERT_EQ(got.back().last, address(max_ip, 0));
      for (std::size_t i = 1; i < got.size(); ++i) {
        ASSERT_EQ(got[i].first.ip, got[i - 1].last.ip + 1);
        ASSERT_NE(got[i].flags, got[i - 1].flags);
      }
    }
    for (std::uint32_t off = 0; off < IpFilterModel::strip; ++off) {
      ASSERT_EQ(f.access(address(off, 0)), model.at(off));
      ASSERT_EQ(f.access(address(max_ip - off, 0)), model.at(max_ip - off));
    }
    ASSERT_EQ(f.access(address(rng() % (max_ip - 2 * IpFilterModel::strip) + IpFilterModel::strip, 0)),
              model.at(IpFilterModel::strip));
  }
}

}  // namespace
