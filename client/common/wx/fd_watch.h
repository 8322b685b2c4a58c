#pragma once
// Calls back on the GUI thread when a descriptor becomes readable: through
// the event loop's descriptor watch, or a short poll where there is none.
// The watch is the loop's own source, so it also calls back while a modal
// dialog or a toolkit message box runs its nested loop.

#include <wx/evtloopsrc.h>
#include <wx/timer.h>

#include <functional>

class FdWatch : private wxEventLoopSourceHandler {
 public:
  FdWatch(int fd, std::function<void()> readable);
  ~FdWatch() override;
  FdWatch(const FdWatch&) = delete;
  FdWatch& operator=(const FdWatch&) = delete;

 private:
  void OnReadWaiting() override { m_readable(); }
  void OnWriteWaiting() override {}
  void OnExceptionWaiting() override { m_readable(); }

  std::function<void()> m_readable;
  wxEventLoopSource* m_source = nullptr;
  wxTimer m_poll;
};
