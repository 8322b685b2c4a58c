#pragma once
// The checking side of the session: torrents added with their metainfo wait
// here, one is checked at a time, and checked torrents are handed to the
// session's torrent map. Its lock is taken after the session lock wherever
// both are held.
//
// A waiting torrent's fast-resume data is read first; when it shows the
// files as they are, the torrent goes straight to the session, otherwise its
// files are checked in steps, one torrent at a time, so that progress, aborts
// and new torrents are seen between steps.
//
// Who owns a torrent: one added with its metainfo belongs to the checker
// (under its lock) until the hand-over puts it into the session's map; from
// then on, and from the start for one added by info-hash, it belongs to the
// session and its network thread (under the session lock). A torrent moves
// one way only, from the checker to the session, under both locks. When a
// torrent of the session gets its metadata from its peers it stays there with
// its connections; the checker checks its files off to the side, in a record
// that does not own the torrent, and the hand-over installs the result.
//
// The check itself works on the record alone (its copy of the metainfo, the
// storage, whose piece manager has a lock of its own, and the have bits it
// finds) and never touches the torrent outside the hand-over.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/formats/entry.h"
#include "engine/formats/sha1_hash.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/net/address.h"
#include "engine/session/piece_picker.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent_status.h"
#include "platform/mutex.h"

namespace engine {

class torrent;
class piece_manager;

struct piece_checker_data {
  // Fills peers, piece map and unfinished pieces from `resume` (read for a
  // torrent of `block_size` byte blocks), or leaves them empty and tells why
  // in `error`; see parse_resume_data in fast_resume.h.
  void parse_resume_data(const entry& resume, const torrent_metainfo& info, int block_size, std::string& error);
  // Takes accepted fast-resume data: true when the files need no full check.
  bool check_fastresume();
  // One step of the full check: (finished, progress).
  std::pair<bool, float> check_files();
  // What the handle reports while the torrent is being checked.
  torrent_status status(bool paused) const;
  // The torrent this record checks for: the one it owns, else the one of
  // the session it names (null once that one is gone).
  std::shared_ptr<torrent> target() const;

  // The torrent while it waits here; null for a torrent that runs in the
  // session meanwhile, which `running` names without keeping it alive.
  std::shared_ptr<torrent> torrent_ptr;
  std::weak_ptr<torrent> running;
  std::filesystem::path save_path;
  sha1_hash info_hash;

  // Given by the torrent's owner before the check starts (torrent::prepare_check).
  torrent_metainfo info;
  int block_size = 0;
  bool compact_mode = true;
  std::shared_ptr<piece_manager> storage;

  // What the check finds, for the hand-over.
  std::vector<bool> have;
  std::vector<address> peers;
  std::vector<int> piece_map;
  std::vector<piece_picker::downloading_piece> unfinished_pieces;
  entry resume_data;
  // Written under the checker lock, read by status queries under either lock.
  std::atomic<bool> processing{false};
  std::atomic<float> progress{0};
  bool abort = false;
  // In the waiting queue (not yet moved on to the in-progress queue).
  bool waiting = true;
};

class checker_impl {
 public:
  explicit checker_impl(session_impl& ses) : m_ses(ses) {}

  // The checker thread's body; returns once the abort flag is set.
  void operator()();

  // Caller holds m_mutex: the record of the waiting queue, else of the
  // in-progress queue, else null.
  piece_checker_data* find_torrent(const sha1_hash& info_hash) REQUIRES(m_mutex);
  // Caller holds m_mutex: the record of a torrent that the checker owns
  // (not one that runs in the session while its files are checked), or null.
  piece_checker_data* find_owned_torrent(const sha1_hash& info_hash) REQUIRES(m_mutex);
  // Caller holds m_mutex: a record in progress is flagged to abort, a
  // waiting one leaves the queue.
  void remove_torrent(const sha1_hash& info_hash) REQUIRES(m_mutex);
  // Caller holds m_mutex: queues a record and wakes the checker thread.
  void queue(std::shared_ptr<piece_checker_data> d) REQUIRES(m_mutex);

  session_impl& m_ses;
  // Taken after the session's lock where both are held.
  platform::mutex m_mutex;

  std::condition_variable m_cond;
  std::deque<std::shared_ptr<piece_checker_data>> m_torrents GUARDED_BY(m_mutex);
  std::deque<std::shared_ptr<piece_checker_data>> m_processing GUARDED_BY(m_mutex);
  bool m_abort GUARDED_BY(m_mutex) = false;

 private:
  // The records of both queues by info-hash, so that look-ups do not walk
  // the queues (thousands of torrents wait here after a start). Records
  // enter the queues through queue() only, and leave through the members
  // below.
  std::unordered_multimap<sha1_hash, piece_checker_data*> m_index GUARDED_BY(m_mutex);
  void forget(const piece_checker_data& d) REQUIRES(m_mutex);
  // Checker lock held: `d` leaves the waiting queue; false when it was
  // removed meanwhile.
  bool leave_waiting(const std::shared_ptr<piece_checker_data>& d) REQUIRES(m_mutex);
  // Takes the waiting record `d` through its fast-resume data: true when it
  // was handed over (or dropped), false when its files need a full check.
  bool take_waiting(const std::shared_ptr<piece_checker_data>& d) EXCLUDES(m_mutex);
  // One step of the check of the record in progress.
  void check_step(const std::shared_ptr<piece_checker_data>& d) EXCLUDES(m_mutex);
  // Both locks held: the check's result goes to the torrent, which enters
  // the session unless it runs there already.
  void hand_over(piece_checker_data& d) REQUIRES(m_ses.mutex(), m_mutex);
  // Both locks held: a check that ends without a result. A torrent that
  // waited here leaves unseen; one that runs in the session (its peers sent
  // the metadata) is aborted, so that the network thread closes its peers.
  void drop(piece_checker_data& d) REQUIRES(m_ses.mutex(), m_mutex);
  // Checker lock held: `d` leaves the in-progress queue and the next one
  // (if any) is in progress.
  void finish_processing(const std::shared_ptr<piece_checker_data>& d) REQUIRES(m_mutex);
};

}  // namespace engine
