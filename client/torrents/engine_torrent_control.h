#pragma once
// The seam over a real engine session: every call goes to the engine
// handle of the named torrent.

#include "client/torrents/torrent_control.h"
#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"

#include <map>

namespace client {

class EngineTorrentControl : public TorrentControl {
 public:
  explicit EngineTorrentControl(engine::session& session) : m_session(session) {}

  // A torrent the session got some other way, as a handle of this seam.
  TorrentHandle Adopt(const engine::torrent_handle& handle);

  TorrentHandle add_torrent(const engine::torrent_metainfo& info, const std::filesystem::path& save_path,
                            const engine::entry& resume_data, bool compact_mode, int block_size) override;
  TorrentHandle add_torrent_by_info_hash(const std::string& tracker_url, const engine::sha1_hash& info_hash,
                                         const std::filesystem::path& save_path, int block_size) override;
  void remove_torrent(const TorrentHandle& handle) override;

  bool is_valid(const engine::sha1_hash& torrent) const override;
  bool is_paused(const engine::sha1_hash& torrent) const override { return Find(torrent).is_paused(); }
  void pause(const engine::sha1_hash& torrent) override { Find(torrent).pause(); }
  void resume(const engine::sha1_hash& torrent) override { Find(torrent).resume(); }
  bool is_seed(const engine::sha1_hash& torrent) const override { return Find(torrent).is_seed(); }
  bool has_metadata(const engine::sha1_hash& torrent) const override { return Find(torrent).has_metadata(); }
  engine::torrent_status status(const engine::sha1_hash& torrent) const override { return Find(torrent).status(); }
  std::vector<std::optional<engine::torrent_status>> statuses(
      const std::vector<engine::sha1_hash>& torrents) const override {
    return m_session.torrent_statuses(torrents);
  }
  std::filesystem::path save_path(const engine::sha1_hash& torrent) const override {
    return Find(torrent).save_path();
  }
  void set_upload_limit(const engine::sha1_hash& torrent, int bytes_per_second) override {
    Find(torrent).set_upload_limit(bytes_per_second);
  }
  void set_download_limit(const engine::sha1_hash& torrent, int bytes_per_second) override {
    Find(torrent).set_download_limit(bytes_per_second);
  }
  void set_ratio(const engine::sha1_hash& torrent, float ratio) override { Find(torrent).set_ratio(ratio); }
  std::vector<engine::announce_entry> trackers(const engine::sha1_hash& torrent) const override {
    return Find(torrent).trackers();
  }
  void replace_trackers(const engine::sha1_hash& torrent, const std::vector<engine::announce_entry>& urls) override {
    Find(torrent).replace_trackers(urls);
  }
  void set_tracker_login(const engine::sha1_hash& torrent, const std::string& name,
                         const std::string& password) override {
    Find(torrent).set_tracker_login(name, password);
  }
  void force_reannounce(const engine::sha1_hash& torrent) override { Find(torrent).force_reannounce(); }
  void connect_peer(const engine::sha1_hash& torrent, const engine::address& peer) override {
    Find(torrent).connect_peer(peer);
  }
  std::vector<engine::peer_info> get_peer_info(const engine::sha1_hash& torrent) const override;
  bool send_chat_message(const engine::sha1_hash& torrent, const engine::address& peer,
                         std::string_view text) override {
    return Find(torrent).send_chat_message(peer, text);
  }
  engine::torrent_metainfo metainfo(const engine::sha1_hash& torrent) const override {
    return Find(torrent).metainfo();
  }
  engine::entry build_resume_data(const engine::sha1_hash& torrent) const override {
    return Find(torrent).build_resume_data();
  }
  std::vector<bool> filtered_pieces(const engine::sha1_hash& torrent) const override {
    return Find(torrent).filtered_pieces();
  }
  void filter_pieces(const engine::sha1_hash& torrent, const std::vector<bool>& pieces) override {
    Find(torrent).filter_pieces(pieces);
  }
  void filter_files(const engine::sha1_hash& torrent, const std::vector<bool>& files) override {
    Find(torrent).filter_files(files);
  }

 private:
  // The engine handle of the torrent; a null handle (whose every call
  // throws invalid_handle) when the session never had it.
  engine::torrent_handle Find(const engine::sha1_hash& torrent) const;

  engine::session& m_session;
  // Handles of the torrents added through this seam, kept after removal so
  // that is_valid keeps answering.
  mutable std::map<engine::sha1_hash, engine::torrent_handle> m_handles;
};

}  // namespace client
