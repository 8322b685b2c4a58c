#pragma once
// A std::mutex and its scoped lock, and a std::shared_mutex with a scoped
// lock for each of its two ways, that clang's thread-safety analysis knows as
// locks (platform/thread_annotations.h). All are as cheap as the standard ones
// they wrap.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

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

// Many holders at a time (shared) or one alone (exclusive).
class CAPABILITY("mutex") shared_mutex {
 public:
  shared_mutex() = default;
  shared_mutex(const shared_mutex&) = delete;
  shared_mutex& operator=(const shared_mutex&) = delete;

  void lock() ACQUIRE() { m_mutex.lock(); }
  void unlock() RELEASE() { m_mutex.unlock(); }
  void lock_shared() ACQUIRE_SHARED() { m_mutex.lock_shared(); }
  void unlock_shared() RELEASE_SHARED() { m_mutex.unlock_shared(); }

 private:
  std::shared_mutex m_mutex;
};

// Holds the shared mutex alone from construction to destruction.
class SCOPED_CAPABILITY exclusive_lock {
 public:
  explicit exclusive_lock(shared_mutex& m) ACQUIRE(m) : m_mutex(m) { m.lock(); }
  ~exclusive_lock() RELEASE() { m_mutex.unlock(); }
  exclusive_lock(const exclusive_lock&) = delete;
  exclusive_lock& operator=(const exclusive_lock&) = delete;

 private:
  shared_mutex& m_mutex;
};

// Holds the shared mutex shared from construction to destruction.
class SCOPED_CAPABILITY shared_lock {
 public:
  explicit shared_lock(shared_mutex& m) ACQUIRE_SHARED(m) : m_mutex(m) { m.lock_shared(); }
  ~shared_lock() RELEASE() { m_mutex.unlock_shared(); }
  shared_lock(const shared_lock&) = delete;
  shared_lock& operator=(const shared_lock&) = delete;

 private:
  shared_mutex& m_mutex;
};

}  // namespace platform
