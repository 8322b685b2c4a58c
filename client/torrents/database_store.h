#pragma once
// The torrents kept in the MySQL store ("Use Database"), with the queue of
// what its server has not taken yet between them. While the server is away
// (also from the start of a run) nothing the user does is lost:
// - a torrent whose row could not be written waits; a torrent added keeps
//   its .torrent copy in the data folder until its row holds the metainfo;
// - a removal waits, and is carried out once the server answers;
// - what waits is tried again every kStoreRetryMs, and at the end of the
//   run it is kept in the waiting file beside the list file (the torrents'
//   sections in the list file's format, their side files beside their
//   copies);
// - the next start that reaches the server carries out the removals that
//   waited, shows the torrents that waited (with their settings and totals
//   as they were at the end) and writes them to the store; one that starts
//   without the server shows the torrents whose copies are at hand.

#include "client/torrents/store_queue.h"
#include "client/torrents/torrent_store.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

class CTorrentDatabase;

namespace client {

// How often what waits for the store's server is tried again.
inline constexpr std::uint32_t kStoreRetryMs = 15000;

class DatabaseStore : public TorrentStore {
 public:
  using LogSink = std::function<void(const std::wstring&)>;
  // `database` may not be connected yet (its server away): it is tried
  // again with what waits.
  DatabaseStore(CTorrentDatabase& database, std::filesystem::path data_folder, LogSink log);

  bool InDatabase() const override { return true; }
  bool Restore(const RestoreOne& restore) override;
  bool Load(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) override;
  bool SaveAll(CTorrentListe& list) override;

  bool Save(TorrentItem& torrent, Utf16IniFile& list, bool pause, platform::file_batch* side_files) override;
  bool TakeMetainfo(TorrentItem& torrent, std::string_view metainfo, std::string_view name) override;
  void Added(TorrentItem& torrent) override;
  bool Update(TorrentItem& torrent, bool with_nodes, bool finished) override;
  bool Remove(TorrentItem& torrent) override;
  void Refused(TorrentItem& torrent) override { Remove(torrent); }
  bool ReadMetainfo(TorrentItem& torrent, std::string& bytes) override;
  void MetadataReceived(TorrentItem& torrent, const std::wstring& target) override;
  void ConnectStoredPeers(TorrentItem& torrent) override;
  void Retry(CTorrentListe& list) override;

  const StoreQueue& Queue() const { return m_queue; }
  // The torrent's row is behind: it waits for the server.
  bool Waits(const TorrentItem& torrent) const;
  std::filesystem::path WaitingFile() const { return m_waitingFile; }

 private:
  // Connected, or connected now (tried at most every kStoreRetryMs).
  bool Reachable();
  // Carries out one removal: the row finished, its trackers, resume data
  // and piece selection deleted.
  bool Finish(const std::string& info_hash, std::wstring& error);
  bool CarryOutRemovals();
  void Failed(const TorrentItem& torrent);
  void Saved(TorrentItem& torrent);
  std::wstring LastError() const;

  CTorrentDatabase& m_database;
  std::filesystem::path m_dataFolder;
  std::filesystem::path m_waitingFile;
  LogSink m_log;
  StoreQueue m_queue;
  // The torrent Restore makes now, when it waited at the end of the last
  // run, and the metainfo its row holds.
  struct Restoring {
    KeptTorrent kept;
    std::string metainfo;
  };
  std::optional<Restoring> m_restoring;
  // Torrents loaded from the waiting file whose side files are to go once
  // their rows are written.
  std::set<std::string> m_fromWaitingFile;
  std::uint32_t m_lastConnect = 0;
  std::uint32_t m_lastRetry = 0;
  bool m_retrySoon = false;
  bool m_closing = false;  // the run's last save is under way
  bool m_away = false;     // and the server did not take a torrent of it
};

}  // namespace client
