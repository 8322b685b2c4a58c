#pragma once
// Path texts as the desktop programs keep them: either separator ('\\' in
// values written by older settings, '/' on this system) splits, and a
// folder is always kept with a trailing separator so a file name can be
// appended directly.

#include <string>
#include <string_view>

namespace client {

bool IsSeparator(char c);

// The folder with a trailing separator: unchanged when it ends in '\\' or
// '/', else with '/' appended. An empty text stays empty.
std::string WithTrailingSeparator(std::string_view folder);

// The part up to and including the last separator, or the whole text when
// it has none.
std::string FolderOf(std::string_view path);

// The user's home folder with a trailing '/'.
std::string HomeFolder();

// The user's data folder with a trailing '/': $XDG_DATA_HOME when set and
// absolute, else ~/.local/share/.
std::string DataHome();

}  // namespace client
