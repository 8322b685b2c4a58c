#pragma once
// Opening a web page for the user (the home-page link and others).

#include <string>

namespace client {

class UiServices;

// The browser's executable for pages opened "in the browser": the desktop's
// own opener, xdg-open, which hands the page to the user's default browser,
// as found on PATH. Looked up once; empty when there is none.
std::string GetBrowserCommand();

// Opens `url` with the desktop's handler of the link (UiServices::OpenUrl).
// The browser form (`via_browser`) is the window's own: it starts
// GetBrowserCommand with the page.
bool OpenUrl(UiServices& ui, const std::string& url, bool via_browser);

}  // namespace client
