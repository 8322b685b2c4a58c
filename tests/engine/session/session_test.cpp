#include "engine/session/session.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "tests/support/wait.h"

using namespace engine;
using namespace std::chrono_literals;
using test_support::wait_until;

namespace {

const fingerprint qf("QF", 1, 2, 3, 4);

// Pops alerts until one of kind A arrives; its message, or "" once the
// deadline passed.
template <class A>
std::string next_alert(session& s) {
  std::string msg;
  wait_until([&] {
    while (auto a = s.pop_alert())
      if (dynamic_cast<A*>(a.get())) {
        msg = a->msg();
        return true;
      }
    return false;
  });
  return msg;
}

// A listening socket on some free port of 0.0.0.0.
std::shared_ptr<socket> occupy(std::uint16_t port = 0) {
  auto s = std::make_shared<socket>(socket::tcp);
  s->listen(address(0u, port), 64);
  return s;
}

sha1_hash hash_of(int n) {
  sha1_hash h;
  h[0] = std::uint8_t(n);
  h[19] = 0x5A;
  return h;
}

torrent_metainfo small_torrent(const std::string& name) {
  entry::dictionary_type info{{"name", entry(name)},
                              {"length", entry(entry::integer_type(100))},
                              {"piece length", entry(entry::integer_type(16384))},
                              {"pieces", entry(std::string(20, 'x'))}};
  entry::dictionary_type file{{"announce", entry(std::string("http://127.0.0.1:1/announce"))},
                              {"info", entry(std::move(info))}};
  return torrent_metainfo(entry(std::move(file)));
}

}  // namespace

TEST(SessionListen, TakesTheNextFreePortOfTheRange) {
  auto blocker = occupy();
  const int taken = blocker->local_address().port;
  session s(qf);
  s.set_severity_level(alert::debug);
  // The port after it may be in use as well; the range covers a few.
  ASSERT_TRUE(s.listen_on({taken, taken + 20}));
  EXPECT_GT(s.listen_port(), taken);
  EXPECT_LE(s.listen_port(), taken + 20);
  EXPECT_TRUE(s.is_listening());
}

TEST(SessionListen, NoPortFreeInTheRange) {
  auto blocker = occupy();
  const int taken = blocker->local_address().port;
  session s(qf);
  s.set_severity_level(alert::info);
  EXPECT_FALSE(s.listen_on({taken, taken}));
  EXPECT_FALSE(s.is_listening());
  EXPECT_EQ(next_alert<listen_failed_alert>(s), "none of the ports in the range [" + std::to_string(taken) + ", " +
                                                    std::to_string(taken) + "] could be opened for listening");
}

TEST(SessionListen, ForeignInterfaceStopsAtOnce) {
  session s(qf);
  s.set_severity_level(alert::fatal);
  EXPECT_FALSE(s.listen_on({6881, 6889}, "192.0.2.1"));
  EXPECT_EQ(next_alert<listen_failed_alert>(s), "cannot listen on the given interface '192.0.2.1'");
  EXPECT_EQ(s.listen_port(), 6881);  // no further port was tried
}

TEST(SessionListen, RangeGivenAtConstruction) {
  auto blocker = occupy();
  const int taken = blocker->local_address().port;
  session s(qf, {taken, taken + 20}, "127.0.0.1");
  EXPECT_TRUE(wait_until([&] { return s.is_listening(); }));
  EXPECT_NE(s.listen_port(), taken);
}

TEST(SessionConnections, AcceptsAndClosesThroughTheLoop) {
  session s(qf);
  s.set_severity_level(alert::debug);
  ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
  EXPECT_FALSE(s.status().has_incoming_connections);

  std::vector<std::unique_ptr<socket>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<socket>(socket::tcp, true));
    clients.back()->connect(address(127, 0, 0, 1, s.listen_port()));
  }
  ASSERT_TRUE(wait_until([&] { return s.status().num_peers == 3; }));
  EXPECT_TRUE(s.status().has_incoming_connections);
  // Bytes from a peer are taken in; a peer that leaves is closed.
  ASSERT_EQ(clients[0]->send("\x13" "BitTorrent protocol", 20), 20);
  clients[1]->close();
  EXPECT_EQ(next_alert<peer_error_alert>(s), "connection closed by remote host");
  EXPECT_TRUE(wait_until([&] { return s.status().num_peers == 2; }));
  clients.clear();
  EXPECT_TRUE(wait_until([&] { return s.status().num_peers == 0; }));
  EXPECT_GT(s.status().total_download, -1);

  // Listening again clears the incoming flag.
  ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
  EXPECT_FALSE(s.status().has_incoming_connections);
}

