#include "client/torrents/wx/CPlatsch.h"

#include <wx/dataobj.h>
#include <wx/window.h>

namespace {

const wxDataFormat& UriListFormat() {
  static const wxDataFormat format("text/uri-list");
  return format;
}

}  // namespace

CPlatsch::CPlatsch(wxWindow* window, client::TorrentAdder& adder)
    : wxDropTarget(new wxCustomDataObject(UriListFormat())), m_window(window), m_adder(adder) {}

wxDragResult CPlatsch::OnEnter(wxCoord x, wxCoord y, wxDragResult def) { return OnDragOver(x, y, def); }

wxDragResult CPlatsch::OnDragOver(wxCoord, wxCoord, wxDragResult def) {
  // Files are copied, links fetched; which it is shows only at the drop.
  return def == wxDragNone ? wxDragNone : wxDragCopy;
}

wxDragResult CPlatsch::OnData(wxCoord, wxCoord, wxDragResult def) {
  if (!GetData()) return wxDragNone;
  const auto* data = static_cast<wxCustomDataObject*>(GetDataObject());
  return Dropped(std::string_view(static_cast<const char*>(data->GetData()), data->GetSize()), def);
}

wxDragResult CPlatsch::Dropped(std::string_view uri_list, wxDragResult def) {
  // Some senders end the list with a NUL.
  if (const std::size_t nul = uri_list.find('\0'); nul != std::string_view::npos) uri_list = uri_list.substr(0, nul);
  client::DroppedItems items = client::ParseUriList(uri_list);
  if (!items.Accepted()) return wxDragNone;
  // Not inside the drag: adding may ask for a folder.
  m_window->CallAfter([adder = &m_adder, items = std::move(items)] { adder->OpenDropped(items); });
  return def == wxDragNone ? wxDragCopy : def;
}
