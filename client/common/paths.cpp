#include "client/common/paths.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace client {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithTrailingSeparator(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && !IsSeparator(out.back())) out += '/';
  return out;
}

namespace {
std::size_t LastSeparator(std::string_view path) { return path.find_last_of("\\/"); }
}  // namespace

std::string FolderOf(std::string_view path) {
  const auto at = LastSeparator(path);
  return std::string(at == std::string_view::npos ? path : path.substr(0, at + 1));
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && home[0]) return WithTrailingSeparator(home);
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return WithTrailingSeparator(pw->pw_dir);
  return "/";
}

std::string DataHome() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return WithTrailingSeparator(xdg);
  return HomeFolder() + ".local/share/";
}

}  // namespace client
