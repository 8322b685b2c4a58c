#pragma once
// Opening a web page for the user (the home-page link and others).

#include <string>

namespace client {

class UiServices;

// Opens `url` in the desktop's default browser. The two forms differ only
// where the system keeps a browser of its own for "http" apart from the
// handler of the link's type; here both go to the default browser.
bool OpenUrl(UiServices& ui, const std::string& url, bool via_browser);

}  // namespace client
