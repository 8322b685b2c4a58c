#pragma once
// Off-screen drawing: everything drawn into a CMemDC lands in a bitmap that
// is copied to the target in one blit when the CMemDC goes away, so a
// window never shows half a paint.

#include <wx/bitmap.h>
#include <wx/dcmemory.h>

class CMemDC : public wxMemoryDC {
 public:
  // Draws into a bitmap covering `rect` of the target (logical units; the
  // target's clipping box when null), with the target's coordinates: what
  // is drawn at a point of the rectangle lands on that point of the target.
  // With `fill` the bitmap starts in the target's background colour.
  CMemDC(wxDC* target, bool fill, const wxRect* rect = nullptr);
  ~CMemDC() override;
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

  const wxRect& Area() const { return m_area; }

 private:
  wxDC* m_target;
  wxRect m_area;
  wxBitmap m_bitmap;
};