TEST(SessionConnections, BlockedAddressesAreDroppedSilently) {
  session s(qf);
  ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
  ip_filter f;
  f.add_rule(address(127, 0, 0, 1, 0), address(127, 0, 0, 1, 0), ip_filter::blocked);
  s.set_ip_filter(f);
  socket c(socket::tcp, true);
  c.connect(address(127, 0, 0, 1, s.listen_port()));
  ASSERT_TRUE(wait_until([&] { return s.status().has_incoming_connections; }));
  char b;
  ASSERT_TRUE(test_support::readable_before(c.handle(), test_support::deadline()));
  EXPECT_EQ(c.receive(&b, 1), 0);  // closed by the session
  EXPECT_EQ(s.status().num_peers, 0);
}

TEST(SessionConnections, OutOfDescriptorsTheOtherPeersAreStillServed) {
#if defined(__SANITIZE_ADDRESS__)
  // UBSan's dynamic type check cannot work once every descriptor is used and
  // reports the exception thrown here as having an invalid vptr.
  GTEST_SKIP() << "not run under the sanitizers: it uses up every file descriptor";
#endif
  session s(qf);
  s.set_severity_level(alert::debug);
  ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
  socket a(socket::tcp, true);
  a.connect(address(127, 0, 0, 1, s.listen_port()));
  ASSERT_TRUE(wait_until([&] { return s.status().num_peers == 1; }));

  // Use up every descriptor the process may have, then let one more peer in:
  // the kernel completes its connection, the session cannot take it.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> fillers;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
  ASSERT_FALSE(fillers.empty());
  ::close(fillers.back());
  fillers.pop_back();
  auto b = std::make_unique<socket>(socket::tcp, true);
  b->connect(address(127, 0, 0, 1, s.listen_port()));

  // A peer that breaks the protocol is still read and closed meanwhile.
  ASSERT_EQ(a.send("\0", 1), 1);
  char c;
  const int n = test_support::readable_before(a.handle(), test_support::deadline()) ? a.receive(&c, 1) : -1;
  for (int fd : fillers) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(next_alert<peer_error_alert>(s), "incorrect protocol length (0) should be 19.");
}

TEST(SessionPeerId, ExtensionMarks) {
  session s(qf);
  peer_id id = s.id();
  EXPECT_EQ(id.to_string().substr(0, 8), "-QF1234-");
  EXPECT_EQ(id.to_string().substr(17), "ext");
  s.disable_extensions();
  id = s.id();
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_.!~*'()";
  for (int i = 8; i < 20; ++i) EXPECT_NE(alphabet.find(char(id[i])), std::string::npos) << i;
  s.enable_extension(2);
  EXPECT_EQ(s.id().to_string().substr(17), "ext");
  EXPECT_EQ(s.id().to_string().substr(0, 17), id.to_string().substr(0, 17));
}

TEST(SessionTorrents, DuplicatesAreRefused) {
  session s(qf);
  const sha1_hash ih = hash_of(1);
  torrent_handle h = s.add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, ".");
  EXPECT_TRUE(h.is_valid());
  EXPECT_THROW(s.add_torrent_by_info_hash("http://127.0.0.1:2/announce", ih, "."), duplicate_torrent);

  const torrent_metainfo info = small_torrent("a.bin");
  torrent_handle m = s.add_torrent(info, ".");
  EXPECT_THROW(s.add_torrent(info, "."), duplicate_torrent);  // checking or running
  EXPECT_THROW(s.add_torrent_by_info_hash("http://x/", info.info_hash(), "."), duplicate_torrent);
  // Handed over to the session by the checker: still a duplicate.
  ASSERT_TRUE(wait_until([&] { return m.status().state == connecting_to_tracker; }));
  EXPECT_THROW(s.add_torrent(info, "."), duplicate_torrent);
  EXPECT_EQ(s.get_torrents().size(), 2u);

  try {
    s.add_torrent_by_info_hash("http://x/", ih, ".");
  } catch (const duplicate_torrent& e) {
    EXPECT_STREQ(e.what(), "torrent already exists in session");
  }
  try {
    s.add_torrent(torrent_metainfo(hash_of(9)), ".");
    FAIL() << "a torrent without files was added";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "no files in torrent");
  }
}

