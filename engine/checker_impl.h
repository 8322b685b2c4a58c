#pragma once
// The checking side of the session: torrents added with their metainfo wait
// here, one is checked at a time, and checked torrents are handed to the
// session's torrent map. Its lock is taken after the session lock wherever
// both are held.
//
// No storage exists yet, so there is nothing to check: a waiting torrent is
// handed over as it is. The file check and the fast-resume reading slot in
// between taking a record off the queue and the hand-over.

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/address.h"
#include "engine/entry.h"
#include "engine/sha1_hash.h"

namespace engine {

class session_impl;
class torrent;

struct piece_checker_data {
  std::shared_ptr<torrent> torrent_ptr;
  std::filesystem::path save_path;
  sha1_hash info_hash;
  std::vector<address> peers;
  entry resume_data;
  bool processing = false;
  float progress = 0;
  bool abort = false;
};

class checker_impl {
 public:
  explicit checker_impl(session_impl& ses) : m_ses(ses) {}

  // The checker thread's body; returns once the abort flag is set.
  void operator()();

  // Caller holds m_mutex: the record of the waiting queue, else of the
  // in-progress queue, else null.
  piece_checker_data* find_torrent(const sha1_hash& info_hash);
  // Caller holds m_mutex: a record in progress is flagged to abort, a
  // waiting one leaves the queue.
  void remove_torrent(const sha1_hash& info_hash);

  session_impl& m_ses;
  std::mutex m_mutex;
  std::condition_variable m_cond;
  std::deque<std::shared_ptr<piece_checker_data>> m_torrents;
  std::deque<std::shared_ptr<piece_checker_data>> m_processing;
  bool m_abort = false;
};

}  // namespace engine
