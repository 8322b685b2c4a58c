#include "tests/gui_support/x11_capture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace gui_test {

bool CaptureRootRect(int x, int y, int width, int height, std::vector<std::uint8_t>& rgb) {
  if (width <= 0 || height <= 0) return false;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, unsigned(width), unsigned(height),
                            AllPlanes, ZPixmap);
  if (image) {
    rgb.resize(std::size_t(width) * std::size_t(height) * 3);
    std::size_t i = 0;
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col) {
        const unsigned long p = XGetPixel(image, col, row);
        rgb[i++] = std::uint8_t(p >> 16);
        rgb[i++] = std::uint8_t(p >> 8);
        rgb[i++] = std::uint8_t(p);
      }
    XDestroyImage(image);
  }
  XCloseDisplay(display);
  return image != nullptr;
}

}  // namespace gui_test
