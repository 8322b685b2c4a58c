#pragma once
// Where the torrents are kept between runs. The torrents, the list and the
// main window reach it through this one interface; behind it is either
// - the list file "TorrentQueue.txt" with the .torrent copies and side
//   files in the data folder (ListFileStore), or
// - the MySQL store ("Use Database"), with the queue of what its server has
//   not taken yet, kept in the data folder between runs (DatabaseStore).
// Everything here runs on the GUI thread.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace platform {
class file_batch;
}

namespace client {

class CTorrentListe;
class DhtControl;
class TorrentItem;
class Utf16IniFile;

class TorrentStore {
 public:
  virtual ~TorrentStore() = default;

  // The torrents live in the store's rows (the main window keeps no
  // downloads log then, and the row menu offers the stored peers).
  virtual bool InDatabase() const = 0;

  // --- a run's start and end

  // The kept torrents, in their order: `restore` makes the torrent of each
  // path and loads it (Load, with `list` as the list file read), and says
  // whether it loaded. False when there was nothing to restore.
  using RestoreOne = std::function<bool(const std::wstring& path, const Utf16IniFile& list)>;
  virtual bool Restore(const RestoreOne& restore) = 0;
  // Loads the torrent being restored, adding it to its session, paused;
  // false when it does not load.
  virtual bool Load(TorrentItem& torrent, const Utf16IniFile& list, DhtControl* dht) = 0;
  // The end of the run: every torrent is paused and written; what cannot
  // be written now is kept for the next run. False when the list could
  // not be written.
  virtual bool SaveAll(CTorrentListe& list) = 0;

  // --- one torrent

  // Writes the torrent's settings and engine state (its section into
  // `list`, the list file being written, its side files put in place when
  // `side_files` commits; or its rows); with `pause` the engine torrent
  // pauses first. False when nothing was written.
  virtual bool Save(TorrentItem& torrent, Utf16IniFile& list, bool pause, platform::file_batch* side_files) = 0;
  // A torrent new in this run: its metainfo bytes (empty for one known by
  // its info-hash) are taken where the store keeps them; true when the
  // store took them, so that the copy in the data folder can go.
  virtual bool TakeMetainfo(TorrentItem& torrent, std::string_view metainfo, std::string_view name) = 0;
  // It is written down at once (added, or its metadata came).
  virtual void Added(TorrentItem& torrent) = 0;
  // Its settings and totals changed (it stopped, or is being removed:
  // `finished`); `with_nodes` keeps its peers too.
  virtual bool Update(TorrentItem& torrent, bool with_nodes, bool finished) = 0;
  // It leaves for good: what is kept of it goes, now or once the store can.
  // False when it cannot go (its files are kept then).
  virtual bool Remove(TorrentItem& torrent) = 0;
  // The engine let go of a torrent added in this run (it refused it): what
  // is kept of it goes like a removal's.
  virtual void Refused(TorrentItem& torrent) = 0;
  // Its .torrent's bytes (for a re-add); false when they cannot be read
  // (logged).
  virtual bool ReadMetainfo(TorrentItem& torrent, std::string& bytes) = 0;
  // The swarm sent the metadata of a torrent known by its info-hash: its
  // .torrent is kept (written to `target`, empty: the torrent's own path).
  virtual void MetadataReceived(TorrentItem& torrent, const std::wstring& target) = 0;
  // The engine torrent connects to the peers the store keeps for it.
  virtual void ConnectStoredPeers(TorrentItem& torrent) = 0;

  // Called at every main timer tick: what waits is tried again now and then.
  virtual void Retry(CTorrentListe&) {}
};

}  // namespace client
