#pragma once
// Waiting for a torrent to come through the checker into the session.

#include "engine/session/torrent_handle.h"
#include "engine/session/torrent_status.h"
#include "tests/support/wait.h"

namespace engine_test {

// Whether the torrent left the checker and runs in the session: not while it
// waits for its check, is checked or has its files allocated ("allocating"
// counts above the running states), nor once it is gone. Any handle whose
// status() tells the torrent's state.
template <class Handle>
bool left_the_checker(const Handle& h) {
  try {
    const int state = h.status().state;
    return state != engine::queued_for_checking && state != engine::checking_files && state != engine::allocating;
  } catch (const engine::invalid_handle&) {
    return false;
  }
}

// Waits until it has.
inline bool checked(const engine::torrent_handle& h) {
  return test_support::wait_until([&] { return left_the_checker(h); });
}

}  // namespace engine_test
