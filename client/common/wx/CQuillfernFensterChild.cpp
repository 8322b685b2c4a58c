#include "client/common/wx/CQuillfernFensterChild.h"

CQuillfernFensterChild::CQuillfernFensterChild(platform::profile profile)
    : QuillfernFrameBase(std::move(profile)) {}

bool CQuillfernFensterChild::Create(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                                    const wxSize& size) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  if (!wxWindow::Create(parent, id, pos, size, wxBORDER_NONE | wxCLIP_CHILDREN | wxFULL_REPAINT_ON_RESIZE)) return false;
  SetLabel(title);
  Model().title = title.ToStdWstring();
  InitFrame();
  return true;
}