TEST(SessionTorrents, PauseResumeAndRemoveAnnounce) {
  session s(qf);
  s.set_severity_level(alert::info);
  torrent_handle running = s.add_torrent_by_info_hash("http://127.0.0.1:1/announce", hash_of(1), ".");
  torrent_handle paused = s.add_torrent_by_info_hash("http://127.0.0.1:1/announce", hash_of(2), ".");
  EXPECT_TRUE(running.is_paused());
  running.resume();
  EXPECT_FALSE(running.is_paused());
  EXPECT_EQ(next_alert<tracker_announce_alert>(s), "tracker announce");

  // A paused torrent leaves without a word, a running one says "stopped".
  s.remove_torrent(paused);
  s.remove_torrent(running);
  ASSERT_TRUE(wait_until([&] { return !running.is_valid() && !paused.is_valid(); }));
  std::vector<std::string> announces;
  while (auto a = s.pop_alert())
    if (auto* t = dynamic_cast<tracker_announce_alert*>(a.get())) {
      announces.push_back(t->msg());
      EXPECT_EQ(t->handle, running);
    }
  EXPECT_EQ(announces, std::vector<std::string>{"tracker announce, event=stopped"});
  EXPECT_THROW(running.pause(), invalid_handle);
  EXPECT_TRUE(s.get_torrents().empty());
  try {
    paused.status();
  } catch (const invalid_handle& e) {
    EXPECT_STREQ(e.what(), "invalid torrent handle used");
  }
  EXPECT_FALSE(torrent_handle().is_valid());
  EXPECT_THROW(torrent_handle().pause(), invalid_handle);
}

TEST(SessionTorrents, RemovedWhileWaitingForTheCheck) {
  session s(qf);
  s.set_severity_level(alert::debug);
  std::vector<torrent_handle> handles;
  for (int i = 0; i < 20; ++i) handles.push_back(s.add_torrent(small_torrent("f" + std::to_string(i)), "."));
  for (auto& h : handles) s.remove_torrent(h);
  EXPECT_TRUE(s.get_torrents().empty());
  // Those the checker had handed over already leave at the next second tick,
  // without a "stopped" announce: they never ran.
  EXPECT_TRUE(wait_until([&] {
    return std::none_of(handles.begin(), handles.end(), [](auto& h) { return h.is_valid(); });
  }));
  EXPECT_EQ(s.pop_alert(), nullptr);
}

TEST(SessionConnections, HalfOpenLimitQueuesConnects) {
  session s(qf);
  s.set_severity_level(alert::debug);
  s.set_max_half_open_connections(7);
  auto target = occupy();
  const std::uint16_t port = target->local_address().port;
  torrent_handle h = s.add_torrent_by_info_hash("http://127.0.0.1:1/announce", hash_of(3), ".");
  session_impl& impl = s.impl();
  {
    std::lock_guard l(impl.mutex());
    auto t = impl.find_torrent(h.info_hash());
    for (int i = 0; i < 10; ++i) t->connect_to_peer(address(127, 0, 0, std::uint8_t(1 + i), port));
    EXPECT_EQ(impl.half_open().size(), 7u);
    ASSERT_EQ(impl.connection_queue().size(), 3u);
    EXPECT_EQ(impl.connection_queue().front()->remote(), address(127, 0, 0, 8, port));
    EXPECT_TRUE(impl.connection_queue().front()->is_queued());
  }
  // Every connect ends (accepted or refused); the queue drains through the
  // slots that free up.
  EXPECT_TRUE(wait_until([&] {
    std::lock_guard l(impl.mutex());
    return impl.half_open().empty() && impl.connection_queue().empty();
  }));
}

namespace {

// A peer on 127.0.0.`host` that never answers a connect: the accept queue of
// its listening socket is full, so the kernel drops further connection
// requests and a connect to it stays in progress.
struct unanswering_peer {
  explicit unanswering_peer(std::uint8_t host) : listener(std::make_shared<socket>(socket::tcp)) {
    listener->listen(address(127, 0, 0, host, 0), 0);
    filler.connect(listener->local_address());  // fills the queue of one
  }
  address where() const { return listener->local_address(); }
  std::shared_ptr<socket> listener;
  socket filler{socket::tcp, true};
};

}  // namespace

