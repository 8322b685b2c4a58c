#pragma once
// Reads a rectangle of the X server's root window (kept apart from wx and
// gtest: Xlib's macros clash with both).

#include <cstdint>
#include <vector>

namespace gui_test {

// RGB bytes, row by row; false when the server could not be read.
bool CaptureRootRect(int x, int y, int width, int height, std::vector<std::uint8_t>& rgb);

}  // namespace gui_test
