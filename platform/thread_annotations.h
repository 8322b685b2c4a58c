#pragma once
// Which lock guards which data, and which functions need it held, written
// where the compiler can check it: clang's thread-safety analysis
// (-Wthread-safety, the build of QF_THREAD_SAFETY_CHECK) proves that every
// access to a GUARDED_BY member holds its lock and that every call to a
// REQUIRES function comes with it. Other compilers see nothing.
//
// The locks themselves are platform::mutex and platform::mutex_lock, and
// platform::shared_mutex with its two scoped locks (platform/mutex.h): std::mutex and std::lock_guard carry no annotations.

#if defined(__clang__)
#define QF_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QF_THREAD_ANNOTATION(x)
#endif

// A type that is a lock.
#define CAPABILITY(name) QF_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock from construction to destruction.
#define SCOPED_CAPABILITY QF_THREAD_ANNOTATION(scoped_lockable)
// A member read and written only with the lock held.
#define GUARDED_BY(lock) QF_THREAD_ANNOTATION(guarded_by(lock))
// A pointer member whose target is read and written only with the lock held.
#define PT_GUARDED_BY(lock) QF_THREAD_ANNOTATION(pt_guarded_by(lock))
// Lock order: this lock is taken after / before the others, never the other
// way round.
#define ACQUIRED_AFTER(...) QF_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define ACQUIRED_BEFORE(...) QF_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
// The caller holds the locks.
#define REQUIRES(...) QF_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) QF_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes / lets go of the locks (no argument: the object's own).
#define ACQUIRE(...) QF_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QF_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The same for a lock held shared (readers).
#define ACQUIRE_SHARED(...) QF_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) QF_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QF_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// The caller does not hold the locks (the function takes them itself).
#define EXCLUDES(...) QF_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function returns a reference to this lock.
#define RETURN_CAPABILITY(lock) QF_THREAD_ANNOTATION(lock_returned(lock))
// Outside the analysis: for the few functions whose locking it cannot follow
// (say why at each).
#define NO_THREAD_SAFETY_ANALYSIS QF_THREAD_ANNOTATION(no_thread_safety_analysis)
