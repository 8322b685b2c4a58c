#pragma once
// How new torrents enter the program: a .torrent file (from the menu, the
// command line, a later instance, a drop or a finished URL download) or an
// info-hash with a tracker. The file is copied into the data folder under a
// name of its own, read, given a save folder (chosen automatically by the
// auto-save settings or asked for), made into a TorrentItem with its row,
// added to the engine session, registered with the DHT node, started when
// the queue has a free slot, and in store mode written to the store.
//
// A failed or cancelled add leaves nothing of its own behind and touches
// nothing it did not make: the copy it wrote is deleted, the row it made is
// dropped, and a torrent the program already has is not added again. A
// torrent whose removal is still under way is added once it is done.

#include "client/torrents/CTorrentListe.h"
#include "client/common/ui_services.h"
#include "client/torrents/dht_control.h"
#include "client/torrents/remove_sequence.h"
#include "client/net/net_workers.h"
#include "client/torrents/save_folder.h"
#include "client/torrents/torrent_queue.h"
#include "client/torrents/torrent_store.h"
#include "client/torrents/uri_list.h"
#include "client/net/url_download.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace engine {
class entry;
class torrent_metainfo;
}  // namespace engine

namespace client {

inline constexpr int kAddBlockSize = 16384;
// A .torrent file larger than this is refused before it is copied or read
// (real ones stay well below a few MiB).
inline constexpr std::uint64_t kMaxTorrentFileSize = std::uint64_t(64) << 20;
// Pieces above this size are logged (the torrent is still added).
inline constexpr std::int64_t kLargePieceSize = 4194304;
// What a placeholder .torrent of a torrent added by info-hash holds until
// its metadata arrives.
inline constexpr std::string_view kPlaceholderText = "Quillfern: temporary";

// The main window's side of adding.
class TorrentAdderHost {
 public:
  virtual ~TorrentAdderHost() = default;
  // Makes the torrent's row window (titled "Torrent", off-screen until the
  // rows are laid out); false when it cannot be made.
  virtual bool CreateTorrentRow(TorrentItem& torrent) = 0;
  // Rows came or went: lay them out again and repaint the window.
  virtual void RowsChanged() = 0;
  virtual void AddLogLine(const std::wstring& line) = 0;
  // The values every new torrent starts with (limits, seeding goal,
  // ratios).
  virtual void GiveTorrentDefaults(TorrentItem& torrent) = 0;
  // The save-folder dialog; none when the user cancelled.
  virtual std::optional<SaveFolderChoice> AskSaveFolder(const SaveFolderRequest& request) = 0;
  // Runs `work` later on the GUI thread; callable from any thread.
  virtual void PostToGui(std::function<void()> work) = 0;
  // The torrent is in the engine and in the list: it is written down at
  // once, so that a crash does not lose it.
  virtual void TorrentAdded(TorrentItem&) {}
};

class TorrentAdder {
 public:
  TorrentAdder(TorrentAdderHost& host, UiServices& ui, CTorrentListe& list, TorrentQueue& queue,
               TorrentEvents& events);

  // --- what the main window sets and reads

  std::string data_folder;            // ends in a separator
  TorrentControl* session = nullptr;  // none while the engine does not run
  DhtControl* dht = nullptr;          // none without a DHT node
  TorrentStore* store = nullptr;      // what keeps the new torrents (none: nothing)
  bool session_only = false;          // "This Session Only": new torrents stay paused
  AutoSaveSettings auto_save;
  // The current destination folder ("Last Destination") and priority
  // ("Last Priority", 0..2); an add leaves its choice here.
  std::string destination;
  int priority = 1;
  // The charts' rate scale (the global upload and download limits).
  double rate_scale_up = 0;
  double rate_scale_down = 0;
  FolderSpaceQuery folder_space = QueryFolderSpace;
  // The removals under way: an add of a torrent being removed is carried
  // out once its removal is done (none: it is refused as a duplicate).
  RemoveSequence* removals = nullptr;
  // URL downloads run on these workers (none: links are not taken), a few
  // at a time, and save into the folder.
  NetWorkers* downloads = nullptr;
  std::filesystem::path download_folder = std::filesystem::temp_directory_path();

  // --- the adds

  // `delete_source`: the file is a download of ours, deleted once copied.
  // A file above kMaxTorrentFileSize is refused with a log line. The path's
  // bytes are taken as they are, whatever the locale.
  // True when the torrent was added (or, without an engine, its row made).
  bool AddTorrentFile(const std::string& path, bool delete_source);
  // The hash as 40 hexadecimal digits; false for any other text, without
  // an engine, or for a torrent the program has.
  bool AddTorrentByHash(std::wstring_view info_hash, std::wstring_view tracker_url, std::wstring_view save_path);
  // Sets the destination and priority for a torrent of this name and size:
  // the automatic choice, else the dialog. False when the user cancelled.
  bool ChooseSavePath(std::wstring_view name, std::uint64_t required);

  // --- the routes

  // The command line of the first or of a later instance: a .torrent path
  // is added, anything else ignored.
  bool OpenCommandLine(std::string_view text);
  // A drop: every file added, every link downloaded; nothing when the drop
  // was refused.
  void OpenDropped(const DroppedItems& items);
  // The link is downloaded into the download folder (or waits while
  // kMaxRunningDownloads others run); the file is then added and deleted.
  // False when no download started or waits.
  bool OpenTorrentUrl(const std::string& url);

 private:
  // A name in the data folder that no file, side file or torrent of the
  // list uses.
  std::string FreeName(std::string_view name) const;
  // Appends the torrent and makes its row; null (the torrent gone) when the
  // row cannot be made.
  TorrentItem* AppendRow(std::unique_ptr<TorrentItem> torrent);
  void DropRow(TorrentItem* torrent);
  std::unique_ptr<TorrentItem> NewTorrent(const std::string& path);
  class OwnCopy;
  // The add of a copy in the data folder, from reading it on.
  bool AddCopy(const std::shared_ptr<OwnCopy>& file);
  // Whether the program has the torrent already; logs "duplicate torrent".
  bool IsDuplicate(const engine::sha1_hash& info_hash);
  // True when the torrent is being removed: `add` then runs once that is
  // done (logged).
  bool AddedAfterRemoval(const engine::sha1_hash& info_hash, const std::wstring& name, std::function<void()> add);
  bool AddToSession(TorrentItem& torrent, const engine::torrent_metainfo& info);
  void StartOrQueue(TorrentItem& torrent, const std::wstring& name);
  void Register(TorrentItem& torrent, const engine::entry& torrent_file);
  // The store takes the metainfo (store mode); true when it did.
  bool StoreRow(TorrentItem& torrent, std::string_view meta_data, std::string_view name);

  TorrentAdderHost& m_host;
  UiServices& m_ui;
  CTorrentListe& m_list;
  TorrentQueue& m_queue;
  TorrentEvents& m_events;
  DownloadQueue m_downloadQueue;
};

}  // namespace client
