#pragma once
// At most MaxActiveTorrent torrents run at once; the others wait, queued,
// and start by priority when a slot comes free.
//
// The active count is shown in the window title and follows the main
// window's events; before it fills free slots the queue counts the running
// torrents afresh, since torrents also stop without telling (a "Pause All",
// the engine pausing a torrent on a file error).

#include "client/torrents/CTorrentListe.h"

#include <cstdint>
#include <functional>
#include <string>

namespace client {

class TorrentQueue {
 public:
  TorrentQueue(CTorrentListe& list, std::function<void(std::wstring)> log)
      : m_list(list), m_log(std::move(log)) {}

  void SetMaxActive(std::uint32_t max_active) { m_maxActive = max_active; }
  std::uint32_t MaxActive() const { return m_maxActive; }
  std::uint32_t ActiveCount() const { return m_active; }

  // The engine (re)started: nothing runs.
  void ResetActive() { m_active = 0; }
  // A torrent was started by the program, or started itself.
  void OnTorrentStarted() { ++m_active; }
  // A torrent stopped.
  void OnTorrentStopped();
  // A torrent was removed; it held a slot unless its engine torrent was
  // paused.
  void OnTorrentRemoved(bool was_paused);

  // The torrents of the list that were started and run.
  std::uint32_t CountActive() const;
  // The count becomes the torrents that run now (after a "Pause All",
  // which tells nothing torrent by torrent).
  void Recount() { m_active = CountActive(); }
  // Starts queued torrents, best first, while slots are free; `excluded`
  // (the torrent that just stopped, or null) is not started. A torrent
  // that fails to start is logged and the next one tried.
  void StartNextQueued(const TorrentItem* excluded);

 private:
  CTorrentListe& m_list;
  std::function<void(std::wstring)> m_log;
  std::uint32_t m_maxActive = 4;
  std::uint32_t m_active = 0;
};

}  // namespace client
