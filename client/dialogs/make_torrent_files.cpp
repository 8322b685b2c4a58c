#include "client/dialogs/make_torrent_files.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace client {

namespace {

void Collect(const fs::path& dir, std::vector<MakeTorrentFile>& out, const fs::path& top) {
  std::error_code ec;
  fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code st_ec;
    const fs::file_status st = it->symlink_status(st_ec);
    if (st_ec) continue;
    if (fs::is_directory(st)) {
      Collect(it->path(), out, top);
    } else if (fs::is_regular_file(st)) {
      const auto size = it->file_size(st_ec);
      if (!st_ec && size > 0) out.push_back({it->path(), top, static_cast<std::int64_t>(size)});
    }
  }
}

// The deepest folder holding both.
fs::path CommonFolder(const fs::path& a, const fs::path& b) {
  fs::path common;
  auto i = a.begin(), j = b.begin();
  for (; i != a.end() && j != b.end() && *i == *j; ++i, ++j) common /= *i;
  return common;
}

}  // namespace

fs::path CleanPath(const fs::path& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) p = path;
  p = p.lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

std::vector<MakeTorrentFile> FindFilesRecursively(const fs::path& folder) {
  const fs::path top = CleanPath(folder);
  std::vector<MakeTorrentFile> out;
  Collect(top, out, top);
  std::sort(out.begin(), out.end(), [](const MakeTorrentFile& a, const MakeTorrentFile& b) {
    return a.file.native() < b.file.native();
  });
  return out;
}

TorrentFileLayout LayOutFiles(const std::vector<MakeTorrentFile>& files) {
  TorrentFileLayout layout;
  if (files.empty()) return layout;
  if (files.size() == 1) {
    layout.base_folder = files.front().file.parent_path();
    layout.paths.push_back(files.front().file.filename());
    return layout;
  }
  fs::path common = files.front().folder;
  for (const auto& f : files) common = CommonFolder(common, f.folder);
  layout.has_common_folder = common.has_filename();
  if (layout.has_common_folder) {
    layout.base_folder = common.parent_path();
    for (const auto& f : files) layout.paths.push_back(common.filename() / f.file.lexically_relative(common));
  } else {
    layout.base_folder = common;
    for (const auto& f : files) layout.paths.push_back(f.folder.filename() / f.file.lexically_relative(f.folder));
  }
  return layout;
}

}  // namespace client
