#include "client/files/ip_filter_keeper.h"

#include "client/files/ip_filter_file.h"
#include "client/base/wide_text.h"
#include "engine/session/session.h"
#include "store/torrent_database.h"

namespace client {

IpFilterKeeper::IpFilterKeeper(std::function<void(const std::wstring&)> log) : m_log(std::move(log)) {}

void IpFilterKeeper::CreateFilter() { m_filter = std::make_unique<engine::ip_filter>(); }

bool IpFilterKeeper::LoadIpFilter(const std::filesystem::path& path) {
  if (!m_filter) return false;
  if (!m_store) {
    std::size_t skipped = 0;
    if (!LoadIpFilterFile(path, *m_filter, &skipped)) return false;
    if (skipped && m_log)
      m_log(Utf8ToWide(path.filename().string()) + FormatWide(": %zu malformed lines skipped", skipped));
    return true;
  }
  CIpFilterTable* table = m_store->IpFilter();
  if (table && LoadIpFilterTable(*table, *m_filter)) return true;
  LogStoreError();
  return false;
}

bool IpFilterKeeper::SaveIpFilter(const std::filesystem::path& path) {
  if (m_session_only || !m_filter) return false;
  if (!m_store) {
    if (SaveIpFilterFile(path, *m_filter)) return true;
    if (m_log) m_log(L"cannot write " + Utf8ToWide(path.string()));
    return false;
  }
  CIpFilterTable* table = m_store->IpFilter();
  if (table && SaveIpFilterTable(*table, *m_filter)) return true;
  LogStoreError();
  return false;
}

void IpFilterKeeper::ApplyToSession() {
  if (m_session && m_filter) m_session->set_ip_filter(*m_filter);
}

void IpFilterKeeper::BanPeer(const engine::address& peer) { Ban(peer, peer); }

void IpFilterKeeper::BanPeerRange(const engine::address& peer) {
  const std::uint32_t net = peer.ip & 0xFFFFFF00u;
  Ban(engine::address(net | 1, 0), engine::address(net | 255, 0));
}

void IpFilterKeeper::ClearBanList() {
  if (!m_filter) return;
  CreateFilter();
  ApplyToSession();
}

void IpFilterKeeper::Ban(engine::address first, engine::address last) {
  if (!m_session || !m_filter) return;
  m_filter->add_rule(first, last, engine::ip_filter::blocked);
  m_session->set_ip_filter(*m_filter);
}

void IpFilterKeeper::LogStoreError() {
  // An empty table is no failure of the server: it has no text to show.
  const std::wstring text = Utf16ToWide(m_store->GetLastError());
  if (!text.empty() && m_log) m_log(text);
}

}  // namespace client
