#include "scheme_editor/wx/scheme_preview.h"

#include "client/common/wx/CDiagramm.h"
#include "client/common/wx/CQuillfernFensterChild.h"

namespace tintwright {
namespace {

// The main window's frame as a child of the dialog, with a chart in its
// client area.
class FramePreview : public SchemePreview {
 public:
  FramePreview(wxWindow* parent, const wxRect& rect, const platform::profile& profile, const std::string& folder,
               const client::MainColorBlock& block)
      : m_frame(new CQuillfernFensterChild(profile)) {
    m_frame->Create(parent, wxID_ANY, "Quillfern", rect.GetPosition(), rect.GetSize());
    SetMainColors(block);
    // The chart loads from the editor's own profile, as the editor did just
    // before: the main program's copy must not replace what is edited. It
    // sits below the info box in the top-right corner, which it would cover.
    m_chart = new CDiagramm(L"Color Scheme", folder, block.frame.OffsetColor(), profile);
    m_chart->Create("FarbSchema", wxPoint(15, m_frame->Model().InfoBox().bottom), m_frame->ClientArea(), false);
  }

  void SetMainColors(const client::MainColorBlock& block) override {
    m_frame->Model().colors = block;
    m_frame->CreateDrawingObjects(false);
    m_frame->RedrawFrame();
    m_frame->RedrawClient();
  }
  void ChartColorsChanged() override {
    m_chart->CreateDrawingObjects(false);
    m_chart->Refresh();
  }
  void SetStatus(int status) override {
    m_chart->Chart().SetStatus(status);
    m_chart->Refresh();
  }
  wxWindow* FrameWindow() override { return m_frame; }
  wxWindow* ChartWindow() override { return m_chart; }

 private:
  CQuillfernFensterChild* m_frame;  // both windows belong to the dialog
  CDiagramm* m_chart = nullptr;
};

}  // namespace

std::unique_ptr<SchemePreview> CreateSchemePreview(wxWindow* parent, const wxRect& rect,
                                                   const platform::profile& profile, const std::string& folder,
                                                   const client::MainColorBlock& block) {
  return std::make_unique<FramePreview>(parent, rect, profile, folder, block);
}

}  // namespace tintwright
