#pragma once
// The programs' icons by their resource numbers: SVG drawings from
// assets/icons/ compiled into the binary.

#include <string_view>

namespace client {

inline constexpr int kApplicationIcon = 128;  // windows and dialogs
inline constexpr int kTrayIcon = 130;         // the tray
inline constexpr int kPeerInfoIcon = 139;     // the peers dialog

// The SVG text of icon `resource` (zero-terminated just past its end), or
// an empty view for a number that names no icon.
std::string_view IconSvg(int resource);

}  // namespace client
