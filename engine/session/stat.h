#pragma once
// Transfer counter of a session, torrent or peer connection: the bytes of the
// current second, running totals, and rates smoothed once a second.

#include <cstdint>

namespace engine {

class stat {
 public:
  void received_bytes(int payload, int protocol) {
    m_download_payload += payload;
    m_download_protocol += protocol;
    m_total_download_payload += payload;
    m_total_download_protocol += protocol;
  }
  void sent_bytes(int payload, int protocol) {
    m_upload_payload += payload;
    m_upload_protocol += protocol;
    m_total_upload_payload += payload;
    m_total_upload_protocol += protocol;
  }

  // Adds another counter's current second to this one's second and totals
  // (a peer's into its torrent's, a torrent's into the session's, once a
  // second before the other one ticks).
  stat& operator+=(const stat& s);

  // Folds the past second into the rates (each new rate is 0.9 of the old
  // plus 0.1 of the second) and starts a new second; the totals go on.
  void second_tick();

  bool operator==(const stat&) const = default;

  float download_rate() const { return m_download_rate; }
  float upload_rate() const { return m_upload_rate; }
  float download_payload_rate() const { return m_download_payload_rate; }
  float upload_payload_rate() const { return m_upload_payload_rate; }

  std::int64_t total_payload_download() const { return m_total_download_payload; }
  std::int64_t total_payload_upload() const { return m_total_upload_payload; }
  std::int64_t total_download() const { return m_total_download_payload + m_total_download_protocol; }
  std::int64_t total_upload() const { return m_total_upload_payload + m_total_upload_protocol; }

 private:
  std::int32_t m_download_payload = 0;
  std::int32_t m_upload_payload = 0;
  std::int32_t m_download_protocol = 0;
  std::int32_t m_upload_protocol = 0;

  std::int64_t m_total_download_payload = 0;
  std::int64_t m_total_upload_payload = 0;
  std::int64_t m_total_download_protocol = 0;
  std::int64_t m_total_upload_protocol = 0;

  float m_download_rate = 0;
  float m_upload_rate = 0;
  float m_download_payload_rate = 0;
  float m_upload_payload_rate = 0;
};

}  // namespace engine
