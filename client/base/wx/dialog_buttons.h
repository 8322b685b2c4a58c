#pragma once
// The foot of the program's dialogs: a line under their controls, then
// OK and Cancel on the right (OK the default, Escape cancels) and an
// optional button of their own on the left.

class wxDialog;
class wxSizer;
class wxWindow;

// Sets the dialog's sizer to `content` above that foot and fits the dialog
// to it. `left` is a child of the dialog, or null.
void LayOutWithOkCancel(wxDialog* dialog, wxSizer* content, int ok_id, int cancel_id, wxWindow* left = nullptr);

// Ends the dialog with `code`: ShowModal returns it, or a dialog shown
// without a modal loop hides with it as its return code. For OK and Cancel
// buttons of the dialog's own ids, whose code the callers expect to be
// wxID_OK or wxID_CANCEL.
void CloseDialogWith(wxDialog* dialog, int code);
