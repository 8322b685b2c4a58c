#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using platform::elapsed_ms;
using platform::is_future;

// The sleep is what is measured; how much longer than asked it takes is up
// to the scheduler, so the upper bound is the time a second clock saw pass.
TEST(Clock, AdvancesInMilliseconds) {
  const auto before = std::chrono::steady_clock::now();
  const auto a = platform::timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto d = elapsed_ms(platform::timeGetTime(), a);
  const auto seen = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
  EXPECT_GE(d, 19u);
  EXPECT_LE(d, std::uint32_t(seen.count()) + 1);
}

TEST(Clock, DifferencesSurviveTheWrap) {
  EXPECT_EQ(elapsed_ms(5u, 0xFFFFFFFBu), 10u);
  EXPECT_EQ(elapsed_ms(1000u, 400u), 600u);
  EXPECT_FALSE(is_future(5u, 0xFFFFFFFBu));
  EXPECT_TRUE(is_future(0xFFFFFFFBu, 5u));
  EXPECT_FALSE(is_future(100u, 100u));
}
