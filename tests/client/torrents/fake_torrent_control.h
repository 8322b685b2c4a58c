#pragma once
// A scriptable stand-in for the engine session: torrents are plain records
// a test sets up and looks at; a test can make a torrent's calls throw
// invalid_handle (or a fault nobody expects), delay or withhold the
// engine's release of a removed torrent, and make the next add fail.

#include "client/torrents/torrent_control.h"
#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

namespace client_test {

struct FakeTorrent {
  bool paused = true;  // the engine adds torrents paused
  bool seed = false;
  bool metadata = true;
  bool waits_for_check = false;  // metadata not given until the files are checked
  engine::torrent_status status;
  std::filesystem::path save_path = "/downloads";
  int upload_limit = -1;
  int download_limit = -1;
  float ratio = 0;
  std::vector<engine::announce_entry> trackers;
  std::string login_name, login_password;
  engine::entry resume_data;
  std::vector<bool> filtered;
  int reannounces = 0;
  std::vector<engine::address> connected;  // connect_peer calls
  // What metainfo answers while `metadata` is set; none: an empty one.
  std::optional<engine::torrent_metainfo> info;
  int replace_calls = 0;
  int filter_files_calls = 0;
  // What get_peer_info answers; the chat texts sent, with their peers.
  std::vector<engine::peer_info> peers;
  std::vector<std::pair<engine::address, std::string>> chats;
  // Added with these.
  bool compact_mode = true;
  int block_size = 0;
  // Scripting: every call (is_valid too) as for a torrent the engine
  // dropped; calls by name that throw invalid_handle.
  bool gone = false;
  std::set<std::string> failing;
  // Calls by name that throw std::runtime_error with the text given: a
  // fault nobody expects.
  std::map<std::string, std::string> faults;
  // After remove_torrent: asks of is_valid until the engine drops it
  // (-1: never).
  int removal_polls = 0;
  bool removing = false;
};

class FakeTorrentControl : public client::TorrentControl {
 public:
  mutable std::map<engine::sha1_hash, FakeTorrent> torrents;
  // The next add throws std::runtime_error with this text.
  std::string fail_next_add;
  int adds = 0;

  // A torrent of the session under a hash made from `n`.
  static engine::sha1_hash Hash(int n) {
    engine::sha1_hash h;
    h[0] = static_cast<std::uint8_t>(n);
    h[19] = 0xA5;
    return h;
  }
  client::TorrentHandle Put(const engine::sha1_hash& hash, FakeTorrent torrent = {}) {
    torrents[hash] = std::move(torrent);
    return client::TorrentHandle(this, hash);
  }
  FakeTorrent& At(const engine::sha1_hash& hash) { return torrents.at(hash); }

  client::TorrentHandle add_torrent(const engine::torrent_metainfo& info, const std::filesystem::path& save_path,
                                    const engine::entry& resume_data, bool compact_mode, int block_size) override {
    CountAdd();
    if (is_valid(info.info_hash())) throw engine::duplicate_torrent();
    FakeTorrent t;
    t.save_path = save_path;
    t.resume_data = resume_data;
    t.trackers = info.trackers();
    t.compact_mode = compact_mode;
    t.block_size = block_size;
    t.filtered.assign(static_cast<std::size_t>(info.num_pieces()), false);
    t.info = info;
    return Put(info.info_hash(), std::move(t));
  }
  client::TorrentHandle add_torrent_by_info_hash(const std::string& tracker_url, const engine::sha1_hash& info_hash,
                                                 const std::filesystem::path& save_path, int block_size) override {
    CountAdd();
    if (is_valid(info_hash)) throw engine::duplicate_torrent();
    FakeTorrent t;
    t.paused = false;  // a torrent known by info-hash runs at once
    t.metadata = false;
    t.save_path = save_path;
    t.trackers = {{tracker_url, 0}};
    t.block_size = block_size;
    return Put(info_hash, std::move(t));
  }
  void remove_torrent(const client::TorrentHandle& handle) override {
    FakeTorrent& t = Use(handle.info_hash(), "remove_torrent");
    t.removing = true;
    if (t.removal_polls == 0) torrents.erase(handle.info_hash());
  }

