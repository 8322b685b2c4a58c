#pragma once
// Scratch folders and small helpers for the file, storage and checker tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"

namespace storage_test {

// A fresh folder under the system's temporary folder, removed at the end.
class temp_dir {
 public:
  temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qf-storage-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
  }
  ~temp_dir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline void write_text(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

inline std::string read_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

// A torrent over random bytes: its metainfo and the bytes of every piece.
// The bytes of a .torrent of `files` small files (1000 to 1006 bytes each)
// named "<name>/folderNNN/fileNNNNNN.dat", a thousand to a folder, in pieces
// of 256 KiB whose hashes are all zeros.
inline std::string many_files_torrent(int files, const std::string& name = "many") {
  engine::entry::list_type list;
  std::int64_t total = 0;
  for (int i = 0; i < files; ++i) {
    char folder[32], file[32];
    std::snprintf(folder, sizeof folder, "folder%03d", i / 1000);
    std::snprintf(file, sizeof file, "file%06d.dat", i);
    engine::entry::dictionary_type d;
    d.emplace("length", engine::entry(std::int64_t(1000 + i % 7)));
    d.emplace("path", engine::entry(engine::entry::list_type{engine::entry(std::string(folder)),
                                                             engine::entry(std::string(file))}));
    list.emplace_back(std::move(d));
    total += 1000 + i % 7;
  }
  const std::int64_t piece_length = 262144;
  engine::entry info(engine::entry::dictionary_t);
  info["name"] = name;
  info["piece length"] = piece_length;
  info["pieces"] = std::string(std::size_t((total + piece_length - 1) / piece_length) * 20, '\0');
  info["files"] = std::move(list);
  engine::entry torrent(engine::entry::dictionary_t);
  torrent["announce"] = std::string("http://127.0.0.1:1/announce");
  torrent["info"] = std::move(info);
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), torrent);
  return bytes;
}

struct test_torrent {
  test_torrent(const std::vector<std::pair<std::string, std::int64_t>>& files, std::int64_t piece_length,
               std::uint32_t seed = 1) {
    info.set_piece_size(piece_length);
    std::int64_t total = 0;
    for (const auto& [path, size] : files) {
      info.add_file(path, size);
      total += size;
    }
    data = random_bytes(static_cast<std::size_t>(total), seed);
    for (int i = 0; i < info.num_pieces(); ++i) info.set_hash(i, engine::hasher(piece(i).data(), piece_size(i)).final());
    // Gives the torrent its info-hash.
    info.add_tracker("http://127.0.0.1:1/announce");
    info.build_torrent_dictionary();
  }

  // Writes the pieces `which` (all when empty) at their places in the files
  // under `dir`; the other bytes are zeros.
  void lay_down(const std::filesystem::path& dir, const std::vector<int>& which = {}) const {
    std::string disk(data.size(), '\0');
    for (int p = 0; p < num_pieces(); ++p) {
      if (!which.empty() && std::find(which.begin(), which.end(), p) == which.end()) continue;
      disk.replace(static_cast<std::size_t>(p * info.piece_length()), static_cast<std::size_t>(piece_size(p)), piece(p));
    }
    std::size_t at = 0;
    for (const auto& f : info.files()) {
      write_text(dir / f.path, disk.substr(at, static_cast<std::size_t>(f.size)));
      at += static_cast<std::size_t>(f.size);
    }
  }

  int num_pieces() const { return info.num_pieces(); }
  int piece_size(int i) const { return static_cast<int>(info.piece_size(i)); }
  std::string piece(int i) const {
    return data.substr(static_cast<std::size_t>(i * info.piece_length()), static_cast<std::size_t>(piece_size(i)));
  }

  engine::torrent_metainfo info;
  std::string data;
};

}  // namespace storage_test
