#pragma once
// Whether a session still exists, shared by the session and every handle it
// gave out (handles may outlive it: the program's windows keep theirs). A
// handle call holds it shared for its whole length; the session ends it,
// holding it alone, before any part of it goes, so that the end waits for a
// call under way and every later call finds no session.

#include <memory>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace engine {

class session_impl;
class checker_impl;

class session_lifetime {
 public:
  explicit session_lifetime(session_impl* ses) : m_ses(ses) {}

  // The lifetime of the null handle: one that has always ended.
  static const std::shared_ptr<const session_lifetime>& none();

  // Runs f(session, checker) with the session kept from ending until f
  // returns; both are null once the session has ended (the checker is also
  // null for a session that runs without one).
  template <class F>
  auto hold(F f) const EXCLUDES(m_mutex) {
    platform::shared_lock l(m_mutex);
    return f(m_ses, m_chk);
  }

  void set_checker(checker_impl* checker) EXCLUDES(m_mutex) {
    platform::exclusive_lock l(m_mutex);
    m_chk = checker;
  }

  // Waits for the calls under way; no call finds the session after this.
  void end() EXCLUDES(m_mutex) {
    platform::exclusive_lock l(m_mutex);
    m_ses = nullptr;
    m_chk = nullptr;
  }

 private:
  mutable platform::shared_mutex m_mutex;
  session_impl* m_ses GUARDED_BY(m_mutex);
  checker_impl* m_chk GUARDED_BY(m_mutex) = nullptr;
};

}  // namespace engine
