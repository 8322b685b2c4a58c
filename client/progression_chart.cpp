#include "client/progression_chart.h"

#include "client/rows_layout.h"

namespace client {

std::array<double, kProgressionChartCount> ProgressionScales(int max_connections, int max_upload_rate,
                                                             int max_download_rate) {
  return {static_cast<double>(max_connections), static_cast<double>(max_upload_rate),
          static_cast<double>(max_download_rate), kDhtProgressionScale, kDhtProgressionScale};
}

ProgressionChartLayout LayOutProgressionCharts(const ProgressionCharts& charts,
                                               const std::array<double, kProgressionChartCount>& scales, int width,
                                               int height) {
  static constexpr const wchar_t* kLabels[kProgressionChartCount] = {L"Peers", L"Upload", L"Download", L"DHT Ul",
                                                                     L"DHT Dl"};
  static constexpr const wchar_t* kMarks[3] = {L"100%", L"66%", L"33%"};
  static constexpr int kMarkHeights[3] = {100, 66, 33};
  ProgressionChartLayout layout;
  // Just above the status line.
  layout.baseline = StatusLine(width, height).top - 6;
  layout.left = 8 + kProgressionLabelWidth;
  const int top = layout.baseline - kProgressionScale;
  for (int i = 0; i < kProgressionChartCount; ++i)
    layout.labels[i] = {kLabels[i],
                        Rect::FromSize(8, top + i * kProgressionLabelPitch, kProgressionLabelWidth, kTextLineHeight),
                        TextAlign::Left};
  const int right = layout.left + kProgressionSamples + 4;
  for (int i = 0; i < 3; ++i) {
    const int y = layout.baseline - kMarkHeights[i];
    layout.marks[i] = {kMarks[i], Rect::FromSize(right, y - kTextLineHeight / 2, 40, kTextLineHeight),
                       TextAlign::Left};
  }
  for (int c = 0; c < kProgressionChartCount; ++c) {
    std::vector<Point>& line = layout.lines[c];
    line.reserve(kProgressionSamples);
    for (int i = 0; i < kProgressionSamples; ++i)
      line.push_back({layout.left + i, layout.baseline - ProgressionHeight(charts[c][i], scales[c])});
  }
  return layout;
}

}  // namespace client
