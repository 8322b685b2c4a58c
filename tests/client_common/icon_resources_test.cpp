#include "client/common/icon_resources.h"

#include <gtest/gtest.h>

using namespace client;

TEST(IconResources, EachNumberNamesOneZeroTerminatedDrawing) {
  for (int id : {kApplicationIcon, kTrayIcon, kPeerInfoIcon}) {
    const auto svg = IconSvg(id);
    ASSERT_FALSE(svg.empty()) << id;
    EXPECT_EQ(svg.substr(0, 4), "<svg") << id;
    EXPECT_EQ(svg.data()[svg.size()], '\0') << id;
  }
  EXPECT_NE(IconSvg(kApplicationIcon), IconSvg(kTrayIcon));
  EXPECT_TRUE(IconSvg(129).empty());
}
