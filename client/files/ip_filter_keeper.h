#pragma once
// The main window's one IP filter: made at start-up, filled from the filter
// file (or, with a store, from its ip_filter table), grown by bans and
// handed to the engine after each change, written back at shut-down.
//
// The window sets the session and the store it owns (either may be null)
// and the "This Session Only" switch; every call copes with any of them
// missing. GUI thread only.

#include "engine/net/address.h"
#include "engine/net/ip_filter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class CTorrentDatabase;

namespace engine {
class session;
}

namespace client {

class IpFilterKeeper {
 public:
  // `log` shows one log line (the store's error texts, a file that cannot
  // be written, the count of malformed lines of a file read).
  explicit IpFilterKeeper(std::function<void(const std::wstring&)> log);

  void SetSession(engine::session* session) { m_session = session; }
  void SetStore(CTorrentDatabase* store) { m_store = store; }
  void SetSessionOnly(bool on) { m_session_only = on; }

  // A new filter that allows everything (replacing any earlier one).
  void CreateFilter();
  void DeleteFilter() { m_filter.reset(); }
  // Null between DeleteFilter and CreateFilter.
  const engine::ip_filter* Filter() const { return m_filter.get(); }

  // Without a store: reads the file `path`. With one: reads its table, and
  // when that fails logs the store's error text. False without a filter.
  bool LoadIpFilter(const std::filesystem::path& path);
  // Without a store: replaces the file `path`. With one: rewrites its table,
  // logging the store's error text on failure. Nothing is written, and the
  // result is false, with "This Session Only" on or without a filter.
  bool SaveIpFilter(const std::filesystem::path& path);

  // Hands the filter to the session (nothing without either).
  void ApplyToSession();

  // Blocks the peer's address and applies the filter. Nothing happens
  // without a session or a filter. Also the answer to a peer-ban alert.
  void BanPeer(const engine::address& peer);
  // Blocks a.b.c.1 to a.b.c.255 around the peer a.b.c.d (the .0 address
  // stays as it was) and applies the filter; nothing without a session or a
  // filter.
  void BanPeerRange(const engine::address& peer);
  // "Clear ban list": a new filter that allows everything replaces the old
  // one and goes to the session; the bans of earlier runs, read from the
  // filter file at start-up, go with the rest. Nothing without a filter.
  void ClearBanList();

 private:
  void Ban(engine::address first, engine::address last);
  void LogStoreError();

  std::function<void(const std::wstring&)> m_log;
  std::unique_ptr<engine::ip_filter> m_filter;
  engine::session* m_session = nullptr;
  CTorrentDatabase* m_store = nullptr;
  bool m_session_only = false;
};

}  // namespace client
