#include "engine/session/stat.h"

namespace engine {

stat& stat::operator+=(const stat& s) {
  received_bytes(s.m_download_payload, s.m_download_protocol);
  sent_bytes(s.m_upload_payload, s.m_upload_protocol);
  return *this;
}

void stat::second_tick() {
  auto smooth = [](float rate, double second) { return float(0.9 * rate + 0.1 * second); };
  m_download_rate = smooth(m_download_rate, double(m_download_payload) + m_download_protocol);
  m_upload_rate = smooth(m_upload_rate, double(m_upload_payload) + m_upload_protocol);
  m_download_payload_rate = smooth(m_download_payload_rate, m_download_payload);
  m_upload_payload_rate = smooth(m_upload_payload_rate, m_upload_payload);
  m_download_payload = 0;
  m_upload_payload = 0;
  m_download_protocol = 0;
  m_upload_protocol = 0;
}

}  // namespace engine
