#pragma once
// The files of a torrent being made: how a folder is searched for them, and
// where each one goes in the torrent.

#include "client/base/wide_text.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace client {

// A path's bytes as text to show, and a shown text as a path.
inline std::wstring PathText(const std::filesystem::path& path) { return Utf8ToWide(path.native()); }
inline std::filesystem::path TextPath(std::wstring_view text) { return std::filesystem::path(WideToUtf8(text)); }

// One file of the torrent being made.
struct MakeTorrentFile {
  std::filesystem::path file;    // absolute
  // The folder it came with: the folder chosen when it was found in one,
  // else the folder holding it.
  std::filesystem::path folder;
  std::int64_t size = 0;

  friend bool operator==(const MakeTorrentFile&, const MakeTorrentFile&) = default;
};

// `path` made absolute and lexically normal, without a trailing separator
// (but for the root itself).
std::filesystem::path CleanPath(const std::filesystem::path& path);

// The regular files of size above 0 in `folder` and, at any depth, its
// subfolders. Symbolic links are neither followed nor taken, nor are
// devices, pipes or sockets; folders that cannot be read are passed over.
// Sorted by their path below `folder`, compared byte by byte.
std::vector<MakeTorrentFile> FindFilesRecursively(const std::filesystem::path& folder);

// Where the files go. With one file the torrent is that file alone: its
// path is the file name and it lies in the folder holding it. With several,
// they lie in the deepest folder that holds the folders they came with; its
// name is the torrent's name and begins every path.
struct TorrentFileLayout {
  std::filesystem::path base_folder;          // the folder the paths start in
  std::vector<std::filesystem::path> paths;   // the torrent path of each file, in order
  // False when several files have no folder in common but the root: the
  // torrent would have no name. Each path is then the name of the file's
  // own folder followed by its path below it.
  bool has_common_folder = true;
};

TorrentFileLayout LayOutFiles(const std::vector<MakeTorrentFile>& files);

}  // namespace client
