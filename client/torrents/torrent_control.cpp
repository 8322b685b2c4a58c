#include "client/torrents/torrent_control.h"

#include "client/base/unexpected_fault.h"
#include "engine/session/torrent_handle.h"

namespace client {

std::vector<std::optional<engine::torrent_status>> TorrentControl::statuses(
    const std::vector<engine::sha1_hash>& torrents) const {
  std::vector<std::optional<engine::torrent_status>> result(torrents.size());
  for (std::size_t i = 0; i < torrents.size(); ++i) {
    try {
      if (is_valid(torrents[i])) result[i] = status(torrents[i]);
    } catch (const engine::invalid_handle&) {
      // Gone between the two questions.
    }
  }
  return result;
}

TorrentControl& TorrentHandle::Control() const {
  if (!m_control) throw engine::invalid_handle();
  return *m_control;
}

std::wstring GoneOrUnexpected(std::wstring_view gone, std::string_view where) {
  try {
    throw;
  } catch (const engine::invalid_handle&) {
    return std::wstring(gone);
  } catch (...) {
    return UnexpectedFault(where);
  }
}

}  // namespace client
