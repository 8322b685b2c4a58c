#include "client/common/paths.h"
#include "client/common/tick.h"

#include <gtest/gtest.h>

using namespace client;

TEST(Paths, EitherSeparatorSplitsAndFoldersKeepTheirSeparator) {
  EXPECT_EQ(WithTrailingSeparator("/home/u/schemes"), "/home/u/schemes/");
  EXPECT_EQ(WithTrailingSeparator("/home/u/schemes/"), "/home/u/schemes/");
  EXPECT_EQ(WithTrailingSeparator("C:\\schemes\\"), "C:\\schemes\\");
  EXPECT_EQ(WithTrailingSeparator(""), "");
  EXPECT_EQ(FolderOf("/data/a.torrent"), "/data/");
  EXPECT_EQ(FolderOf("D:\\x\\y.torrent"), "D:\\x\\");
  EXPECT_EQ(FolderOf("Color Scheme"), "Color Scheme");
  EXPECT_EQ(HomeFolder().back(), '/');
}

TEST(Tick, AFakeClockDrivesTickMsAndWraps) {
  {
    FakeTick clock(0xFFFFFFF0u);
    EXPECT_EQ(TickMs(), 0xFFFFFFF0u);
    clock.Advance(0x20);
    EXPECT_EQ(TickMs(), 0x10u);
  }
  // The real clock is back once the fake is gone.
  const auto a = TickMs(), b = TickMs();
  EXPECT_LT(b - a, 1000u);
}
