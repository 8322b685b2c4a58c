#include "client/common/ui_services.h"

namespace client {
namespace {
template <class T>
T Take(std::deque<T>& script, T fallback) {
  if (script.empty()) return fallback;
  T value = std::move(script.front());
  script.pop_front();
  return value;
}
}  // namespace

MessageAnswer ScriptedUiServices::MessageBox(const std::string& text, const std::string&,
                                             MessageKind, bool) {
  asked.push_back({"message", text});
  return Take(message_answers, MessageAnswer::Ok);
}

std::vector<std::string> ScriptedUiServices::ChooseFilesToOpen(const std::string& title,
                                                               const std::vector<FileFilter>&, bool) {
  asked.push_back({"open", title});
  return Take(open_answers, {});
}

std::optional<std::string> ScriptedUiServices::ChooseFileToSave(const std::string& title,
                                                                const std::string&,
                                                                const std::vector<FileFilter>&) {
  asked.push_back({"save", title});
  return Take(save_answers, std::optional<std::string>{});
}

std::optional<std::string> ScriptedUiServices::ChooseFolder(const std::string& title,
                                                            const std::string&) {
  asked.push_back({"folder", title});
  return Take(folder_answers, std::optional<std::string>{});
}

bool ScriptedUiServices::OpenUrl(const std::string& url) {
  asked.push_back({"url", url});
  return true;
}

std::optional<std::string> ScriptedUiServices::OpenFile(const std::string& path) {
  asked.push_back({"file", path});
  return open_file_failure;
}

int ScriptedUiServices::PopupMenu(const std::vector<MenuItem>& items, int, int) {
  asked.push_back({"menu", {}});
  menus_shown.push_back(items);
  return Take(menu_answers, 0);
}

std::vector<std::string> ScriptedUiServices::Messages() const {
  std::vector<std::string> out;
  for (const auto& a : asked)
    if (a.what == "message") out.push_back(a.text);
  return out;
}

}  // namespace client
