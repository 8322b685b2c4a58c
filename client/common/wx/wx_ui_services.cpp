#include "client/common/wx/wx_ui_services.h"

#include "client/common/paths.h"
#include "client/common/wx/CHinweisText.h"
#include "client/common/wx/open_menus.h"

#include <filesystem>
#include <system_error>

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>
#include <wx/window.h>

namespace client {
namespace {

wxString Wx(const std::string& utf8) { return wxString::FromUTF8(utf8); }
std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }

wxString Wildcard(const std::vector<FileFilter>& filters) {
  wxString out;
  for (const auto& f : filters) {
    if (!out.empty()) out += "|";
    out += Wx(f.description) + "|" + Wx(f.pattern);
  }
  return out.empty() ? wxString(wxFileSelectorDefaultWildcardStr) : out;
}

}  // namespace

MessageAnswer WxUiServices::MessageBox(const std::string& text, const std::string& caption, MessageKind kind,
                                       bool with_cancel) {
  long style = 0;
  switch (kind) {
    case MessageKind::Info: style = wxICON_INFORMATION | wxOK; break;
    case MessageKind::Warning: style = wxICON_WARNING | wxOK; break;
    case MessageKind::Error: style = wxICON_ERROR | wxOK; break;
    case MessageKind::Question: style = wxICON_QUESTION | wxYES_NO; break;
  }
  if (with_cancel) style |= wxCANCEL;
  wxMessageDialog dialog(m_parent, Wx(text), Wx(caption), style);
  switch (dialog.ShowModal()) {
    case wxID_YES: return MessageAnswer::Yes;
    case wxID_NO: return MessageAnswer::No;
    case wxID_CANCEL: return MessageAnswer::Cancel;
    default: return MessageAnswer::Ok;
  }
}

std::vector<std::string> WxUiServices::ChooseFilesToOpen(const std::string& title,
                                                         const std::vector<FileFilter>& filters, bool multiple) {
  wxFileDialog dialog(m_parent, Wx(title), wxEmptyString, wxEmptyString, Wildcard(filters),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST | (multiple ? wxFD_MULTIPLE : 0));
  std::vector<std::string> out;
  if (dialog.ShowModal() != wxID_OK) return out;
  wxArrayString paths;
  dialog.GetPaths(paths);
  for (const auto& p : paths) out.push_back(Utf8(p));
  return out;
}

std::optional<std::string> WxUiServices::ChooseFileToSave(const std::string& title, const std::string& default_name,
                                                          const std::vector<FileFilter>& filters) {
  wxFileDialog dialog(m_parent, Wx(title), wxEmptyString, Wx(default_name), Wildcard(filters),
                      wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return Utf8(dialog.GetPath());
}

std::optional<std::string> WxUiServices::ChooseFolder(const std::string& title, const std::string& start_folder) {
  wxDirDialog dialog(m_parent, Wx(title), Wx(start_folder), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return WithTrailingSeparator(Utf8(dialog.GetPath()));
}

bool WxUiServices::OpenUrl(const std::string& url) { return wxLaunchDefaultBrowser(Wx(url)); }

std::optional<std::string> WxUiServices::OpenFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    return (ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory)).message();
  // The desktop's opener (xdg-open) picks the program.
  if (!wxLaunchDefaultApplication(Wx(path))) return std::string("no program to open it was found (xdg-open)");
  return std::nullopt;
}

int WxUiServices::PopupMenu(const std::vector<MenuItem>& items, int screen_x, int screen_y) {
  if (!m_parent) return 0;
  wxMenu menu;
  for (const auto& item : items) {
    if (item.id == 0) {
      menu.AppendSeparator();
      continue;
    }
    wxMenuItem* added = item.checked ? menu.AppendCheckItem(item.id, Wx(item.text)) : menu.Append(item.id, Wx(item.text));
    if (item.checked) added->Check(true);
    added->Enable(item.enabled);
  }
  // No hint over the menu while it is open.
  const OpenMenus::Scope shown(menu);
  CHinweisText::Global().MenuOpened();
  const int chosen = m_parent->GetPopupMenuSelectionFromUser(menu, m_parent->ScreenToClient(wxPoint(screen_x, screen_y)));
  return chosen == wxID_NONE ? 0 : chosen;
}

}  // namespace client
