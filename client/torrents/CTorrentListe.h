#pragma once
// The main window's torrents in their order, and the torrent list file
// "TorrentQueue.txt" written from them: the signature section, then one
// section per torrent in list order. The list owns its torrents; a removed
// torrent's place closes up behind it.

#include "client/torrents/torrent_item.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace client {

class Utf16IniFile;

// What reading the list file came to.
enum class ListFileRead {
  Whole,    // read whole, or missing (an empty list)
  SetAside, // damaged: kept aside; the list holds what could be read of it
  Failed,   // damaged and could not be set aside: it must not be written
};

// Reads the list file into `ini`. A file that did not read whole (not a
// regular file, not UTF-16LE starting with its mark, without the signature
// section first, or cut short: not ending in a line end) is never written
// over: it is renamed to "<name>.damaged" (or ".damaged.2", ".damaged.3",
// ... when that name is taken), `log` is told so, and `ini` holds what
// could be read of it: the signature first, then every section that was
// read whole (the one a cut went through is left out, so that its torrent
// is not restored with made-up totals).
ListFileRead LoadListFile(const std::filesystem::path& file, Utf16IniFile& ini,
                          const std::function<void(const std::wstring&)>& log);

class CTorrentListe {
 public:
  CTorrentListe() = default;
  virtual ~CTorrentListe();
  CTorrentListe(const CTorrentListe&) = delete;
  CTorrentListe& operator=(const CTorrentListe&) = delete;

  // Appends the torrent; always true.
  bool Add(std::unique_ptr<TorrentItem> torrent);
  // A walk over the torrents in order: First, then Next until it gives
  // null. One walk at a time.
  TorrentItem* First();
  TorrentItem* Next();
  std::size_t Count() const { return m_torrents.size(); }
  // Range-for over the torrents (as unique_ptr), without the walk's cursor.
  auto begin() const { return m_torrents.begin(); }
  auto end() const { return m_torrents.end(); }
  bool Contains(const TorrentItem* torrent) const;

  // Takes the torrent out (with its store rows and files when `with_files`)
  // and deletes it; false when it is not in the list.
  bool Remove(TorrentItem* torrent, bool with_files);
  // Told of every torrent that leaves for good (removed with its files),
  // before it is deleted.
  void SetRemovalListener(std::function<void(TorrentItem&)> listener) { m_onRemoved = std::move(listener); }
  // The first torrent with this info-hash, or null.
  TorrentItem* FindByHash(const engine::sha1_hash& info_hash) const;
  // The queued torrent to start next, other than `excluded`: the highest
  // priority, the earliest in the list among equals. Null when there is
  // none, or when the engine failed while the torrents were looked at.
  TorrentItem* PickNextQueued(const TorrentItem* excluded) const;
  // Pauses every torrent's engine torrent (one that fails does not stop the
  // others); true.
  bool PauseAll();
  // Re-announces every torrent that runs and is not a seed; true when at
  // least one was.
  bool ReannounceAll();
  // Every torrent's window repaints.
  void InvalidateAll();

  // Rewrites the list file whole (every torrent paused first). An empty
  // path writes no file: the torrents save to the store. False when the
  // file could not be written; the old one then stays as it was. A file
  // there that does not read whole is set aside first (LoadListFile).
  bool Save(const std::filesystem::path& list_file, const std::function<void(const std::wstring&)>& log = {});
  // The periodic save: the sections of the torrents that are not seeding
  // are written into the file as it stands; they keep running. A damaged
  // file is set aside first (LoadListFile, told to `log`).
  bool SaveUnfinished(const std::filesystem::path& list_file,
                      const std::function<void(const std::wstring&)>& log = {});
  // Each torrent's section into `ini` (its row into the store), the
  // seeds' too unless `skip_seeds`; `pause` pauses each first. A torrent
  // that cannot be saved is logged with its name and the reason; the others
  // are saved all the same. Side files are put in place at the end.
  void SaveTorrents(Utf16IniFile& ini, bool pause, bool skip_seeds);

 private:
  std::vector<std::unique_ptr<TorrentItem>> m_torrents;
  std::size_t m_cursor = 0;
  std::function<void(TorrentItem&)> m_onRemoved;
};

}  // namespace client
