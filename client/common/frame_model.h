#pragma once
// What the self-drawn frame shows and remembers, without any window: its
// texts, colours, flags and layout, where the texts of its client area go,
// and the rule for saving the window's position.

#include "client/common/color_scheme.h"
#include "client/common/frame_layout.h"
#include "platform/profile.h"

#include <string>
#include <string_view>
#include <vector>

namespace client {

// The maker's web address shown in the info box.
inline constexpr std::wstring_view kMakerWebAddress = L"quillfern.example.org";
// The maker's home page, opened by a click on the info box.
inline constexpr std::string_view kMakerHomePage = "http://quillfern.example.org/";
inline constexpr std::wstring_view kHomePageFailed = L"failed to open homepage";
inline constexpr std::wstring_view kInitialTitle = L"Quillfern";
inline constexpr std::wstring_view kInitialStatusLine = L"Velmorathine";
inline constexpr std::wstring_view kGreeting = L"Welcome to Quillfern!";
// The profile value naming the colour-scheme folder (section "Configuration").
inline constexpr std::string_view kColorSchemePathValue = "ColorSchemePath";

// "Version " + the program's version text + "\r\n" + the maker's address.
std::wstring FrameInfoText();

enum class TextAlign { Left, Center, Right };

// A single line of text placed in a rectangle (client coordinates); text
// outside the rectangle is clipped.
struct TextPlacement {
  std::wstring text;
  Rect rect;
  TextAlign align = TextAlign::Left;
  bool operator==(const TextPlacement&) const = default;
};

// The status line splits in two columns only in a client area at least
// this wide.
inline constexpr int kStatusSplitMinWidth = 425;
inline constexpr std::wstring_view kStatusSplitMark = L"Pee";
// Right ends of the two columns, from the line's left edge.
inline constexpr int kStatusLeftColumnEnd = 211;
inline constexpr int kStatusRightColumnEnd = 377;
inline constexpr int kTextLineHeight = 15;

// The bottom line of the client area (the notice), from 8 px in at the
// left to the right edge, 15 px high; and the status line above it.
Rect NoticeLine(int client_width, int client_height);
Rect StatusLine(int client_width, int client_height);

// The status text in its line: in a client area narrower than 425 px, or
// without "Pee", the whole text left-aligned; else the part before the
// first "Pee" right-aligned to end 211 px right of the line's left edge
// and the rest right-aligned to end 377 px right of it. Line breaks in
// the text become blanks: the line holds one line.
std::vector<TextPlacement> StatusLinePlacements(std::wstring_view status, const Rect& line, int client_width);

// The round box around the measured notice text (" " + text as it lies
// in the notice line), kept within the notice line's bottom.
Rect NoticeBox(const Rect& measured_text, const Rect& notice_line);
inline constexpr int kNoticeBoxCorner = 14;

// The lines of a text broken at "\r\n" or "\n".
std::vector<std::wstring> SplitLines(std::wstring_view text);

// The window's position is kept only while its left and top edges lie on
// the screen (both 0 or more).
bool ShouldSaveWindowPosition(const Rect& window_on_screen);
// Writes "Pos Left", "Pos Top", "Pos Right", "Pos Bottom" to "Configuration"
// when the rule allows it; true when it wrote them.
bool SaveWindowPosition(platform::profile& profile, const Rect& window_on_screen);

// The frame's state. The main window sets the texts and flags and then has
// the frame repainted.
struct FrameModel {
  std::wstring status_line{kInitialStatusLine};
  std::wstring notice_text{kGreeting};
  std::wstring info_text = FrameInfoText();
  std::string color_scheme_folder;  // with a trailing separator, or empty
  std::wstring title{kInitialTitle};
  MainColorBlock colors = MainColorBlock::Defaults();

  bool mouse_over_info = false;
  bool active = false;
  int thumb_top = kFrameTop;  // drawn clamped to the track
  bool thumb_hot = false;
  bool thumb_pressed = false;
  bool close_hot = false;
  bool minimise_hot = false;

  FrameLayout layout = FrameLayout::ForClientSize(kInitialClientWidth, kInitialClientHeight);

  // The last client size and the info box (client coordinates).
  int Width() const { return layout.client_width; }
  int Height() const { return layout.client_height; }
  const Rect& InfoBox() const { return layout.info_box; }
  Rect Thumb() const { return layout.ThumbAt(thumb_top); }

  // A new window size: the layout follows and the thumb stays on its track.
  void ResizeWindow(int width, int height);
  // The window became active or inactive; an inactive window shows the
  // info text as not hovered.
  void SetActive(bool is_active);
};

}  // namespace client
