#pragma once
// The five "Progression" charts the main window draws at the bottom of its
// client area while "Show Diagram" is on, without the window: where the
// series, their labels and the scale marks go.

#include "client/common/geometry.h"
#include "client/app/main_timer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace client {

inline constexpr int kProgressionHeight = 100;
inline constexpr int kProgressionLabelPitch = 20;
// Free pixels between the charts and what lies above and below them.
inline constexpr int kProgressionGap = 1;
inline constexpr double kDhtChartScale = 3000;
inline constexpr std::array<const wchar_t*, kProgressionChartCount> kProgressionLabels = {
    L"Peers", L"Upload", L"Download", L"DHT Ul", L"DHT Dl"};
inline constexpr std::array<const wchar_t*, 3> kProgressionMarks = {L"100%", L"66%", L"33%"};
// The series' pen colours (COLORREF): peers green, upload teal, download
// white, DHT upload yellow, DHT download grey; light enough for the frame's
// dark base colour.
inline constexpr std::array<std::uint32_t, kProgressionChartCount> kProgressionColors = {
    0x00C800, 0xC8C800, 0xE6E6E6, 0x00C8C8, 0xA0A0A0};

// A sample's height: sample x 100 / scale, truncated, and held within
// 0..100 whatever the scale (an unlimited rate of -1, a 0 scale, NaN).
int ProgressionSampleHeight(float sample, double scale);

// The scales: "MaxConnections", "MaxUploadRate", "MaxDownloadRate", then
// 3000 for both DHT series.
std::array<double, kProgressionChartCount> ProgressionScales(int max_connections, int max_upload_rate,
                                                             int max_download_rate);

// The scale a series is drawn to: its setting's scale, or, where the
// setting sets no limit (-1 unlimited, 0), the highest sample the series
// holds, so the highest point seen reaches the 100 % line (1 while
// every sample is 0).
double ProgressionDrawScale(double scale, const std::array<float, kProgressionSamples>& samples);

struct ProgressionPlacement {
  int label_left = 0;  // the labels, one every 20 pixels from the top
  int top = 0;         // the 100 % line
  int baseline = 0;    // the 0 line
  int series_left = 0; // sample 0; one pixel per sample
  int marks_left = 0;  // "100%", "66%", "33%", each just below its line
};

// The charts sit above the two text lines at the bottom of a client area
// of `width` x `height`; nothing of them (labels and marks included)
// reaches above `top` or below `baseline`.
ProgressionPlacement PlaceProgression(int width, int height);

// One series as a polyline.
std::vector<Point> ProgressionPolyline(const std::array<float, kProgressionSamples>& samples, double scale,
                                       const ProgressionPlacement& place);

}  // namespace client
