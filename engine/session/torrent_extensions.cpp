// The torrent's side of the peer wire extensions: the metadata it serves,
// the metadata it fetches from its peers when it was added by info-hash,
// and the peers it asks for through peer exchange.

#include "engine/session/alert_types.h"
#include "engine/session/checker_impl.h"
#include "engine/session/peer_connection.h"
#include "engine/session/torrent.h"

namespace engine {

std::string_view torrent::metadata_bytes() {
  if (m_served_metadata.empty()) m_served_metadata = m_info.info_dictionary_bytes();
  return m_served_metadata;
}

// --- metadata from the swarm

bool torrent::received_metadata(const char* data, int size, int offset, int total_size) {
  if (has_metadata() || !m_checker) return false;
  if (!m_metadata) m_metadata = std::make_unique<metadata_transfer>();
  switch (m_metadata->received(data, size, offset, total_size, info_hash())) {
    case metadata_transfer::result::incomplete:
      return false;
    case metadata_transfer::result::failed:
      m_ses.alerts().post_if(
          [&] { return metadata_failed_alert(get_handle(), "invalid metadata received from swarm"); });
      return false;
    case metadata_transfer::result::complete:
      break;
  }
  const std::vector<char>& raw = m_metadata->buffer();
  try {
    m_info.read_info_dictionary(std::string_view(raw.data(), raw.size()));
  } catch (const std::exception&) {
    // Matches the info-hash but is no torrent we can store: nobody can
    // deliver better, so the failure is reported and the parts asked again.
    m_metadata.reset();
    m_ses.alerts().post_if([&] { return metadata_failed_alert(get_handle(), "invalid metadata received from swarm"); });
    return false;
  }
  m_info_dictionary = entry();
  m_metadata.reset();

  // The torrent stays in the session with its connections; the checker
  // thread checks its files off to the side and the hand-over installs what
  // it found (checker_impl.h).
  auto d = std::make_shared<piece_checker_data>();
  d->running = weak_from_this();
  d->info_hash = info_hash();
  prepare_check(*d);
  m_check = d;
  {
    platform::mutex_lock l(m_checker->m_mutex);
    m_checker->queue(std::move(d));
  }
  m_ses.alerts().post_if(
      [&] { return metadata_received_alert(get_handle(), "metadata successfully received from swarm"); });
  return true;
}

std::pair<int, int> torrent::metadata_request() {
  int supporting = 0;
  for (const auto& [a, p] : m_connections)
    if (p->extensions().supports(wire::ext_metadata)) ++supporting;
  if (!m_metadata) m_metadata = std::make_unique<metadata_transfer>();
  return m_metadata->request(supporting);
}

void torrent::cancel_metadata_request(std::pair<int, int> window) {
  if (m_metadata) m_metadata->cancel(window);
}

void torrent::request_peers_from_swarm(int count) {
  for (auto& [a, c] : m_connections) c->set_peer_exchange_wanted(count);
}

}  // namespace engine
