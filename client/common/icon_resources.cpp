#include "client/common/icon_resources.h"

#include "embedded_icons.h"

namespace client {

namespace {
struct IconName {
  int resource;
  std::string_view file;
};
constexpr IconName kIcons[] = {
    {kApplicationIcon, "quillfern.svg"},
    {kTrayIcon, "tray.svg"},
    {kPeerInfoIcon, "peers.svg"},
};
}  // namespace

std::string_view IconSvg(int resource) {
  for (const auto& icon : kIcons) {
    if (icon.resource != resource) continue;
    for (const auto& file : embedded_files::kFiles) {
      if (file.name == icon.file) return {reinterpret_cast<const char*>(file.data), file.size};
    }
  }
  return {};
}

}  // namespace client
