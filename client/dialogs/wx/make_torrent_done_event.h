#pragma once
// The make-torrent worker's result on its way to the dialog: queued from
// the worker's thread, the event owns its own copy of the result, and the
// dialog handles it on the GUI thread.

#include "client/dialogs/make_torrent_job.h"

#include <wx/event.h>

class MakeTorrentDoneEvent : public wxEvent {
 public:
  MakeTorrentDoneEvent(wxEventType type, int id, client::MakeTorrentResult result)
      : wxEvent(id, type), m_result(std::move(result)) {}

  const client::MakeTorrentResult& GetResult() const { return m_result; }
  wxEvent* Clone() const override { return new MakeTorrentDoneEvent(*this); }

 private:
  client::MakeTorrentResult m_result;
};

// The worker is done (made the file, was cancelled, or failed).
wxDECLARE_EVENT(EVT_APP_MAKE_TORRENT_DONE, MakeTorrentDoneEvent);
// The worker hashed a piece: position in GetInt(), range in GetExtraLong().
wxDECLARE_EVENT(EVT_APP_MAKE_TORRENT_PROGRESS, wxThreadEvent);
