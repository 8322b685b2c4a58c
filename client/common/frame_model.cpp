#include "client/common/frame_model.h"

#include "version_text.h"

#include <algorithm>

namespace client {

std::wstring FrameInfoText() {
  const std::string_view version = QF_FILE_VERSION_TEXT;  // ASCII
  std::wstring text = L"Version ";
  text.append(version.begin(), version.end());
  text += L"\r\n";
  text += kMakerWebAddress;
  return text;
}

Rect NoticeLine(int client_width, int client_height) {
  return {8, client_height - kTextLineHeight, client_width, client_height};
}

Rect StatusLine(int client_width, int client_height) {
  return NoticeLine(client_width, client_height).Offset(0, -kTextLineHeight);
}

namespace {
std::wstring OneLine(std::wstring_view text) {
  std::wstring out(text);
  std::replace_if(out.begin(), out.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
  return out;
}
}  // namespace

std::vector<TextPlacement> StatusLinePlacements(std::wstring_view status, const Rect& line, int client_width) {
  const std::wstring text = OneLine(status);
  const auto mark = text.find(kStatusSplitMark);
  if (client_width < kStatusSplitMinWidth || mark == std::wstring::npos) return {{text, line, TextAlign::Left}};
  Rect left = line, right = line;
  left.right = line.left + kStatusLeftColumnEnd;
  right.right = line.left + kStatusRightColumnEnd;
  return {{text.substr(0, mark), left, TextAlign::Right}, {text.substr(mark), right, TextAlign::Right}};
}

Rect NoticeBox(const Rect& measured_text, const Rect& notice_line) {
  Rect box{measured_text.left - 3, measured_text.top - 1, measured_text.right + 3, measured_text.bottom + 1};
  if (box.bottom > notice_line.bottom) box = box.Offset(0, notice_line.bottom - box.bottom);
  return box;
}

std::vector<std::wstring> SplitLines(std::wstring_view text) {
  std::vector<std::wstring> lines;
  for (;;) {
    const auto end = text.find(L'\n');
    std::wstring_view line = text.substr(0, end);
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::wstring_view::npos) return lines;
    text.remove_prefix(end + 1);
  }
}

bool ShouldSaveWindowPosition(const Rect& window_on_screen) {
  return window_on_screen.left >= 0 && window_on_screen.top >= 0;
}

bool SaveWindowPosition(platform::profile& profile, const Rect& r) {
  if (!ShouldSaveWindowPosition(r)) return false;
  bool ok = profile.WriteProfileInt(kConfigurationSection, "Pos Left", r.left);
  ok = profile.WriteProfileInt(kConfigurationSection, "Pos Top", r.top) && ok;
  ok = profile.WriteProfileInt(kConfigurationSection, "Pos Right", r.right) && ok;
  ok = profile.WriteProfileInt(kConfigurationSection, "Pos Bottom", r.bottom) && ok;
  return ok;
}

void FrameModel::ResizeWindow(int width, int height) {
  layout = FrameLayout::ForWindowSize(width, height);
  thumb_top = layout.ClampThumbTop(thumb_top);
}

void FrameModel::SetActive(bool is_active) {
  active = is_active;
  if (!active) mouse_over_info = false;
}

}  // namespace client
