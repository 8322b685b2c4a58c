#include "client/net/browser.h"

#include "client/common/ui_services.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace client {

std::string GetBrowserCommand() {
  static const std::string command = [] {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "";
    while (!dirs.empty()) {
      const auto end = dirs.find(':');
      const std::string_view dir = dirs.substr(0, end);
      dirs = end == std::string_view::npos ? std::string_view{} : dirs.substr(end + 1);
      std::string candidate(dir.empty() ? std::string_view(".") : dir);
      candidate += "/xdg-open";
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::string();
  }();
  return command;
}

bool OpenUrl(UiServices& ui, const std::string& url, bool /*via_browser*/) { return ui.OpenUrl(url); }

}  // namespace client
