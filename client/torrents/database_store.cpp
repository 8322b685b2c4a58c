#include "client/torrents/database_store.h"

#include "client/base/wide_text.h"
#include "client/common/tick.h"
#include "client/files/torrent_copy_name.h"
#include "client/files/utf16_ini_file.h"
#include "client/torrents/CTorrentListe.h"
#include "client/torrents/torrent_item.h"
#include "engine/session/torrent_handle.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "store/torrent_database.h"

#include <system_error>
#include <vector>

namespace client {
namespace {

std::string HashOf(const TorrentItem& torrent) { return WideToUtf8(torrent.GetInfoHashHex()); }

// A torrent known only by its info-hash loads by the hash its file name
// starts with; one the store named otherwise (its row's name) gets a path
// of that kind, its section moved along.
KeptTorrent Loadable(const KeptTorrent& kept, const std::filesystem::path& data_folder) {
  const std::u16string section = EscapeSectionName(WideToUtf16(kept.path));
  const std::string file_name = std::filesystem::path(WideToUtf8(kept.path)).filename().string();
  if (kept.section.GetString(section, u"HasMetadata", u"true") == u"true" || file_name.starts_with(kept.info_hash))
    return kept;
  KeptTorrent moved{kept.info_hash, Utf8ToWide((data_folder / (kept.info_hash + ".Torrent")).string()), {}};
  const std::u16string moved_section = EscapeSectionName(WideToUtf16(moved.path));
  for (const auto& [key, value] : kept.section.Entries(section)) moved.section.Set(moved_section, key, value);
  return moved;
}

}  // namespace

DatabaseStore::DatabaseStore(CTorrentDatabase& database, std::filesystem::path data_folder, LogSink log)
    : m_database(database),
      m_dataFolder(std::move(data_folder)),
      m_waitingFile(m_dataFolder / kWaitingFileName),
      m_log(log),
      m_queue(std::move(log)),
      // The connection was tried a moment ago.
      m_lastConnect(TickMs()),
      m_lastRetry(TickMs()) {}

bool DatabaseStore::Reachable() {
  if (m_database.IsConnected()) return true;
  const std::uint32_t now = TickMs();
  if (platform::elapsed_ms(now, m_lastConnect) < kStoreRetryMs) return false;
  m_lastConnect = now;
  return m_database.Connect();
}

std::wstring DatabaseStore::LastError() const { return Utf16ToWide(m_database.GetLastError()); }

bool DatabaseStore::Waits(const TorrentItem& torrent) const { return m_queue.SaveWaits(HashOf(torrent)); }

void DatabaseStore::Failed(const TorrentItem& torrent) {
  m_queue.SaveFailed(HashOf(torrent), torrent.FileName(), LastError());
}

void DatabaseStore::Saved(TorrentItem& torrent) {
  const std::string hash = HashOf(torrent);
  m_queue.Saved(hash, torrent.FileName());
  // What the waiting file kept beside the copy is the store's now.
  if (m_fromWaitingFile.erase(hash)) {
    std::error_code ec;
    std::filesystem::remove(torrent.SideFile(kResumeDataSuffix), ec);
    std::filesystem::remove(torrent.SideFile(kFilterDataSuffix), ec);
  }
}

// --- a run's start and end

bool DatabaseStore::Restore(const RestoreOne& restore) {
  m_queue.Read(m_waitingFile);
  const Utf16IniFile no_list;
  std::set<std::string> restored;
  if (Reachable()) {
    // Removals first: a torrent added again since comes back after them.
    CarryOutRemovals();
    CTorrentDataTable* rows = m_database.TorrentData();
    if (rows && rows->SelectUnfinished()) {
      do {
        const std::string hash = rows->info_hash;
        // One whose removal still waits does not come back.
        if (m_queue.RemovalWaits(hash) || restored.contains(hash)) continue;
        std::wstring path;
        if (const KeptTorrent* kept = m_queue.FindKept(hash)) {
          // It waited at the end of the last run: its settings and totals
          // are those of the waiting file, its metainfo the row's.
          m_restoring = Restoring{Loadable(*kept, m_dataFolder), rows->meta_data};
          path = m_restoring->kept.path;
        } else {
          // The name only names the torrent's log file beside the others:
          // one that would lead out of the data folder is replaced by the
          // hash.
          std::string name = rows->name;
          if (!IsPlainFileName(name)) name = hash + ".torrent";
          path = Utf8ToWide((m_dataFolder / name).string());
        }
        restored.insert(hash);
        restore(path, no_list);
        m_restoring.reset();
      } while (rows->FetchNext());
    }
  } else if (m_log) {
    m_log(L"the store does not answer: " + LastError());
  }
  // Those the store has no row of yet (added while its server was away),
  // or all of them while it is away: from their copies.
  const bool reached = m_database.IsConnected();
  const std::vector<KeptTorrent> kept = m_queue.Kept();
  for (const KeptTorrent& torrent : kept) {
    if (restored.contains(torrent.info_hash)) continue;
    // One whose metainfo only the store has waits for it.
    std::error_code ec;
    if (!reached && !std::filesystem::exists(std::filesystem::path(WideToUtf8(torrent.path)), ec)) continue;
    m_restoring = Restoring{Loadable(torrent, m_dataFolder), {}};
    restore(m_restoring->kept.path, no_list);
    m_restoring.reset();
  }
  // What waited is written at the first tick.
  m_retrySoon = true;
  return true;
}

bool DatabaseStore::Load(TorrentItem& torrent, const Utf16IniFile&, DhtControl* dht) {
  if (m_restoring) {
    const KeptTorrent& kept = m_restoring->kept;
    if (!torrent.LoadFromListFile(kept.section, dht, m_restoring->metainfo)) return false;
    m_queue.Loaded(kept.info_hash, torrent.FileName());
    m_fromWaitingFile.insert(kept.info_hash);
    return true;
  }
  if (torrent.LoadFromDatabase(m_database, dht)) return true;
  if (const std::wstring error = LastError(); !error.empty()) torrent.Log(error);
  return false;
}

bool DatabaseStore::SaveAll(CTorrentListe& list) {
  // Removals that waited go first: a torrent added again since is saved
  // after them.
  if (Reachable()) CarryOutRemovals();
  m_closing = true;
  list.Save({}, m_log);
  if (m_queue.Empty()) {
    m_queue.Write(m_waitingFile, {});
    return true;
  }
  // What the server did not take is kept for the next start.
  platform::file_batch side_files;
  std::size_t torrents = m_queue.Kept().size();
  const bool written = m_queue.Write(m_waitingFile, [&](const std::string& hash, Utf16IniFile& ini, std::wstring& path) {
    for (const auto& torrent : list) {
      if (HashOf(*torrent) != hash) continue;
      path = torrent->Path();
      try {
        if (!torrent->SaveToListFile(ini, false, &side_files)) return false;
      } catch (const std::exception& e) {
        torrent->SaveFailed(Utf8ToWide(e.what()));
        return false;
      }
      ++torrents;
      return true;
    }
    return false;
  });
  side_files.commit();
  if (!written) {
    if (m_log) m_log(L"cannot write " + Utf8ToWide(m_waitingFile.string()) + L": what waits for the store is lost");
    return true;
  }
  if (m_log)
    m_log(FormatWide("%zu torrents and %zu removals wait for the store, kept in %s", torrents,
                     m_queue.RemovalsWaiting(), m_waitingFile.string().c_str()));
  return true;
}

// --- one torrent

bool DatabaseStore::Save(TorrentItem& torrent, Utf16IniFile&, bool pause, platform::file_batch*) {
  if (!torrent.IsValid()) return false;
  // At the end of the run one failure is enough: the others wait too.
  if (m_closing && m_away) {
    if (pause) torrent.PauseEngine();
    Failed(torrent);
    return false;
  }
  Reachable();
  if (!torrent.SaveToDatabase(m_database, pause)) {
    m_away = m_closing;
    Failed(torrent);
    return false;
  }
  Saved(torrent);
  return true;
}

bool DatabaseStore::TakeMetainfo(TorrentItem& torrent, std::string_view metainfo, std::string_view name) {
  Reachable();
  CTorrentDataTable* table = m_database.TorrentData();
  bool stored = false;
  try {
    stored = table && table->StoreMetaData(HashOf(torrent), metainfo, torrent.Handle().save_path().string(), name);
  } catch (const std::exception& e) {
    torrent.Log(Utf8ToWide(e.what()));
  }
  // A copy the store did not take is kept, so the torrent is not lost; its
  // row is written at the next save that reaches the server.
  if (!stored) Failed(torrent);
  else torrent.MarkMetainfoStored(!metainfo.empty());
  return stored;
}

void DatabaseStore::Added(TorrentItem& torrent) {
  // The whole row; while the engine checks the torrent's files it cannot
  // name the torrent, and the row the adder stored gets the settings only.
  Utf16IniFile unused;
  try {
    if (Save(torrent, unused, false, nullptr)) return;
    Update(torrent, false, false);
  } catch (const std::exception& e) {
    torrent.SaveFailed(Utf8ToWide(e.what()));
  }
}

bool DatabaseStore::Update(TorrentItem& torrent, bool with_nodes, bool finished) {
  Reachable();
  bool store_failed = false;
  if (torrent.WriteDatabaseRow(m_database, with_nodes, finished, store_failed)) return true;
  if (store_failed) Failed(torrent);
  return false;
}

bool DatabaseStore::Finish(const std::string& info_hash, std::wstring& error) {
  CTorrentDataTable* table = m_database.TorrentData();
  const std::optional<CTorrentDataTable::Stored> stored = table ? table->LookUp(info_hash) : std::nullopt;
  if (stored && stored->id == 0) return true;  // the store never had it
  if (stored) {
    table->id = stored->id;
    if (table->Finish()) return true;
  }
  error = LastError();
  return false;
}

bool DatabaseStore::CarryOutRemovals() {
  return m_queue.CarryOutRemovals(
      [this](const std::string& info_hash, std::wstring& error) { return Finish(info_hash, error); });
}

bool DatabaseStore::Remove(TorrentItem& torrent) {
  if (torrent.Handle().is_null()) return true;
  // The removal is kept until the store takes it: the torrent must not
  // come back at the next start. Its files go now.
  m_queue.RemovalWaits(HashOf(torrent), torrent.FileName());
  m_fromWaitingFile.erase(HashOf(torrent));
  Reachable();
  CarryOutRemovals();
  return true;
}

bool DatabaseStore::ReadMetainfo(TorrentItem& torrent, std::string& bytes) {
  CTorrentDataTable* table = m_database.TorrentData();
  const std::uint32_t id = table ? table->FindIdByInfoHash(HashOf(torrent)) : 0;
  if (id && table->SelectById(id) && !table->meta_data.empty()) {
    bytes = table->meta_data;
    return true;
  }
  // A torrent whose row does not hold it yet has its copy.
  if (torrent.ReadTorrentCopy(bytes)) return true;
  torrent.Log(LastError());
  return false;
}

void DatabaseStore::MetadataReceived(TorrentItem& torrent, const std::wstring& target) {
  Reachable();
  if (torrent.StoreMetadataInDatabase(m_database)) return;
  // Kept as a copy until the store takes it.
  if (torrent.WriteTorrentFile(target)) Failed(torrent);
}

void DatabaseStore::ConnectStoredPeers(TorrentItem& torrent) { torrent.ConnectDatabasePeers(m_database); }

void DatabaseStore::Retry(CTorrentListe& list) {
  if (m_queue.SavesWaiting() == 0 && m_queue.RemovalsWaiting() == 0) return;
  const std::uint32_t now = TickMs();
  if (!m_retrySoon && platform::elapsed_ms(now, m_lastRetry) < kStoreRetryMs) return;
  m_retrySoon = false;
  m_lastRetry = now;
  if (!Reachable()) return;
  if (!CarryOutRemovals()) return;
  Utf16IniFile unused;
  for (const auto& torrent : list) {
    if (!Waits(*torrent) || !torrent->IsValid()) continue;
    try {
      // Stops at the first that fails: the server is away again.
      if (!Save(*torrent, unused, false, nullptr)) return;
    } catch (const std::exception& e) {
      torrent->SaveFailed(Utf8ToWide(e.what()));
    }
  }
}

}  // namespace client
