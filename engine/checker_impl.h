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

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/address.h"
#include "engine/entry.h"
#include "engine/piece_picker.h"
#include "engine/torrent_metainfo.h"
#include "engine/sha1_hash.h"

namespace engine {

class session_impl;
class torrent;

struct piece_checker_data {
  // Fills peers, piece map and unfinished pieces from `resume` (read for a
  // torrent of `block_size` byte blocks), or leaves them empty and tells why
  // in `error`; see parse_resume_data in fast_resume.h.
  void parse_resume_data(const entry& resume, const torrent_metainfo& info, int block_size, std::string& error);

  std::shared_ptr<torrent> torrent_ptr;
  std::filesystem::path save_path;
  sha1_hash info_hash;
  std::vector<address> peers;
  std::vector<int> piece_map;
  std::vector<piece_picker::downloading_piece> unfinished_pieces;
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

 private:
  // Takes the waiting record `d` through its fast-resume data: true when it
  // was handed over (or dropped), false when its files need a full check.
  bool take_waiting(const std::shared_ptr<piece_checker_data>& d);
  // One step of the check of the record in progress.
  void check_step(const std::shared_ptr<piece_checker_data>& d);
  // Both locks held: the checked torrent enters the session.
  void hand_over(piece_checker_data& d);
  // Both locks held: a torrent that leaves the checker without entering the
  // session; one that has peers (its metadata came from them) enters it
  // aborted, so that the network thread closes them.
  void drop(piece_checker_data& d);
  // Checker lock held: `d` leaves the in-progress queue and the next one
  // (if any) is in progress.
  void finish_processing(const std::shared_ptr<piece_checker_data>& d);
};

}  // namespace engine
