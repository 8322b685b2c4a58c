#include "client/torrents/engine_torrent_control.h"

namespace client {

TorrentHandle EngineTorrentControl::Adopt(const engine::torrent_handle& handle) {
  m_handles[handle.info_hash()] = handle;
  return TorrentHandle(this, handle.info_hash());
}

TorrentHandle EngineTorrentControl::add_torrent(const engine::torrent_metainfo& info,
                                                const std::filesystem::path& save_path,
                                                const engine::entry& resume_data, bool compact_mode, int block_size) {
  return Adopt(m_session.add_torrent(info, save_path, resume_data, compact_mode, block_size));
}

TorrentHandle EngineTorrentControl::add_torrent_by_info_hash(const std::string& tracker_url,
                                                             const engine::sha1_hash& info_hash,
                                                             const std::filesystem::path& save_path, int block_size) {
  return Adopt(m_session.add_torrent_by_info_hash(tracker_url, info_hash, save_path, engine::entry(), true, block_size));
}

void EngineTorrentControl::remove_torrent(const TorrentHandle& handle) {
  m_session.remove_torrent(Find(handle.info_hash()));
}

bool EngineTorrentControl::is_valid(const engine::sha1_hash& torrent) const { return Find(torrent).is_valid(); }

std::vector<engine::peer_info> EngineTorrentControl::get_peer_info(const engine::sha1_hash& torrent) const {
  std::vector<engine::peer_info> peers;
  const engine::torrent_handle handle = Find(torrent);
  // The null handle of a torrent the session never had throws.
  if (handle.is_valid()) handle.get_peer_info(peers);
  return peers;
}

engine::torrent_handle EngineTorrentControl::Find(const engine::sha1_hash& torrent) const {
  if (auto it = m_handles.find(torrent); it != m_handles.end()) return it->second;
  for (const engine::torrent_handle& h : m_session.get_torrents())
    if (h.info_hash() == torrent) return m_handles[torrent] = h;
  return engine::torrent_handle();
}

}  // namespace client
