// .torrent files exchanged with independent programs: mktorrent writes,
// transmission-show reads. Skipped when the tools are not installed.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/torrent_metainfo.h"

namespace fs = std::filesystem;
using engine::torrent_metainfo;

namespace {

bool have_tool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns what it printed; empty when it failed.
std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  return pclose(p) == 0 ? out : std::string();
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + i / 1000) & 0xff);
  return s;
}

// What transmission-show tells about a .torrent.
struct shown {
  std::string hash;
  std::vector<std::vector<std::string>> tiers;
  std::vector<std::string> files;
};

std::string trim(std::string s) {
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(" \r") + 1);
  return s;
}

shown show(const fs::path& torrent) {
  shown r;
  std::istringstream in(run("transmission-show '" + torrent.string() + "' 2>/dev/null"));
  std::string line, section;
  while (std::getline(in, line)) {
    std::string t = trim(line);
    if (t.empty()) continue;
    if (t == "GENERAL" || t == "TRACKERS" || t == "FILES") {
      section = t;
    } else if (section == "GENERAL" && t.rfind("Hash: ", 0) == 0) {
      r.hash = t.substr(6);
    } else if (section == "TRACKERS") {
      if (t.rfind("Tier #", 0) == 0)
        r.tiers.emplace_back();
      else if (!r.tiers.empty())
        r.tiers.back().push_back(t);
    } else if (section == "FILES") {
      r.files.push_back(t.substr(0, t.rfind(" (")));  // drop the size
    }
  }
  return r;
}

std::vector<std::vector<std::string>> tiers_of(const torrent_metainfo& m) {
  std::vector<std::vector<std::string>> tiers;
  int tier = -1;
  for (const engine::announce_entry& a : m.trackers()) {
    if (tiers.empty() || a.tier != tier) tiers.emplace_back();
    tier = a.tier;
    tiers.back().push_back(a.url);
  }
  for (auto& t : tiers) std::sort(t.begin(), t.end());
  return tiers;
}

class TorrentMetainfoInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_tool("mktorrent") || !have_tool("transmission-show"))
      GTEST_FAIL() << "mktorrent or transmission-show is not installed (packages mktorrent, transmission-cli)";
    std::string tmpl = (fs::temp_directory_path() / "qf-metainfo-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override {
    if (!m_dir.empty()) fs::remove_all(m_dir);
  }
  fs::path m_dir;
};

}  // namespace

TEST_F(TorrentMetainfoInterop, ReadsWhatMktorrentWrites) {
  fs::create_directories(m_dir / "content" / "sub");
  write_file(m_dir / "content" / "a.bin", pattern(70000, 1));
  write_file(m_dir / "content" / "sub" / "b.txt", "hello\n");
  write_file(m_dir / "content" / "sub" / "\xc3\xbc.txt", pattern(40000, 2));
  write_file(m_dir / "single.dat", pattern(100000, 3));

  struct made {
    std::string args;
    fs::path target;
  };
  for (const made& c : {made{"-a http://t1/ann,http://t1b/ann -a udp://t2:80 -l 15 -c note -p", m_dir / "content"},
                        made{"-a http://only/announce -l 16", m_dir / "single.dat"}}) {
    fs::path out = m_dir / "made.torrent";
    fs::remove(out);
    ASSERT_FALSE(run("mktorrent -t 1 " + c.args + " -o '" + out.string() + "' '" + c.target.string() + "' 2>&1").empty());
    const std::string bytes = read_file(out);
    torrent_metainfo raw(bytes.data(), bytes.size());
    torrent_metainfo decoded(engine::bdecode(bytes));
    shown s = show(out);
    ASSERT_EQ(s.hash.size(), 40u) << c.args;
    EXPECT_EQ(raw.info_hash().to_hex(), s.hash) << c.args;
    EXPECT_EQ(decoded.info_hash(), raw.info_hash());
    for (auto& t : s.tiers) std::sort(t.begin(), t.end());
    EXPECT_EQ(tiers_of(raw), s.tiers);
    std::vector<std::string> files;
    for (const engine::file_entry& f : raw.files()) files.push_back(f.path);
    std::sort(files.begin(), files.end());
    std::sort(s.files.begin(), s.files.end());
    EXPECT_EQ(files, s.files);
    std::int64_t on_disk = 0;
    for (const engine::file_entry& f : raw.files()) on_disk += f.size;
    EXPECT_EQ(raw.total_size(), on_disk);
  }
}

TEST_F(TorrentMetainfoInterop, TransmissionReadsWhatWeWrite) {
  torrent_metainfo m;
  m.set_piece_size(32768);
  const std::vector<std::pair<std::string, std::string>> content = {
      {"album/cd1/track 01.flac", pattern(50000, 4)},
      {"album/cover.jpg", pattern(30001, 5)},
      {"album/\xc3\xa9t\xc3\xa9.txt", "summer\n"}};
  std::string all;
  for (const auto& [path, data] : content) {
    m.add_file(path, static_cast<std::int64_t>(data.size()));
    all += data;
  }
  for (int i = 0; i < m.num_pieces(); ++i) {
    const std::string piece = all.substr(static_cast<std::size_t>(i) * 32768, static_cast<std::size_t>(m.piece_size(i)));
    m.set_hash(i, engine::hasher(piece.data(), static_cast<int>(piece.size())).final());
  }
  m.add_tracker("http://first/announce", 0);
  m.add_tracker("http://second/announce", 0);
  m.add_tracker("udp://backup:6969", 1);
  m.set_comment("made by the engine");
  m.set_creator("Quillfern");

  std::string bytes;
  engine::bencode(std::back_inserter(bytes), m.build_torrent_dictionary());
  const fs::path file = m_dir / "ours.torrent";
  write_file(file, bytes);

  shown s = show(file);
  EXPECT_EQ(s.hash, m.info_hash().to_hex());
  EXPECT_EQ(s.tiers, (std::vector<std::vector<std::string>>{{"http://first/announce", "http://second/announce"},
                                                            {"udp://backup:6969"}}));
  std::vector<std::string> expected;
  for (const auto& [path, data] : content) expected.push_back(path);
  std::sort(expected.begin(), expected.end());
  std::sort(s.files.begin(), s.files.end());
  EXPECT_EQ(s.files, expected);

  // Our own reader agrees with what we wrote.
  torrent_metainfo back(bytes.data(), bytes.size());
  EXPECT_EQ(back.info_hash(), m.info_hash());
  EXPECT_EQ(back.files(), m.files());
}
