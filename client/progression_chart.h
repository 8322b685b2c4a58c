#pragma once
// The progression charts at the bottom of the main window's client area:
// five series of 200 samples (peers, upload, download, DHT upload, DHT
// download), each a line one pixel per sample over a 100 px scale, with
// the scale marks "100%", "66%", "33%" and the series' labels 20 px apart.

#include "client/common/frame_model.h"
#include "client/common/geometry.h"
#include "client/main_timer.h"

#include <array>
#include <string>
#include <vector>

namespace client {

inline constexpr int kProgressionScale = 100;
inline constexpr int kProgressionLabelPitch = 20;
inline constexpr int kProgressionLabelWidth = 64;
// The full scale of both DHT series (bytes/s).
inline constexpr double kDhtProgressionScale = 3000;
// What the charts take of the client area's height, above the status and
// notice lines.
inline constexpr int kProgressionAreaHeight = kProgressionScale + 12;

struct ProgressionChartLayout {
  int baseline = 0;  // value 0
  int left = 0;      // sample 0
  std::array<TextPlacement, 3> marks;
  std::array<TextPlacement, kProgressionChartCount> labels;
  std::array<std::vector<Point>, kProgressionChartCount> lines;
};

// The scales of the series in chart order: "MaxConnections",
// "MaxUploadRate", "MaxDownloadRate" and the DHT's 3000 twice.
std::array<double, kProgressionChartCount> ProgressionScales(int max_connections, int max_upload_rate,
                                                             int max_download_rate);

// The charts in a client area of `width` x `height` (client coordinates).
ProgressionChartLayout LayOutProgressionCharts(const ProgressionCharts& charts,
                                               const std::array<double, kProgressionChartCount>& scales, int width,
                                               int height);

}  // namespace client
