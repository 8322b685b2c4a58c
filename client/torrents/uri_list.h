#pragma once
// What was dropped on the main window, as a "text/uri-list" (RFC 2483):
// one URI per line, lines starting with '#' are comments. Local files
// ("file:" URIs, percent-decoded) are added as .torrent files; http and
// https links are downloaded first (client/net/url_download.h). Anything else
// refuses the drop.
//
// The drop is taken whole or not at all, as the pointer showed: every
// dropped file must end in ".torrent" (in any case), and no line may be of
// another kind.

#include <string>
#include <string_view>
#include <vector>

namespace client {

struct DroppedItems {
  std::vector<std::string> files;  // local paths (UTF-8)
  std::vector<std::string> urls;   // http and https links, as dropped
  std::vector<std::string> refused;  // lines of other kinds, files of other types
  // Something to add, and nothing refused.
  bool Accepted() const { return refused.empty() && !(files.empty() && urls.empty()); }
};

// The local path of a "file:" URI ("file:///p", "file://localhost/p",
// "file:/p"), percent-decoded; empty for any other URI, a file on another
// host, or a path that decodes to a NUL.
std::string LocalPathOfFileUri(std::string_view uri);

DroppedItems ParseUriList(std::string_view text);

}  // namespace client
