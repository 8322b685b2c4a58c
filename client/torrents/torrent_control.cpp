#include "client/torrents/torrent_control.h"

#include "engine/session/torrent_handle.h"

namespace client {

TorrentControl& TorrentHandle::Control() const {
  if (!m_control) throw engine::invalid_handle();
  return *m_control;
}

}  // namespace client
