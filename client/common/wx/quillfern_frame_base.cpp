#include "client/common/wx/quillfern_frame_base.h"

#include "client/common/paths.h"
#include "client/common/wx/CMemDC.h"

#include <wx/dcclient.h>

#include <functional>
#include <type_traits>
#include <utility>

namespace {

// The client area: paints through the frame, off-screen, without erasing
// first.
class FrameClientPanel : public wxWindow {
 public:
  FrameClientPanel(wxWindow* frame, std::function<void(wxDC&)> paint) : m_paint(std::move(paint)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(frame, wxID_ANY, wxPoint(client::kFrameLeft, client::kFrameTop), wxDefaultSize,
           wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE | wxCLIP_CHILDREN);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
      wxPaintDC target(this);
      CMemDC dc(&target, false);
      m_paint(dc);
    });
  }

 private:
  std::function<void(wxDC&)> m_paint;
};

}  // namespace

template <class Base>
QuillfernFrameBase<Base>::QuillfernFrameBase(platform::profile profile) : m_profile(std::move(profile)) {
  // With no folder of its own the frame paints with what the colour-scheme
  // editor saved into the default scheme folder.
  m_model.color_scheme_folder =
      client::SchemeFolder(m_profile.GetProfileString(client::kConfigurationSection, client::kColorSchemePathValue));
  LoadMainColors(m_model.color_scheme_folder);
  CreateDrawingObjects(true);
}

template <class Base>
bool QuillfernFrameBase<Base>::LoadMainColors(const std::string& folder) {
  if (client::LoadMainColors(client::WithTrailingSeparator(folder), m_profile, m_model.colors)) return true;
  m_model.colors = client::MainColorBlock::Defaults();
  return false;
}

template <class Base>
bool QuillfernFrameBase<Base>::SaveMainColors(const std::string& folder) {
  return client::SaveMainColors(client::WithTrailingSeparator(folder), m_profile, m_model.colors);
}

template <class Base>
void QuillfernFrameBase<Base>::CreateDrawingObjects(bool /*first*/) {
  // The objects are values: remaking them releases the old ones.
  m_objects = FrameDrawingObjects::From(m_model.colors);
  if (this->GetHandle()) {
    this->SetBackgroundColour(m_objects.background.GetColour());
    if (m_client) m_client->SetBackgroundColour(m_objects.background.GetColour());
  }
}

template <class Base>
void QuillfernFrameBase<Base>::InitFrame() {
  this->SetBackgroundColour(m_objects.background.GetColour());
  m_client = new FrameClientPanel(this, [this](wxDC& dc) { PaintClientArea(dc); });
  m_client->SetBackgroundColour(m_objects.background.GetColour());
  this->Bind(wxEVT_PAINT, &QuillfernFrameBase::OnPaint, this);
  this->Bind(wxEVT_SIZE, &QuillfernFrameBase::OnSize, this);
  Relayout();
}

template <class Base>
void QuillfernFrameBase<Base>::SetTitle(const wxString& title) {
  const std::wstring text = title.ToStdWstring();
  if (text == m_model.title) return;
  m_model.title = text;
  if constexpr (std::is_base_of_v<wxTopLevelWindow, Base>) {
    Base::SetTitle(title);
  } else {
    Base::SetLabel(title);
  }
  RedrawFrame();
}

template <class Base>
void QuillfernFrameBase<Base>::SetActive(bool active) {
  m_model.SetActive(active);
  RedrawFrame();
  RedrawClient();
}

template <class Base>
void QuillfernFrameBase<Base>::RedrawFrame() {
  if (this->GetHandle()) this->Refresh(false);
}

template <class Base>
void QuillfernFrameBase<Base>::RedrawClient() {
  if (m_client) m_client->Refresh(false);
}

template <class Base>
void QuillfernFrameBase<Base>::PaintClientArea(wxDC& dc) {
  ::PaintClientArea(dc, m_model, m_objects);
}

template <class Base>
void QuillfernFrameBase<Base>::OnPaint(wxPaintEvent&) {
  wxPaintDC target(this);
  CMemDC dc(&target, false);
  // Outside the rounded corners a frame inside another window shows that
  // window's background; a top-level frame is cut to its shape.
  wxColour outside = m_objects.background.GetColour();
  if (!this->IsTopLevel() && this->GetParent()) outside = this->GetParent()->GetBackgroundColour();
  dc.SetBackground(wxBrush(outside));
  dc.Clear();
  PaintFrame(dc, m_model, m_objects);
}

template <class Base>
void QuillfernFrameBase<Base>::OnSize(wxSizeEvent&) {
  // Not skipped: a frame would otherwise stretch its only child, the
  // client area, over the whole window.
  Relayout();
}

template <class Base>
void QuillfernFrameBase<Base>::Relayout() {
  const wxSize size = this->GetSize();
  m_model.ResizeWindow(size.x, size.y);
  const client::Rect& c = m_model.layout.client;
  if (m_client) m_client->SetSize(c.left, c.top, c.Width(), c.Height());
  OnFrameResized();
  RedrawFrame();
  RedrawClient();
}

template class QuillfernFrameBase<wxFrame>;
template class QuillfernFrameBase<wxWindow>;
