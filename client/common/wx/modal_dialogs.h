#pragma once
// Every modal dialog of the program while it is shown, innermost last: wx's
// own dialogs and the toolkit's message boxes and file choosers alike (all
// of them pass wx's modal-dialog hook). A close of Quillfern's main window
// that comes while one is open (a signal, the tray's "Close") must not
// destroy the window under the dialog's nested loop: it ends the loops
// first, innermost first, and closes once they are gone. Tintwright, whose
// editor is itself one of these dialogs, ends them the same way on a signal.

#include <wx/modalhook.h>

#include <vector>

class ModalDialogs : private wxModalDialogHook {
 public:
  // The one list of the process, registered with wx on first use.
  static ModalDialogs& Instance();

  // A dialog or a popup menu (client::OpenMenus) is open.
  bool AnyOpen() const;
  // Takes an open popup menu down (it is always the innermost loop: a
  // dialog opens only once its menu has returned), else ends the innermost
  // dialog as its Cancel would, unless that was done already and its loop
  // has not returned yet. Only the innermost: ending an outer loop first
  // would end the inner one's in its place.
  void EndInnermost();
  // While set, a dialog about to be shown is not shown: it returns Cancel
  // at once (the program is closing).
  void RefuseNew(bool refuse) { m_refuse = refuse; }

 private:
  ModalDialogs();
  ~ModalDialogs() override;
  int Enter(wxDialog* dialog) override;
  void Exit(wxDialog* dialog) override;

  struct Shown {
    wxDialog* dialog;
    bool ended;
  };
  std::vector<Shown> m_open;
  bool m_refuse = false;
};
