#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using platform::elapsed_ms;
using platform::is_future;

TEST(Clock, AdvancesInMilliseconds) {
  const auto a = platform::timeGetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto d = elapsed_ms(platform::timeGetTime(), a);
  EXPECT_GE(d, 19u);
  EXPECT_LT(d, 5000u);
}

TEST(Clock, DifferencesSurviveTheWrap) {
  EXPECT_EQ(elapsed_ms(5u, 0xFFFFFFFBu), 10u);
  EXPECT_EQ(elapsed_ms(1000u, 400u), 600u);
  EXPECT_FALSE(is_future(5u, 0xFFFFFFFBu));
  EXPECT_TRUE(is_future(0xFFFFFFFBu, 5u));
  EXPECT_FALSE(is_future(100u, 100u));
}
