#include "client/wx/delayed_calls.h"

#include <algorithm>

void DelayedCalls::Call::Notify() {
  // Done before it runs: the work may post more.
  std::function<void()> work = std::move(m_work);
  m_work = nullptr;
  work();
}

void DelayedCalls::Post(std::uint32_t ms, std::function<void()> work) {
  // Timers that fired are dropped here, never inside their own Notify.
  m_calls.remove_if([](const Call& call) { return call.Done(); });
  m_calls.emplace_back(std::move(work));
  m_calls.back().StartOnce(static_cast<int>(std::max<std::uint32_t>(ms, 1)));
}

std::size_t DelayedCalls::Waiting() const {
  return static_cast<std::size_t>(std::count_if(m_calls.begin(), m_calls.end(), [](const Call& c) { return !c.Done(); }));
}