  bool is_valid(const engine::sha1_hash& h) const override {
    auto it = torrents.find(h);
    if (it == torrents.end() || it->second.gone) return false;
    FakeTorrent& t = it->second;
    if (t.removing && t.removal_polls > 0 && --t.removal_polls == 0) {
      torrents.erase(it);
      return false;
    }
    return true;
  }
  bool is_paused(const engine::sha1_hash& h) const override { return Use(h, "is_paused").paused; }
  void pause(const engine::sha1_hash& h) override { Use(h, "pause").paused = true; }
  void resume(const engine::sha1_hash& h) override { Use(h, "resume").paused = false; }
  bool is_seed(const engine::sha1_hash& h) const override { return Use(h, "is_seed").seed; }
  bool has_metadata(const engine::sha1_hash& h) const override { return Use(h, "has_metadata").metadata; }
  engine::torrent_status status(const engine::sha1_hash& h) const override {
    const FakeTorrent& t = Use(h, "status");
    engine::torrent_status s = t.status;
    s.paused = t.paused;
    // As the engine: a torrent without metadata is looking for it, unless
    // its files wait for their check.
    if (!t.metadata && !t.waits_for_check) s.state = engine::downloading_metadata;
    return s;
  }
  std::filesystem::path save_path(const engine::sha1_hash& h) const override { return Use(h, "save_path").save_path; }
  void set_upload_limit(const engine::sha1_hash& h, int v) override { Use(h, "set_upload_limit").upload_limit = v; }
  void set_download_limit(const engine::sha1_hash& h, int v) override {
    Use(h, "set_download_limit").download_limit = v;
  }
  void set_ratio(const engine::sha1_hash& h, float v) override { Use(h, "set_ratio").ratio = v; }
  std::vector<engine::announce_entry> trackers(const engine::sha1_hash& h) const override {
    return Use(h, "trackers").trackers;
  }
  void replace_trackers(const engine::sha1_hash& h, const std::vector<engine::announce_entry>& urls) override {
    FakeTorrent& t = Use(h, "replace_trackers");
    t.trackers = urls;
    ++t.replace_calls;
  }
  void set_tracker_login(const engine::sha1_hash& h, const std::string& name, const std::string& password) override {
    FakeTorrent& t = Use(h, "set_tracker_login");
    t.login_name = name;
    t.login_password = password;
  }
  void force_reannounce(const engine::sha1_hash& h) override { ++Use(h, "force_reannounce").reannounces; }
  void connect_peer(const engine::sha1_hash& h, const engine::address& peer) override {
    Use(h, "connect_peer").connected.push_back(peer);
  }
  engine::torrent_metainfo metainfo(const engine::sha1_hash& h) const override {
    const FakeTorrent& t = Use(h, "metainfo");
    if (!t.metadata) throw engine::invalid_handle();
    return t.info ? *t.info : engine::torrent_metainfo(h);
  }
  std::vector<engine::peer_info> get_peer_info(const engine::sha1_hash& h) const override {
    if (!is_valid(h)) return {};
    return Use(h, "get_peer_info").peers;
  }
  bool send_chat_message(const engine::sha1_hash& h, const engine::address& peer, std::string_view text) override {
    if (!is_valid(h)) return false;
    FakeTorrent& t = Use(h, "send_chat_message");
    for (const engine::peer_info& p : t.peers)
      if (p.ip == peer && (p.flags & engine::peer_info::supports_extensions)) {
        t.chats.emplace_back(peer, std::string(text));
        return true;
      }
    return false;
  }
  engine::entry build_resume_data(const engine::sha1_hash& h) const override {
    return Use(h, "build_resume_data").resume_data;
  }
  std::vector<bool> filtered_pieces(const engine::sha1_hash& h) const override {
    return Use(h, "filtered_pieces").filtered;
  }
  void filter_pieces(const engine::sha1_hash& h, const std::vector<bool>& pieces) override {
    Use(h, "filter_pieces").filtered = pieces;
  }
  // As the engine does it: a piece is not wanted when no wanted file
  // touches it.
  void filter_files(const engine::sha1_hash& h, const std::vector<bool>& files) override {
    FakeTorrent& t = Use(h, "filter_files");
    ++t.filter_files_calls;
    if (!t.info) return;
    const std::int64_t length = t.info->piece_length();
    std::vector<bool> filtered(static_cast<std::size_t>(t.info->num_pieces()), true);
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < t.info->files().size(); ++i) {
      const std::int64_t size = t.info->files()[i].size;
      if ((i >= files.size() || !files[i]) && size > 0)
        for (std::int64_t p = offset / length; p <= (offset + size - 1) / length; ++p)
          filtered[static_cast<std::size_t>(p)] = false;
      offset += size;
    }
    t.filtered = filtered;
  }

 private:
  void CountAdd() {
    ++adds;
    if (!fail_next_add.empty()) {
      const std::string what = std::move(fail_next_add);
      fail_next_add.clear();
      throw std::runtime_error(what);
    }
  }
  FakeTorrent& Use(const engine::sha1_hash& h, const char* call) const {
    auto it = torrents.find(h);
    if (it == torrents.end() || it->second.gone || it->second.failing.count(call)) throw engine::invalid_handle();
    if (auto fault = it->second.faults.find(call); fault != it->second.faults.end())
      throw std::runtime_error(fault->second);
    return it->second;
  }
};

}  // namespace client_test
