#pragma once
// The hint pop-up: a small bordered window above all others that shows a
// word-wrapped text under a rectangle of its owner, moved so it stays on
// the screen. One instance serves the whole program (Global()); showing a
// new hint replaces the one shown.

#include "client/common/hint_layout.h"

#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/weakref.h>

#include <string>
#include <vector>

class wxWindow;
class wxPopupWindow;

class CHinweisText {
 public:
  static CHinweisText& Global();

  CHinweisText() = default;
  CHinweisText(const CHinweisText&) = delete;
  CHinweisText& operator=(const CHinweisText&) = delete;
  ~CHinweisText();

  // Shows `text` under `rect` (in the owner's client coordinates).
  void Show(const wxString& text, const wxRect& rect, wxWindow* owner);
  // Takes the pop-up away (nothing when none is shown).
  void Destroy();

  // A menu opens: it takes the shown hint away, and while one is open no
  // hint shows (it would lie over the menu's entries).
  void MenuOpened() { Destroy(); }
  static bool MenuIsOpen();

  bool IsShown() const { return m_window.get() != nullptr; }
  // The pop-up window while one is shown, else null.
  wxWindow* GetWindow() const;
  const wxString& GetText() const { return m_text; }

 private:
  class Popup;

  const wxFont& Font();

  wxFont m_font;
  wxString m_text;
  wxWeakRef<wxPopupWindow> m_window;
};