TEST(SessionConnections, IpFilterClosesConnectedAndConnectingPeersAlike) {
  session s(qf);
  s.set_severity_level(alert::debug);
  auto live = std::make_shared<socket>(socket::tcp);
  live->listen(address(127, 0, 0, 20, 0), 4);
  const address connected = live->local_address();
  unanswering_peer silent(21);
  const address connecting = silent.where();

  torrent_handle h = s.add_torrent_by_info_hash("http://127.0.0.1:1/announce", hash_of(4), ".");
  h.resume();
  h.connect_peer(connected);
  h.connect_peer(connecting);
  std::shared_ptr<socket> accepted;
  ASSERT_TRUE(wait_until([&] { return (accepted = live->accept()) != nullptr; }));
  std::vector<peer_info> peers;
  auto flags_of = [&](const address& a) {
    for (const auto& p : peers)
      if (p.ip == a) return int(p.flags & (peer_info::connecting | peer_info::queued));
    return -1;
  };
  ASSERT_TRUE(wait_until([&] {
    h.get_peer_info(peers);
    return flags_of(connected) == 0 && flags_of(connecting) == peer_info::connecting;
  }));
  while (s.pop_alert()) {
  }

  ip_filter f;
  f.add_rule(address(127, 0, 0, 20, 0), address(127, 0, 0, 21, 0), ip_filter::blocked);
  s.set_ip_filter(f);
  h.get_peer_info(peers);
  EXPECT_TRUE(peers.empty());
  EXPECT_EQ(s.status().num_peers, 0);
  {
    std::lock_guard l(s.impl().mutex());
    EXPECT_TRUE(s.impl().half_open().empty());
  }
  std::vector<address> closed;
  while (auto a = s.pop_alert())
    if (auto* e = dynamic_cast<peer_error_alert*>(a.get())) {
      EXPECT_EQ(e->msg(), "peer blocked by the IP filter");
      closed.push_back(e->ip);
    }
  std::sort(closed.begin(), closed.end());
  EXPECT_EQ(closed, (std::vector<address>{connected, connecting}));
  // The connected peer sees the end of the stream after our handshake.
  EXPECT_TRUE(wait_until([&] {
    char buf[256];
    int n;
    while ((n = accepted->receive(buf, sizeof buf)) > 0) {
    }
    return n == 0;
  }));
}

TEST(SessionStatus, StartsEmpty) {
  session s(qf);
  const session_status st = s.status();
  EXPECT_FALSE(st.has_incoming_connections);
  EXPECT_EQ(st.num_peers, 0);
  EXPECT_EQ(st.total_download, 0);
  EXPECT_EQ(st.upload_rate, 0);
  EXPECT_FALSE(s.is_listening());
  EXPECT_EQ(s.pop_alert(), nullptr);
}

