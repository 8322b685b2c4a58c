#pragma once
// What the windows ask of the desktop around them: message boxes, file and
// folder choosers, opening a link or a file, popup menus. The programs use
// the wx implementation (client/common/wx/wx_ui_services.h); tests script
// the answers with ScriptedUiServices.

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace client {

enum class MessageKind { Info, Warning, Error, Question };
// The button a message box was closed with.
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MenuItem {
  int id = 0;           // 0 is a separator
  std::string text;     // UTF-8
  bool enabled = true;
  bool checked = false;
  bool is_default = false;  // shown in bold where the toolkit can
};

struct FileFilter {
  std::string description;  // "Torrent Files (*.torrent)"
  std::string pattern;      // "*.torrent"
};

class UiServices {
 public:
  virtual ~UiServices() = default;

  // `buttons` is Ok, or Yes/No (a Question), or Ok/Cancel.
  virtual MessageAnswer MessageBox(const std::string& text, const std::string& caption,
                                   MessageKind kind, bool with_cancel = false) = 0;
  // The chosen files, none when cancelled.
  virtual std::vector<std::string> ChooseFilesToOpen(const std::string& title,
                                                     const std::vector<FileFilter>& filters,
                                                     bool multiple) = 0;
  virtual std::optional<std::string> ChooseFileToSave(const std::string& title,
                                                      const std::string& default_name,
                                                      const std::vector<FileFilter>& filters) = 0;
  // A folder; the answer ends with '/'.
  virtual std::optional<std::string> ChooseFolder(const std::string& title,
                                                  const std::string& start_folder) = 0;
  virtual bool OpenUrl(const std::string& url) = 0;
  // Opens the file with the desktop's program for its kind: none when that
  // program started, else why it could not.
  virtual std::optional<std::string> OpenFile(const std::string& path) = 0;
  // The id of the chosen item, 0 when the menu was dismissed. The position
  // is in screen coordinates.
  virtual int PopupMenu(const std::vector<MenuItem>& items, int screen_x, int screen_y) = 0;
};

// Answers from a script, and a record of every question asked. An empty
// script answers Ok / nothing / 0.
class ScriptedUiServices : public UiServices {
 public:
  struct Asked {
    std::string what;  // "message", "open", "save", "folder", "url", "file", "menu"
    std::string text;  // the message, title, url or path
  };

  std::deque<MessageAnswer> message_answers;
  std::deque<std::vector<std::string>> open_answers;
  std::deque<std::optional<std::string>> save_answers;
  std::deque<std::optional<std::string>> folder_answers;
  std::deque<int> menu_answers;
  std::optional<std::string> open_file_failure;  // what OpenFile answers
  std::vector<Asked> asked;
  std::vector<std::vector<MenuItem>> menus_shown;

  MessageAnswer MessageBox(const std::string& text, const std::string& caption, MessageKind kind,
                           bool with_cancel = false) override;
  std::vector<std::string> ChooseFilesToOpen(const std::string& title,
                                             const std::vector<FileFilter>& filters,
                                             bool multiple) override;
  std::optional<std::string> ChooseFileToSave(const std::string& title,
                                              const std::string& default_name,
                                              const std::vector<FileFilter>& filters) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start_folder) override;
  bool OpenUrl(const std::string& url) override;
  std::optional<std::string> OpenFile(const std::string& path) override;
  int PopupMenu(const std::vector<MenuItem>& items, int screen_x, int screen_y) override;

  // The texts of every message box shown, in order.
  std::vector<std::string> Messages() const;
};

}  // namespace client
