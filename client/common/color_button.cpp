#include "client/common/color_button.h"

#include <algorithm>

namespace client {

ColorRef ButtonTextColor(ColorRef button, ColorRef text) {
  if (text <= 0x00FFFFFF) return text;
  return (button & 0x808080) != 0 ? ToColorRef(0, 0, 0) : ToColorRef(255, 255, 255);
}

namespace {

ColorRef Blend(Rgb c, Rgb face, double color_share, double face_share) {
  auto mix = [&](std::uint8_t a, std::uint8_t b) { return ClampChannel(color_share * a + face_share * b); };
  return ToColorRef(mix(c.r, face.r), mix(c.g, face.g), mix(c.b, face.b));
}

ColorRef Shift(Rgb c, int by) {
  auto ch = [by](std::uint8_t v) { return std::uint8_t(std::clamp(int(v) + by, 0, 255)); };
  return ToColorRef(ch(c.r), ch(c.g), ch(c.b));
}

void AddLine(ColorButtonPicture& p, int x0, int y0, int x1, int y1, ColorRef color) {
  p.lines.push_back({{x0, y0}, {x1, y1}, color});
}

// Raised: highlight top and left, black bottom and right with the shadow
// one pixel inside it.
void AddRaisedBevel(ColorButtonPicture& p, Rect b, const ColorButtonPens& pens) {
  AddLine(p, b.left, b.top, b.right - 1, b.top, pens.highlight);
  AddLine(p, b.left, b.top, b.left, b.bottom - 1, pens.highlight);
  AddLine(p, b.left, b.bottom - 1, b.right, b.bottom - 1, pens.black);
  AddLine(p, b.right - 1, b.top, b.right - 1, b.bottom - 1, pens.black);
  AddLine(p, b.left + 1, b.bottom - 2, b.right - 1, b.bottom - 2, pens.shadow);
  AddLine(p, b.right - 2, b.top + 1, b.right - 2, b.bottom - 2, pens.shadow);
}

// Pressed: black and shadow top and left, highlight bottom and right.
void AddPressedBevel(ColorButtonPicture& p, Rect b, const ColorButtonPens& pens) {
  AddLine(p, b.left, b.top, b.right, b.top, pens.black);
  AddLine(p, b.left, b.top, b.left, b.bottom, pens.black);
  AddLine(p, b.left + 1, b.top + 1, b.right - 1, b.top + 1, pens.shadow);
  AddLine(p, b.left + 1, b.top + 1, b.left + 1, b.bottom - 1, pens.shadow);
  AddLine(p, b.left + 1, b.bottom - 1, b.right, b.bottom - 1, pens.highlight);
  AddLine(p, b.right - 1, b.top + 1, b.right - 1, b.bottom - 1, pens.highlight);
}

void AddCaption(ColorButtonPicture& p, Rect box, std::wstring_view caption) {
  if (caption != L"+" && caption != L"-") {
    if (!caption.empty()) p.caption = box;
    return;
  }
  // A plus or minus of 2 px strokes, which a font would draw too thin.
  const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
  const int arm = std::max(2, std::min(box.Width(), box.Height()) / 4);
  for (int d = -1; d <= 0; ++d) {
    AddLine(p, cx - arm, cy + d, cx + arm, cy + d, p.text_color);
    if (caption == L"+") AddLine(p, cx + d, cy - arm, cx + d, cy + arm, p.text_color);
  }
}

}  // namespace

ColorButtonPens MakeColorButtonPens(ColorRef button, ColorRef text, ColorRef face) {
  const Rgb c = FromColorRef(button), f = FromColorRef(face);
  ColorButtonPens pens;
  pens.fill = button & 0x00FFFFFF;
  pens.blend1 = Blend(c, f, 0.3333, 0.6666);
  pens.blend2 = Blend(c, f, 0.6666, 0.3333);
  pens.highlight = Shift(c, 90);
  pens.shadow = Shift(c, -50);
  pens.black = 0;
  pens.text = ButtonTextColor(button, text);
  return pens;
}

ColorButtonPicture PaintColorButton(Size size, const ColorButtonPens& pens, int style, bool pointed,
                                    bool pressed, std::wstring_view caption) {
  ColorButtonPicture p;
  p.fill_color = pens.fill;
  p.text_color = pens.text;
  const Rect all{0, 0, size.cx, size.cy};
  const int push = pressed ? 1 : 0;

  if (style == 1) {
    p.outlines = {{all, pens.blend1}, {all.Inset(1), pens.blend2}, {all.Inset(2), pens.fill}};
    const Rect bevel = all.Inset(3);
    p.fill_rect = bevel;
    if (pressed)
      AddPressedBevel(p, bevel, pens);
    else
      AddRaisedBevel(p, bevel, pens);
    AddCaption(p, all.Inset(4).Offset(push, push), caption);
  } else if (style == 2 && pointed) {
    // Top and bottom edges run toward each other and meet at the middle of
    // the right edge.
    const int w = size.cx - 1, h = size.cy - 1, mid = h / 2;
    const int shoulder = std::max(0, w - mid);
    p.fill_polygon = {{0, 0}, {shoulder, 0}, {w, mid}, {shoulder, h}, {0, h}};
    const ColorRef light = pressed ? pens.black : pens.highlight;
    const ColorRef dark = pressed ? pens.highlight : pens.black;
    AddLine(p, 0, h, 0, 0, light);
    AddLine(p, 0, 0, shoulder, 0, light);
    AddLine(p, shoulder, 0, w, mid, light);
    AddLine(p, w, mid, shoulder, h, dark);
    AddLine(p, shoulder, h, 0, h, dark);
    AddLine(p, 1, h - 1, shoulder, h - 1, pressed ? pens.highlight : pens.shadow);
    AddCaption(p, Rect{3, 3, shoulder, size.cy - 3}.Offset(push, push), caption);
  } else {
    AddCaption(p, all, caption);
  }
  return p;
}

}  // namespace client
