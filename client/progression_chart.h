#pragma once
// The five "Progression" charts the main window draws at the bottom of its
// client area while "Show Diagram" is on, without the window: where the
// series, their labels and the scale marks go.

#include "client/common/geometry.h"
#include "client/main_timer.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace client {

inline constexpr int kProgressionHeight = 100;
inline constexpr int kProgressionLabelPitch = 20;
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

struct ProgressionPlacement {
  int label_left = 0;  // the labels, one every 20 pixels from the top
  int top = 0;         // the 100 % line
  int baseline = 0;    // the 0 line
  int series_left = 0; // sample 0; one pixel per sample
  int marks_left = 0;  // "100%", "66%", "33%"
};

// The charts sit above the two text lines at the bottom of a client area
// of `width` x `height`.
ProgressionPlacement PlaceProgression(int width, int height);

// One series as a polyline.
std::vector<Point> ProgressionPolyline(const std::array<float, kProgressionSamples>& samples, double scale,
                                       const ProgressionPlacement& place);

}  // namespace client
