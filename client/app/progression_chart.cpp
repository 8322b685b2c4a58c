#include "client/app/progression_chart.h"

#include "client/common/frame_model.h"
#include "client/base/truncate.h"

#include <algorithm>
#include <cmath>

namespace client {

int ProgressionSampleHeight(float sample, double scale) {
  const int height = Truncate<int>(static_cast<double>(sample) * 100.0 / scale);
  return std::clamp(height, 0, kProgressionHeight);
}

std::array<double, kProgressionChartCount> ProgressionScales(int max_connections, int max_upload_rate,
                                                             int max_download_rate) {
  return {static_cast<double>(max_connections), static_cast<double>(max_upload_rate),
          static_cast<double>(max_download_rate), kDhtChartScale, kDhtChartScale};
}

double ProgressionDrawScale(double scale, const std::array<float, kProgressionSamples>& samples) {
  if (scale > 0) return scale;
  double seen = 0;
  for (float sample : samples)
    if (sample > seen) seen = sample;  // NaN never is
  return std::isfinite(seen) && seen > 0 ? seen : 1;
}

ProgressionPlacement PlaceProgression(int /*width*/, int height) {
  ProgressionPlacement p;
  p.label_left = 8;
  p.baseline = height - 2 * kTextLineHeight - kProgressionGap;
  p.top = p.baseline - kProgressionHeight;
  p.series_left = 72;
  p.marks_left = p.series_left + kProgressionSamples + 4;
  return p;
}

std::vector<Point> ProgressionPolyline(const std::array<float, kProgressionSamples>& samples, double scale,
                                       const ProgressionPlacement& place) {
  std::vector<Point> points;
  points.reserve(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i)
    points.push_back({place.series_left + static_cast<int>(i),
                      place.baseline - ProgressionSampleHeight(samples[i], scale)});
  return points;
}

}  // namespace client
