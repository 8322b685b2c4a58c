#include "client/browser.h"

#include "client/common/ui_services.h"

namespace client {

bool OpenUrl(UiServices& ui, const std::string& url, bool /*via_browser*/) { return ui.OpenUrl(url); }

}  // namespace client
