#pragma once
// The two colour-scheme records the main window and the charts are painted
// with, their files ("Main Colors.tnts", 88 bytes; "Diagram Colors.tnts",
// 560 bytes) and their copies in the profile. The files are raw
// little-endian records without a header; they are read and written field
// by field so their bytes do not depend on this compiler's struct layout.

#include "platform/profile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace client {

// A colour as the scheme files keep it: red in the low byte, then green,
// then blue; the top byte 0.
using ColorRef = std::uint32_t;

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

constexpr ColorRef ToColorRef(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return ColorRef(r) | ColorRef(g) << 8 | ColorRef(b) << 16;
}
constexpr Rgb FromColorRef(ColorRef c) {
  return {std::uint8_t(c & 0xFF), std::uint8_t(c >> 8 & 0xFF), std::uint8_t(c >> 16 & 0xFF)};
}

// A channel value computed in floating point, truncated toward zero and
// clamped to 0..255; NaN counts as 0.
std::uint8_t ClampChannel(double value);

// Offset and factor of one colour channel: the frame and rim pens step
// from the offset by multiples of the factor.
struct ChannelRamp {
  double offset = 0;
  double factor = 0;
};

struct RampRgb {
  ChannelRamp red, green, blue;
  // The colour made of the three offsets alone.
  ColorRef OffsetColor() const;
  // offset + k * factor per channel, clamped.
  ColorRef At(double k) const;
};

struct MainColorBlock {
  static constexpr std::size_t kSize = 88;
  RampRgb frame;
  ColorRef frame_color = 0;      // the offsets as one colour, kept by the editor
  ColorRef active_button = 0;
  ColorRef inactive_button = 0;
  ColorRef error_button = 0;
  ColorRef error_text = 0;
  ColorRef active_title = 0;
  ColorRef inactive_title = 0;
  ColorRef title_shadow = 0;
  ColorRef info_hover = 0;
  ColorRef info_text = 0;

  static MainColorBlock Defaults();
  std::array<std::uint8_t, kSize> Serialize() const;
  // A whole record from exactly kSize bytes, else none. Offsets and factors
  // are clamped to 0..255 (NaN is 0) and colours keep their three low bytes,
  // so a damaged file paints as the editor shows it.
  static std::optional<MainColorBlock> Parse(std::string_view bytes);
};

struct GaugeColors {
  ColorRef background = 0;
  ColorRef foreground = 0;
  ColorRef text = 0;
};

struct DiagramColorEntry {
  static constexpr std::size_t kSize = 112;
  RampRgb frame;
  ColorRef title_background = 0;
  ColorRef title_text = 0;
  GaugeColors upload, download, time, progress;
  ColorRef main_frame_color = 0;
  std::uint32_t reserved = 0;  // written back as held
};

// The table's entries, one colour set per status a row shows, in the
// order of the torrents' status values (client/torrents/torrent_status.h).
enum StatusColors : int { kPausedColors = 0, kQueuedColors, kDownloadingColors, kSeedingColors, kErrorColors };
constexpr int kStatusCount = 5;

struct DiagramColorTable {
  static constexpr std::size_t kSize = DiagramColorEntry::kSize * kStatusCount;  // 560
  std::array<DiagramColorEntry, kStatusCount> entries;

  DiagramColorEntry& operator[](int status) { return entries[ClampStatus(status)]; }
  const DiagramColorEntry& operator[](int status) const { return entries[ClampStatus(status)]; }
  static int ClampStatus(int status) { return status < 0 ? 0 : status >= kStatusCount ? kStatusCount - 1 : status; }

  // The defaults with `main_frame` as every entry's main frame colour.
  static DiagramColorTable Defaults(ColorRef main_frame);
  std::array<std::uint8_t, kSize> Serialize() const;
  // As MainColorBlock::Parse; the reserved words are kept as they are.
  static std::optional<DiagramColorTable> Parse(std::string_view bytes);
};

// The one table every chart of the process paints with; defaulted (main
// frame colour 0) until the first chart loads it.
DiagramColorTable& GlobalDiagramColors();

// File names inside the scheme folder and the profile values (section
// "Configuration") that hold copies of the records.
inline constexpr std::string_view kMainColorsFile = "Main Colors.tnts";
inline constexpr std::string_view kDiagramColorsFile = "Diagram Colors.tnts";
inline constexpr std::string_view kMainColorsValue = "Main Colors";
inline constexpr std::string_view kDiagramColorsValue = "Diagram Colors";
inline constexpr std::string_view kConfigurationSection = "Configuration";

// The scheme folder both programs use while "ColorSchemePath" names none:
// DataHome() + "Quillfern/Schemes/" (by default
// ~/.local/share/Quillfern/Schemes/).
std::string DefaultSchemeFolder();
// The folder a "ColorSchemePath" value names, with a trailing separator;
// the default scheme folder when the value is empty.
std::string SchemeFolder(std::string_view configured);

// Loads from folder + file name when that file holds exactly the record's
// size, else from the profile's binary value of exactly that size. An empty
// folder loads nothing. `out` changes only when a whole record was read.
bool LoadMainColors(const std::string& folder, const platform::profile& profile, MainColorBlock& out);
bool LoadDiagramColors(const std::string& folder, const platform::profile& profile, DiagramColorTable& out);

// Writes the profile value, then (with a folder) the file, which is
// replaced atomically. False when the file could not be written.
bool SaveMainColors(const std::string& folder, platform::profile& profile, const MainColorBlock& block);
bool SaveDiagramColors(const std::string& folder, platform::profile& profile, const DiagramColorTable& table);

// The frame's eight pens, outermost first: offset + k * factor with
// k = 0, 1, 2, 3, 3, 2, 1, 0.
std::array<ColorRef, 8> FramePenColors(const MainColorBlock& block);

// A chart's six rim pens for one status, blended with the entry's main
// frame colour.
std::array<ColorRef, 6> RimPenColors(const DiagramColorEntry& entry);

}  // namespace client
