#include "client/common/wx/fd_watch.h"

#include <wx/evtloop.h>

FdWatch::FdWatch(int fd, std::function<void()> readable) : m_readable(std::move(readable)) {
  m_source = wxEventLoopBase::AddSourceForFD(fd, this, wxEVENT_SOURCE_INPUT | wxEVENT_SOURCE_EXCEPTION);
  if (!m_source) {
    m_poll.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_readable(); });
    m_poll.Start(100);
  }
}

FdWatch::~FdWatch() { delete m_source; }
