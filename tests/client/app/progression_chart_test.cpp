// The progression charts' scale where a setting leaves the rate unlimited.

#include "client/app/progression_chart.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ProgressionChart, AnUnlimitedRateIsDrawnToTheHighestSampleSeen) {
  std::array<float, client::kProgressionSamples> samples{};
  // Nothing seen yet: the line lies on the baseline.
  EXPECT_EQ(client::ProgressionDrawScale(-1, samples), 1);
  samples[10] = 20000;
  samples[150] = 80000;
  samples[199] = 40000;
  // "MaxDownloadRate" -1 and 0 set no limit: 80000 B/s is the top.
  for (double unlimited : {-1.0, 0.0}) {
    const double scale = client::ProgressionDrawScale(unlimited, samples);
    EXPECT_EQ(scale, 80000);
    const auto place = client::PlaceProgression(400, 300);
    const auto line = client::ProgressionPolyline(samples, scale, place);
    EXPECT_EQ(line[150].y, place.top);
    EXPECT_EQ(line[10].y, place.baseline - 25);
    EXPECT_EQ(line[199].y, place.baseline - 50);
    EXPECT_EQ(line[0].y, place.baseline);
  }
  // A set limit stays the scale, whatever was seen.
  EXPECT_EQ(client::ProgressionDrawScale(10240, samples), 10240);
  // Samples that are no number do not make the scale.
  samples.fill(std::numeric_limits<float>::quiet_NaN());
  samples[3] = 500;
  EXPECT_EQ(client::ProgressionDrawScale(-1, samples), 500);
}

}  // namespace