// Public calls from several threads while both engine threads run.
TEST(SessionConcurrency, CallsFromManyThreads) {
  session s(qf);
  s.set_severity_level(alert::debug);
  ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
  std::vector<std::thread> threads;
  for (int n = 0; n < 4; ++n)
    threads.emplace_back([&, n] {
      for (int i = 0; i < 25; ++i) {
        const int k = n * 25 + i;
        torrent_handle h = k % 2 ? s.add_torrent(small_torrent("c" + std::to_string(k)), ".")
                                 : s.add_torrent_by_info_hash("http://127.0.0.1:1/a", hash_of(k), ".");
        h.resume();
        (void)h.status();
        (void)s.status();
        (void)s.get_torrents();
        s.set_upload_rate_limit(k * 1000);
        if (i % 3 == 0) s.remove_torrent(h);
        socket c(socket::tcp, true);
        c.connect(address(127, 0, 0, 1, s.listen_port()));
        while (auto a = s.pop_alert()) {
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(wait_until([&] { return s.get_torrents().size() == 64u; }));
}

namespace {

// A tracker on loopback that records each request line and answers with an
// empty peer list, or, when `silent`, never answers at all. Between hold()
// and release() it records requests but keeps their replies back.
class loopback_tracker {
 public:
  explicit loopback_tracker(bool silent = false) : m_silent(silent) {
    m_listen = std::make_shared<socket>(socket::tcp);
    m_listen->listen(address(127, 0, 0, 1, 0), 16);
    m_thread = std::thread([this] { run(); });
  }
  ~loopback_tracker() {
    m_stop = true;
    m_thread.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(m_listen->local_address().port) + "/announce"; }
  std::vector<std::string> requests() {
    std::lock_guard l(m_mutex);
    return m_requests;
  }
  bool saw(const std::string& text) {
    for (auto& r : requests())
      if (r.find(text) != std::string::npos) return true;
    return false;
  }
  void hold() { m_hold = true; }
  void release() { m_hold = false; }

 private:
  void run() {
    selector sel;
    sel.monitor_readability(m_listen);
    std::vector<std::shared_ptr<socket>> held;
    while (!m_stop) {
      selector::socket_list r, w, e;
      sel.wait(20000, r, w, e);
      if (auto c = m_listen->accept()) {
        c->set_blocking(true);
        std::string request;
        char buf[2048];
        while (request.find("\r\n\r\n") == std::string::npos) {
          const int n = c->receive(buf, sizeof buf);
          if (n <= 0) break;
          request.append(buf, std::size_t(n));
        }
        {
          std::lock_guard l(m_mutex);
          m_requests.push_back(request.substr(0, request.find("\r\n")));
        }
        held.push_back(c);
      }
      if (m_silent || m_hold) continue;
      const std::string body = "d8:intervali1800e5:peers0:e";
      const std::string reply = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
      for (auto& c : held) c->send(reply.data(), int(reply.size()));
      held.clear();
    }
  }

  bool m_silent;
  std::atomic<bool> m_hold{false};
  std::shared_ptr<socket> m_listen;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::vector<std::string> m_requests;
  std::thread m_thread;
};

}  // namespace

TEST(SessionTrackers, AnnouncesStartedAndStoppedOverHttp) {
  loopback_tracker tracker;
  {
    session s(qf);
    s.set_severity_level(alert::info);
    ASSERT_TRUE(s.listen_on({0, 0}, "127.0.0.1"));
    const std::uint16_t port = s.listen_port();
    torrent_handle h = s.add_torrent_by_info_hash(tracker.url(), hash_of(7), ".");
    h.resume();
    EXPECT_EQ(next_alert<tracker_reply_alert>(s), "Got response from tracker: " + tracker.url());
    EXPECT_TRUE(tracker.saw("event=started"));
    EXPECT_TRUE(tracker.saw("port=" + std::to_string(port)));
    EXPECT_EQ(h.status().state, downloading_metadata);
    EXPECT_EQ(h.status().current_tracker, tracker.url());
  }
  // The session's end sends the "stopped" announce and waits for it.
  EXPECT_TRUE(tracker.saw("event=stopped"));
}

TEST(SessionTrackers, SilentTrackerDoesNotHoldTheExit) {
  loopback_tracker tracker(true);
  {
    session s(qf);
    http_settings settings;
    settings.stop_tracker_timeout = 1;
    s.set_http_settings(settings);
    torrent_handle h = s.add_torrent_by_info_hash(tracker.url(), hash_of(8), ".");
    h.resume();
    ASSERT_TRUE(wait_until([&] { return tracker.saw("event=started"); }));
  }
  // Reaching this line is the test: the destructor gave up on the tracker.
  SUCCEED();
}

namespace {

// A tracker that answers each request with a status line and then an
// endless header, one byte every 50 ms, so that the connection is never
// idle for long.
class trickling_tracker {
 public:
  trickling_tracker() {
    m_listen = std::make_shared<socket>(socket::tcp);
    m_listen->listen(address(127, 0, 0, 1, 0), 16);
    m_thread = std::thread([this] { run(); });
  }
  ~trickling_tracker() {
    m_stop = true;
    m_thread.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(m_listen->local_address().port) + "/announce"; }
  int bytes_sent() const { return m_sent; }

 private:
  void run() {
    selector sel;
    sel.monitor_readability(m_listen);
    std::vector<std::shared_ptr<socket>> held;
    const std::string start = "HTTP/1.0 200 OK\r\nX-Padding: ";
    while (!m_stop) {
      selector::socket_list r, w, e;
      sel.wait(50000, r, w, e);
      if (auto c = m_listen->accept()) {
        c->send(start.data(), int(start.size()));
        held.push_back(c);
      }
      for (auto& c : held)
        if (c->send("a", 1) == 1) ++m_sent;
    }
  }

  std::shared_ptr<socket> m_listen;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_sent{0};
  std::thread m_thread;
};

}  // namespace

// A reply that trickles in keeps the connection busy, but the time-out is
// for the whole request: it ends, and the tracker of the next tier is asked.
TEST(SessionTrackers, TricklingTrackerTimesOutAndTheNextTierIsAsked) {
  trickling_tracker slow;
  loopback_tracker good;
  session s(qf);
  s.set_severity_level(alert::info);
  http_settings settings;
  settings.tracker_timeout = 2;
  settings.stop_tracker_timeout = 1;  // the "stopped" at the end goes to the trickling one
  s.set_http_settings(settings);
  torrent_handle h = s.add_torrent_by_info_hash(slow.url(), hash_of(10), ".");
  h.replace_trackers({{slow.url(), 0}, {good.url(), 1}});
  const auto started = std::chrono::steady_clock::now();
  h.resume();
  EXPECT_EQ(next_alert<tracker_alert>(s), "tracker: \"" + slow.url() + "\" timed out");
  // The limit of 2 s, and at most a second more until the next tick.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
  EXPECT_GT(slow.bytes_sent(), 20);
  EXPECT_EQ(next_alert<tracker_reply_alert>(s), "Got response from tracker: " + good.url());
  EXPECT_TRUE(good.saw("event=started"));
}

// An announce asked for while another is under way (a resume while the
// "stopped" of a pause still waits for its reply, a forced re-announce right
// after the "started") is held back, then sent: the reply to the one that
// ran reschedules the torrent half an hour ahead, but not what was asked.
TEST(SessionTrackers, AnnounceAskedWhileAnotherRunsIsSentAfterIt) {
  loopback_tracker tracker;
  session s(qf);
  torrent_handle h = s.add_torrent_by_info_hash(tracker.url(), hash_of(9), ".");
  // The tracker keeps its replies back while `start` sends an announce
  // and `ask` asks for the next; then both reach it.
  const auto ask_while_one_runs = [&](auto start, auto ask) {
    const std::size_t before = tracker.requests().size();
    tracker.hold();
    start();
    ASSERT_TRUE(wait_until([&] { return tracker.requests().size() > before; }));
    ask();
    tracker.release();
    ASSERT_TRUE(wait_until([&] { return tracker.requests().size() > before + 1; }));
  };
  ask_while_one_runs([&] { h.resume(); }, [&] { h.force_reannounce(); });
  // Then a resume while the "stopped" of a pause waits for its reply.
  ask_while_one_runs([&] { h.pause(); }, [&] { h.resume(); });
  const auto seen = tracker.requests();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_NE(seen[0].find("event=started"), std::string::npos) << seen[0];
  EXPECT_EQ(seen[1].find("event="), std::string::npos) << seen[1];
  EXPECT_NE(seen[2].find("event=stopped"), std::string::npos) << seen[2];
  EXPECT_NE(seen[3].find("event=started"), std::string::npos) << seen[3];
}

// The tick looks only at torrents something is due for. An announce moved
// while its torrent waits for it (further off, then nearer) goes out when
// asked, and a torrent removed with its announce pending leaves nothing that
// disturbs the one added again under its info-hash.
TEST(SessionTrackers, MovedAnnouncesAndRemovedTorrentsKeepTheirSchedule) {
  loopback_tracker tracker;
  session s(qf);
  const auto count = [&](const std::string& text) {
    const auto seen = tracker.requests();
    return std::count_if(seen.begin(), seen.end(), [&](const std::string& r) { return r.find(text) != r.npos; });
  };
  const auto requests_reach = [&](std::size_t n) { return wait_until([&] { return tracker.requests().size() >= n; }); };

  torrent_handle h = s.add_torrent_by_info_hash(tracker.url(), hash_of(11), ".");
  h.resume();
  ASSERT_TRUE(requests_reach(1));
  h.force_reannounce_after(600s);
  h.force_reannounce_after(2s);
  const auto asked = std::chrono::steady_clock::now();
  ASSERT_TRUE(requests_reach(2));
  EXPECT_GE(std::chrono::steady_clock::now() - asked, 1500ms);
  EXPECT_GT(h.status().next_announce, std::chrono::microseconds(60s));

  // Removed while its next announce waits, then added again.
  torrent_handle other = s.add_torrent_by_info_hash(tracker.url(), hash_of(12), ".");
  other.resume();
  ASSERT_TRUE(requests_reach(3));
  other.force_reannounce_after(1s);
  s.remove_torrent(other);
  ASSERT_TRUE(wait_until([&] { return count("event=stopped") == 1; }));
  other = s.add_torrent_by_info_hash(tracker.url(), hash_of(12), ".");
  other.resume();
  ASSERT_TRUE(wait_until([&] { return count("event=started") == 3; }));
  other.force_reannounce_after(1s);
  const std::size_t before = tracker.requests().size();
  ASSERT_TRUE(requests_reach(before + 1));
  EXPECT_EQ(count("event=stopped"), 1);
}
