#include "engine/net/lookup.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/wait.h"

using namespace engine;

namespace {

void wait_done(const detail::lookup_entry& e) {
  ASSERT_TRUE(test_support::wait_until([&] { return e.done.load(std::memory_order_acquire); },
                                       test_support::default_deadline, std::chrono::milliseconds(1)));
}

}  // namespace

TEST(Lookup, DottedAddressResolvesWithoutError) {
  auto e = async_lookup("127.0.0.1", 6969);
  wait_done(*e);
  EXPECT_EQ(e->error, "");
  EXPECT_EQ(e->address, address(127, 0, 0, 1, 6969));
}

TEST(Lookup, FailuresEndDoneWithTheirText) {
  auto bad_quad = async_lookup("10.0.0.256", 80);
  auto bad_name = async_lookup("no-such-host.invalid", 80);
  wait_done(*bad_quad);
  wait_done(*bad_name);
  EXPECT_EQ(bad_quad->error, "Hostname not found: 10.0.0.256");
  EXPECT_EQ(bad_name->error, "Hostname not found: no-such-host.invalid");
  EXPECT_EQ(bad_name->address.port, 80);
}

TEST(Lookup, ServedInQueueOrder) {
  lookup_thread service;
  std::vector<std::shared_ptr<detail::lookup_entry>> entries;
  for (int i = 0; i < 40; ++i)
    entries.push_back(service.add_lookup(i % 3 == 0 ? "no-such-host.invalid" : "127.0.0." + std::to_string(i), 1));
  // Whenever an entry is done, every earlier one is done too.
  for (std::size_t i = entries.size(); i-- > 0;) {
    wait_done(*entries[i]);
    for (std::size_t j = 0; j < i; ++j) EXPECT_TRUE(entries[j]->done.load(std::memory_order_acquire)) << j;
  }
  EXPECT_EQ(entries[1]->address, address(127, 0, 0, 1, 1));
}

TEST(Lookup, DestroyingDropsQueuedRequests) {
  std::vector<std::shared_ptr<detail::lookup_entry>> entries;
  {
    lookup_thread service;
    for (int i = 0; i < 2000; ++i) entries.push_back(service.add_lookup("127.0.0.1", 1));
  }
  // The worker has ended; whatever it had not reached stays undone, and
  // nothing was done out of order.
  bool seen_undone = false;
  for (auto& e : entries) {
    const bool done = e->done.load(std::memory_order_acquire);
    EXPECT_FALSE(seen_undone && done);
    seen_undone = seen_undone || !done;
  }
  EXPECT_EQ(entries.back().use_count(), 1);
}
