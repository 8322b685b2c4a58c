#pragma once
// The torrents kept in the list file "TorrentQueue.txt" (one section per
// torrent) and beside their .torrent copies in the data folder (the side
// files ".ResumeData" and ".FilterData").

#include "client/torrents/torrent_store.h"

#include <filesystem>
#include <functional>
#include <string>

namespace client {

class ListFileStore : public TorrentStore {
 public:
  using LogSink = std::function<void(const std::wstring&)>;
  // In session-only mode (`session_only`) the list file is never changed.
  ListFileStore(std::filesystem::path data_folder, std::filesystem::path list_file, bool session_only, LogSink log);

  bool InDatabase() const override { return false; }
  // The .torrent files of the data folder in the order of their names,
  // with their sections. A damaged list file is set aside (and what could
  // be read of it written down at once).
  bool Restore(const RestoreOne& restore) override;
  bool Load(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) override;
  // The list file is rewritten whole; the sections of torrent files that
  // did not load at the start are kept. Nothing changes it afterwards.
  bool SaveAll(CTorrentListe& list) override;

  bool Save(TorrentItem& torrent, Utf16IniFile& list, bool pause, platform::file_batch* side_files) override;
  // The copy in the data folder keeps the metainfo.
  bool TakeMetainfo(TorrentItem&, std::string_view, std::string_view) override { return false; }
  // Its section goes into the list file as it stands.
  void Added(TorrentItem& torrent) override;
  bool Update(TorrentItem&, bool, bool) override { return true; }
  // Its section goes from the list file.
  bool Remove(TorrentItem& torrent) override;
  void Refused(TorrentItem& torrent) override { Remove(torrent); }
  bool ReadMetainfo(TorrentItem& torrent, std::string& bytes) override;
  void MetadataReceived(TorrentItem& torrent, const std::wstring& target) override;
  void ConnectStoredPeers(TorrentItem&) override {}

 private:
  // Changes the list file as it stands; a file that cannot be read is
  // left alone.
  void UpdateListFile(const std::function<void(Utf16IniFile&)>& change);

  std::filesystem::path m_dataFolder;
  std::filesystem::path m_listFile;
  bool m_sessionOnly;
  LogSink m_log;
  // Torrent files of the data folder that did not load: their sections of
  // the list file are kept at the end of the run.
  bool m_unloaded = false;
  bool m_closed = false;  // the run's last save is done
};

}  // namespace client
