#include "client/CTorrentListe.h"

#include "client/utf16_ini_file.h"

#include <algorithm>
#include <system_error>

namespace client {

CTorrentListe::~CTorrentListe() = default;

bool CTorrentListe::Add(std::unique_ptr<TorrentItem> torrent) {
  m_torrents.push_back(std::move(torrent));
  return true;
}

TorrentItem* CTorrentListe::First() {
  m_cursor = 0;
  return Next();
}

TorrentItem* CTorrentListe::Next() {
  if (m_cursor >= m_torrents.size()) return nullptr;
  return m_torrents[m_cursor++].get();
}

bool CTorrentListe::Contains(const TorrentItem* torrent) const {
  return std::any_of(m_torrents.begin(), m_torrents.end(), [&](const auto& t) { return t.get() == torrent; });
}

bool CTorrentListe::Remove(TorrentItem* torrent, bool with_files) {
  const auto it =
      std::find_if(m_torrents.begin(), m_torrents.end(), [&](const auto& t) { return t.get() == torrent; });
  if (it == m_torrents.end()) return false;
  if (with_files) {
    torrent->Remove();
    if (m_onRemoved) m_onRemoved(*torrent);
  }
  // The torrents behind it move up; a walk in progress goes on with the
  // one that took its place.
  const auto index = static_cast<std::size_t>(it - m_torrents.begin());
  if (index < m_cursor) --m_cursor;
  m_torrents.erase(it);
  return true;
}

TorrentItem* CTorrentListe::FindByHash(const engine::sha1_hash& info_hash) const {
  for (const auto& t : m_torrents)
    if (!t->m_handle.is_null() && t->m_handle.info_hash() == info_hash) return t.get();
  return nullptr;
}

TorrentItem* CTorrentListe::PickNextQueued(const TorrentItem* excluded) const {
  TorrentItem* best = nullptr;
  try {
    for (const auto& t : m_torrents) {
      if (t.get() == excluded) continue;
      if (!t->IsValid() || !t->IsEnginePaused() || t->m_complete || t->m_userPaused ||
          t->Status() != TorrentStatus::Queued)
        continue;
      if (!best || t->m_priority > best->m_priority) best = t.get();
    }
  } catch (const std::exception&) {
    return nullptr;
  }
  return best;
}

bool CTorrentListe::PauseAll() {
  for (const auto& t : m_torrents) {
    try {
      t->PauseEngine();
    } catch (const std::exception&) {
    }
  }
  return true;
}

bool CTorrentListe::ReannounceAll() {
  bool any = false;
  for (const auto& t : m_torrents) {
    try {
      if (t->ReAddPending() || t->m_handle.is_paused() || t->m_handle.is_seed()) continue;
      t->m_handle.force_reannounce();
      any = true;
    } catch (const std::exception&) {
    }
  }
  return any;
}

void CTorrentListe::InvalidateAll() {
  for (const auto& t : m_torrents) t->Repaint();
}

bool CTorrentListe::Save(const std::filesystem::path& list_file) {
  Utf16IniFile ini;
  ini.StartListFile();
  for (const auto& t : m_torrents) {
    try {
      t->Save(ini, true);
    } catch (const std::exception&) {
    }
  }
  return list_file.empty() || ini.Save(list_file);
}

bool CTorrentListe::SaveUnfinished(const std::filesystem::path& list_file) {
  Utf16IniFile ini;
  std::error_code ec;
  if (!list_file.empty() && !std::filesystem::exists(list_file, ec)) ini.StartListFile();
  else if (!list_file.empty() && !ini.Load(list_file)) return false;
  for (const auto& t : m_torrents) {
    if (t->Status() == TorrentStatus::Seeding) continue;
    try {
      t->Save(ini, false);
    } catch (const std::exception&) {
    }
  }
  return list_file.empty() || ini.Save(list_file);
}

}  // namespace client
