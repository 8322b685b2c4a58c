#pragma once
// Work handed to the GUI thread from any thread, as an event queued on the
// application object (which outlives every window). The queued event owns
// its work and whatever that carries; it runs on the GUI thread only while
// the mailbox still exists, and is dropped (its payload freed) otherwise,
// so a message that arrives after its window went reaches nothing.
//
// The mailbox must outlive every thread that posts to it.

#include <functional>
#include <memory>

class GuiMailbox {
 public:
  GuiMailbox() : m_open(std::make_shared<bool>(true)) {}
  // Work still queued is dropped when it comes up.
  ~GuiMailbox() { Close(); }
  GuiMailbox(const GuiMailbox&) = delete;
  GuiMailbox& operator=(const GuiMailbox&) = delete;

  // GUI thread: from now on queued and later work is dropped (the owner
  // is shutting down).
  void Close() { *m_open = false; }

  // Any thread. Without an application object the work is dropped.
  void Post(std::function<void()> work) const;

 private:
  // Read and cleared on the GUI thread only; the worker only copies the
  // pointer.
  std::shared_ptr<bool> m_open;
};
