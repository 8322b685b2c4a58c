#pragma once
// The application's name for one torrent of a session: a small value that
// finds its torrent again, under the proper lock, on every call. A handle
// whose torrent is gone throws invalid_handle.

#include <exception>

#include "engine/entry.h"
#include "engine/sha1_hash.h"
#include "engine/torrent_status.h"

namespace engine {

class session_impl;
class checker_impl;

class invalid_handle : public std::exception {
 public:
  const char* what() const noexcept override { return "invalid torrent handle used"; }
};

class torrent_handle {
 public:
  torrent_handle() = default;
  torrent_handle(session_impl* ses, checker_impl* checker, const sha1_hash& info_hash)
      : m_ses(ses), m_chk(checker), m_info_hash(info_hash) {}

  const sha1_hash& info_hash() const { return m_info_hash; }

  // True while the torrent waits in the checker or runs in the session.
  bool is_valid() const;
  bool is_paused() const;
  void pause() const;
  void resume() const;
  torrent_status status() const;
  // The torrent's fast-resume data; an undefined entry while it waits or is
  // checked, and without metadata.
  entry build_resume_data() const;

  friend bool operator==(const torrent_handle& a, const torrent_handle& b) {
    return a.m_ses == b.m_ses && a.m_info_hash == b.m_info_hash;
  }
  friend bool operator<(const torrent_handle& a, const torrent_handle& b) { return a.m_info_hash < b.m_info_hash; }

 private:
  friend class session_impl;
  friend class session;

  session_impl* m_ses = nullptr;
  checker_impl* m_chk = nullptr;
  sha1_hash m_info_hash;
};

}  // namespace engine
