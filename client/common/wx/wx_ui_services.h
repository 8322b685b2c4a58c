#pragma once
// UiServices on wx: the dialogs, browser and menus of the desktop.

#include "client/common/ui_services.h"

class wxWindow;

namespace client {

class WxUiServices : public UiServices {
 public:
  // Dialogs are centred on `parent` (may be null).
  explicit WxUiServices(wxWindow* parent = nullptr) : m_parent(parent) {}
  void SetParent(wxWindow* parent) { m_parent = parent; }

  MessageAnswer MessageBox(const std::string& text, const std::string& caption, MessageKind kind,
                           bool with_cancel = false) override;
  std::vector<std::string> ChooseFilesToOpen(const std::string& title, const std::vector<FileFilter>& filters,
                                             bool multiple) override;
  std::optional<std::string> ChooseFileToSave(const std::string& title, const std::string& default_name,
                                              const std::vector<FileFilter>& filters) override;
  std::optional<std::string> ChooseFolder(const std::string& title, const std::string& start_folder) override;
  bool OpenUrl(const std::string& url) override;
  std::optional<std::string> OpenFile(const std::string& path) override;
  int PopupMenu(const std::vector<MenuItem>& items, int screen_x, int screen_y) override;

 private:
  wxWindow* m_parent;
};

}  // namespace client
