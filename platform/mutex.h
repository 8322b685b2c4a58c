#pragma once
// A std::mutex and its scoped lock that clang's thread-safety analysis knows
// as a lock (platform/thread_annotations.h). Both are as cheap as the
// standard ones they wrap.

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/thread_annotations.h"

namespace platform {

class CAPABILITY("mutex") mutex {
 public:
  mutex() = default;
  mutex(const mutex&) = delete;
  mutex& operator=(const mutex&) = delete;

  void lock() ACQUIRE() { m_mutex.lock(); }
  void unlock() RELEASE() { m_mutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return m_mutex.try_lock(); }

 private:
  friend class mutex_lock;
  std::mutex m_mutex;
};

// Holds the mutex from construction to destruction, or between unlock and
// lock; waits on a std::condition_variable with it.
class SCOPED_CAPABILITY mutex_lock {
 public:
  explicit mutex_lock(mutex& m) ACQUIRE(m) : m_lock(m.m_mutex) {}
  ~mutex_lock() RELEASE() {}
  mutex_lock(const mutex_lock&) = delete;
  mutex_lock& operator=(const mutex_lock&) = delete;

  void lock() ACQUIRE() { m_lock.lock(); }
  void unlock() RELEASE() { m_lock.unlock(); }

  // The mutex is let go while waiting and held again on return, so that to
  // the analysis it stays held. A predicate that reads guarded members says
  // so: [&]() REQUIRES(m) { ... }.
  void wait(std::condition_variable& cv) { cv.wait(m_lock); }
  template <class Pred>
  void wait(std::condition_variable& cv, Pred pred) {
    cv.wait(m_lock, pred);
  }
  template <class Clock, class Duration, class Pred>
  bool wait_until(std::condition_variable& cv, const std::chrono::time_point<Clock, Duration>& until, Pred pred) {
    return cv.wait_until(m_lock, until, pred);
  }
  template <class Rep, class Period, class Pred>
  bool wait_for(std::condition_variable& cv, const std::chrono::duration<Rep, Period>& time, Pred pred) {
    return cv.wait_for(m_lock, time, pred);
  }

 private:
  std::unique_lock<std::mutex> m_lock;
};

}  // namespace platform
