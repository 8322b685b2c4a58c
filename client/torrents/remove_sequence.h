#pragma once
// Removing a torrent the user chose "Remove" for, and the main window's
// answer to a torrent that stopped by itself.
//
// A removal runs in this order: the store row is marked finished, the DHT
// node forgets the info-hash, the torrent leaves the list with its files
// and its row, its slot leaves the active count (which counts the rows
// shown), the engine is told to drop it; then the removal waits for the
// engine torrent to go, and only after that starts the next queued
// torrent. The wait is no loop: Poll, called from a timer, finishes the
// removals whose engine torrent is gone, or which waited longer than
// kRemoveWaitMs (an engine that keeps a torrent must not hold the queue for
// ever).
//
// Until the engine has let go, the torrent is neither shown nor gone: the
// engine still has its info-hash and refuses it as a duplicate. An add of
// it meanwhile is kept (AfterRemoval) and carried out once the removal is
// over, as the add of a new torrent.

#include "client/torrents/CTorrentListe.h"
#include "client/torrents/dht_control.h"
#include "client/torrents/torrent_control.h"
#include "client/torrents/torrent_queue.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace client {

// How often a waiting removal looks at its engine torrent, and for how long.
inline constexpr std::uint32_t kRemovePollMs = 20;
inline constexpr std::uint32_t kRemoveWaitMs = 30000;

class RemoveSequence {
 public:
  // What the sequence works on; the getters may answer null (no engine, no
  // DHT node).
  struct Parts {
    CTorrentListe& list;
    TorrentQueue& queue;
    std::function<TorrentControl*()> session;
    std::function<DhtControl*()> dht;
    // DB mode (a store) and "This Session Only".
    std::function<bool()> database;
    std::function<bool()> session_only;
    // The rows came or went.
    std::function<void()> rows_changed;
    std::function<void(std::wstring)> log;
  };

  explicit RemoveSequence(Parts parts) : m_parts(std::move(parts)) {}

  // Removes the torrent (it is deleted here). True when a wait for the
  // engine began: Poll then finishes it.
  bool Remove(TorrentItem& torrent, int status);
  // A torrent stopped itself (seeding goal, user pause or queue).
  void Stopped(TorrentItem& torrent, int status);

  // Finishes the removals whose engine torrent went or whose wait timed
  // out, then carries out the adds kept for them; true while others still
  // wait.
  bool Poll();
  bool Waiting() const { return !m_waiting.empty(); }
  // True when the torrent of this info-hash is being removed: `add` then
  // runs once its removal is over (not when the sequence goes first).
  bool AfterRemoval(const engine::sha1_hash& info_hash, std::function<void()> add);
  // At exit: waits, at most `wait_ms`, for the removals that have adds kept,
  // so that those adds are carried out (and saved with the list) rather than
  // lost; true when none is left.
  bool FinishKeptAdds(std::uint32_t wait_ms);

 private:
  struct Waiter {
    TorrentHandle handle;
    std::uint32_t since = 0;
    std::vector<std::function<void()>> adds;
  };
  void Finish();

  Parts m_parts;
  std::vector<Waiter> m_waiting;
};

}  // namespace client
