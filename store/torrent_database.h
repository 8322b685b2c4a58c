#pragma once
// The optional MySQL store: one connection to the database "Quillfern" and
// the seven table objects that run their statements on it. Made on the GUI
// thread and used there only.
//
// The client library is loaded at run time; without it, or when the
// connection fails, the store has no tables and every operation reports
// failure. Failures are reported by return values; GetLastError() gives the
// text.

#include "store/auto_destinations_table.h"
#include "store/ip_filter_table.h"
#include "store/mysql_client.h"
#include "store/nodes_table.h"
#include "store/piece_selection_table.h"
#include "store/resume_data_table.h"
#include "store/torrent_data_table.h"
#include "store/trackers_table.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CTorrentDatabase {
 public:
  // Whether the client library can be loaded (with every call the store uses).
  static bool IsClientLibraryAvailable();

  CTorrentDatabase(std::u16string_view host, std::uint16_t port, std::u16string_view user,
                   std::u16string_view password);
  ~CTorrentDatabase();
  CTorrentDatabase(const CTorrentDatabase&) = delete;
  CTorrentDatabase& operator=(const CTorrentDatabase&) = delete;

  bool IsConnected() const { return m_connected; }
  // Tries the connection again when there is none (its server was away);
  // true when connected.
  bool Connect();

  // Stores the torrent whose row buffers the caller filled: its
  // torrent_data row, then either its resume data and piece selection (when
  // the trackers buffer holds no URL: a torrent with metainfo) or its
  // tracker. True when every step succeeded.
  // A torrent with metainfo gets no row without it: when its row lacks it,
  // `meta_data` is stored first, and without those bytes nothing is
  // written. A row that holds metainfo keeps it, its name and its trackers
  // when a torrent known only by its info-hash is saved over it; only its
  // settings and totals change then.
  bool SaveTorrent(std::string_view meta_data = {});

  // The client library's text for the last failure; "No database" when the
  // library could not be loaded.
  std::u16string GetLastError() const;

  // The table objects; null without a connection.
  CTorrentDataTable* TorrentData() const { return m_torrent_data.get(); }
  CResumeDataTable* ResumeData() const { return m_resume_data.get(); }
  CPieceSelectionTable* PieceSelection() const { return m_piece_selection.get(); }
  CTrackersTable* Trackers() const { return m_trackers.get(); }
  CIpFilterTable* IpFilter() const { return m_ip_filter.get(); }
  CAutoDestinationsTable* AutoDestinations() const { return m_auto_destinations.get(); }
  CNodesTable* Nodes() const { return m_nodes.get(); }

  static constexpr const char* database_name = "Quillfern";

 private:
  std::unique_ptr<CTorrentDataTable> m_torrent_data;
  std::unique_ptr<CResumeDataTable> m_resume_data;
  std::unique_ptr<CPieceSelectionTable> m_piece_selection;
  std::unique_ptr<CTrackersTable> m_trackers;
  std::unique_ptr<CIpFilterTable> m_ip_filter;
  std::unique_ptr<CAutoDestinationsTable> m_auto_destinations;
  std::unique_ptr<CNodesTable> m_nodes;
  bool m_connected = false;
  const store::mysql::client_api* m_api = nullptr;
  store::mysql::connection* m_connection = nullptr;
  // The error of a failed connect, kept after its handle was closed.
  std::string m_connect_error;
  // What the connection is made with.
  std::string m_host, m_user, m_password;
  std::uint16_t m_port = 0;
};
