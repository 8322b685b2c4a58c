#pragma once
// Off-screen drawing: everything drawn into a CMemDC lands in a bitmap that
// is copied to the target in one blit when the CMemDC goes away, so a
// window never shows half a paint.

#include <wx/dcbuffer.h>

class CMemDC : public wxBufferedDC {
 public:
  // Draws into a bitmap the size of `rect` (the target's whole size when
  // null), whose origin maps to the rectangle's top-left. With `fill` the
  // bitmap starts in the target's background colour.
  CMemDC(wxDC* target, bool fill, const wxRect* rect = nullptr);
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;
};
