#pragma once
// Work run once on the GUI thread after a delay, each on a one-shot timer
// of its own. Whatever is still waiting is dropped with this object.

#include <wx/timer.h>

#include <cstdint>
#include <functional>
#include <list>

class DelayedCalls {
 public:
  DelayedCalls() = default;
  DelayedCalls(const DelayedCalls&) = delete;
  DelayedCalls& operator=(const DelayedCalls&) = delete;

  void Post(std::uint32_t ms, std::function<void()> work);
  // Drops everything waiting.
  void Cancel() { m_calls.clear(); }
  std::size_t Waiting() const;

 private:
  class Call : public wxTimer {
   public:
    explicit Call(std::function<void()> work) : m_work(std::move(work)) {}
    void Notify() override;
    bool Done() const { return !m_work; }

   private:
    std::function<void()> m_work;
  };

  std::list<Call> m_calls;
};
