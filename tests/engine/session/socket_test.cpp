#include "engine/net/socket.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/net/selector.h"
#include "engine/session/stat.h"
#include "tests/support/wait.h"

using namespace engine;
using test_support::wait_until;

namespace {

const address loopback(127, 0, 0, 1, 0);

std::shared_ptr<socket> listener() {
  auto s = std::make_shared<socket>(socket::tcp);
  s->listen(loopback, 64);
  return s;
}

address local_endpoint(const socket& s) { return s.local_address(); }

// Waits in `sel` until `got` holds; false when the deadline passed first.
template <class Got>
bool wait_in(selector& sel, selector::socket_list& r, selector::socket_list& w, selector::socket_list& e, Got got) {
  return wait_until(
      [&] {
        sel.wait(100000, r, w, e);
        return got();
      },
      test_support::default_deadline, std::chrono::milliseconds(0));
}

// Accepts the next connection, waiting for it through the selector.
std::shared_ptr<socket> accept_one(const std::shared_ptr<socket>& l) {
  selector sel;
  sel.monitor_readability(l);
  selector::socket_list r, w, e;
  std::shared_ptr<socket> s;
  wait_in(sel, r, w, e, [&] { return (s = l->accept()) != nullptr; });
  return s;
}

// A loopback port with nothing listening on it.
std::uint16_t closed_port() {
  socket s(socket::tcp);
  s.listen(loopback, 1);
  return s.local_address().port;
}

}  // namespace

TEST(SocketTcp, AcceptWithNothingPendingGivesEmpty) {
  auto l = listener();
  EXPECT_EQ(l->accept(), nullptr);
}

TEST(SocketTcp, ConnectAcceptAndTransfer) {
  auto l = listener();
  auto c = std::make_shared<socket>(socket::tcp);
  c->connect(local_endpoint(*l));
  auto a = accept_one(l);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->is_blocking());
  EXPECT_EQ(a->remote_address().ip, loopback.ip);
  EXPECT_EQ(a->remote_address().port, c->local_address().port);

  selector sel;
  sel.monitor_writability(c);
  sel.monitor_errors(c);
  selector::socket_list r, w, e;
  ASSERT_TRUE(wait_in(sel, r, w, e, [&] { return !w.empty(); }));
  EXPECT_FALSE(c->pending_error());
  ASSERT_EQ(c->send("hello", 5), 5);

  sel.remove(c);
  sel.monitor_readability(a);
  ASSERT_TRUE(wait_in(sel, r, w, e, [&] { return !r.empty(); }));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], a);
  char buf[16];
  ASSERT_EQ(a->receive(buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  // Nothing more: a non-blocking receive says "would block".
  EXPECT_EQ(a->receive(buf, sizeof buf), -1);
  EXPECT_EQ(socket::last_error(), network_error::would_block);
}

TEST(SocketTcp, SendToAClosedPeerFailsWithoutSignal) {
  auto l = listener();
  auto c = std::make_shared<socket>(socket::tcp, true);
  c->connect(local_endpoint(*l));
  auto a = accept_one(l);
  ASSERT_NE(a, nullptr);
  a->close();
  // The first sends may still be taken; the reset that answers them makes a
  // later one fail. Without MSG_NOSIGNAL this would kill the process.
  const std::string data(4096, 'x');
  int result = 0;
  wait_until([&] { return (result = c->send(data.data(), int(data.size()))) < 0; });
  ASSERT_LT(result, 0);
  const int err = socket::last_error();
  EXPECT_TRUE(err == 15 || err == 13) << err;
}

TEST(SocketTcp, RefusedConnectIsReportedAsErrorOnce) {
  auto c = std::make_shared<socket>(socket::tcp);
  c->connect(address(127, 0, 0, 1, closed_port()));
  selector sel;
  sel.monitor_writability(c);
  sel.monitor_errors(c);
  selector::socket_list r, w, e;
  wait_in(sel, r, w, e, [&] { return !e.empty(); });
  ASSERT_EQ(e.size(), 1u);
  EXPECT_TRUE(w.empty());
  EXPECT_EQ(sel.size(), 0u);  // handed once, not watched any more
  auto err = c->pending_error();
  ASSERT_TRUE(err);
  EXPECT_EQ(err->error_code(), 21);
  sel.wait(1000, r, w, e);
  EXPECT_TRUE(e.empty());
}

TEST(SocketTcp, ListenErrors) {
  auto l = listener();
  socket second(socket::tcp);
  try {
    second.listen(local_endpoint(*l), 10);
    FAIL() << "port in use was bound";
  } catch (const network_error& e) {
    EXPECT_EQ(e.error_code(), 3);
  }
  socket foreign(socket::tcp);
  try {
    foreign.listen(address(192, 0, 2, 1, 0), 10);  // TEST-NET-1, not ours
    FAIL() << "foreign interface was bound";
  } catch (const network_error& e) {
    EXPECT_EQ(e.error_code(), 4);
  }
}

TEST(SocketUdp, DatagramsCarryTheirSender) {
  // Bound to a port the kernel found free a moment ago; another one when it
  // was taken in between.
  std::unique_ptr<socket> rx;
  std::uint16_t port = 0;
  ASSERT_TRUE(wait_until([&] {
    socket probe(socket::udp);
    probe.sendto(address(127, 0, 0, 1, 9), "", 0);  // binds it to a free port
    port = probe.local_address().port;
    probe.close();
    try {
      rx = std::make_unique<socket>(socket::udp, true, port);
    } catch (const network_error&) {
    }
    return rx != nullptr;
  }));
  socket tx(socket::udp);
  ASSERT_EQ(tx.sendto(address(127, 0, 0, 1, port), "ping", 4), 4);
  char buf[8];
  address from;
  ASSERT_EQ(rx->recvfrom(buf, sizeof buf, from), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  EXPECT_EQ(from.ip, loopback.ip);
  EXPECT_EQ(from.port, tx.local_address().port);
}

TEST(Selector, EmptyWaitReturnsNothing) {
  selector sel;
  selector::socket_list r{std::make_shared<socket>(socket::tcp)}, w, e;
  sel.wait(1000, r, w, e);
  EXPECT_TRUE(r.empty() && w.empty() && e.empty());
}

TEST(Selector, ListsAreSetsAndRemoveTakesAll) {
  selector sel;
  auto s = std::make_shared<socket>(socket::tcp);
  sel.monitor_readability(s);
  sel.monitor_readability(s);
  sel.monitor_writability(s);
  sel.monitor_errors(s);
  EXPECT_EQ(sel.size(), 1u);
  sel.remove_writable(s);
  EXPECT_TRUE(sel.is_readability_monitored(s));
  EXPECT_FALSE(sel.is_writability_monitored(s));
  sel.remove(s);
  EXPECT_FALSE(sel.is_readability_monitored(s));
  EXPECT_FALSE(sel.is_error_monitored(s));
  EXPECT_EQ(sel.size(), 0u);
}

// With room for them, sockets and accepted connections take descriptors of
// 1024 and up, so that the low ones stay free for code that waits with
// select(); without that room they take the lowest free one as before.
TEST(SocketTcp, SocketsLeaveTheSelectRangeFreeWhenTheLimitAllows) {
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_max < 4096) GTEST_SKIP() << "descriptor limit too low: " << lim.rlim_max;
  const rlimit was = lim;
  lim.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
  auto l = listener();
  socket out(socket::tcp, false);
  out.connect(local_endpoint(*l));
  std::shared_ptr<socket> in;
  ASSERT_TRUE(wait_until([&] { return (in = l->accept()) != nullptr; }));
  EXPECT_GE(l->handle(), 1024);
  EXPECT_GE(out.handle(), 1024);
  EXPECT_GE(in->handle(), 1024);
  socket udp(socket::udp);
  EXPECT_GE(udp.handle(), 1024);

  lim.rlim_cur = 1500;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
  socket low(socket::tcp);
  EXPECT_LT(low.handle(), 1024);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &was), 0);
}

// Descriptors past 1024 are watched like any other.
TEST(Selector, ElevenHundredDescriptors) {
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &lim), 0);
  if (lim.rlim_cur < 1300) {
    if (lim.rlim_max < 1300) GTEST_SKIP() << "descriptor limit too low: " << lim.rlim_max;
    lim.rlim_cur = 1300;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lim), 0);
  }
  auto l = listener();
  const address to = local_endpoint(*l);
  std::vector<std::shared_ptr<socket>> out, in;
  selector accepting;
  accepting.monitor_readability(l);
  selector::socket_list r, w, e;
  ASSERT_TRUE(wait_until(
      [&] {
        while (out.size() < in.size() + 32 && out.size() < 550) {
          out.push_back(std::make_shared<socket>(socket::tcp));
          out.back()->connect(to);
        }
        accepting.wait(100000, r, w, e);
        while (auto a = l->accept()) in.push_back(a);
        return in.size() >= 550;
      },
      test_support::default_deadline, std::chrono::milliseconds(0)));
  ASSERT_GE(in.back()->handle(), 1024);

  selector sel;
  for (auto& s : in) sel.monitor_readability(s);
  for (auto& s : out) sel.monitor_errors(s);
  ASSERT_EQ(out.back()->send("!", 1), 1);
  // The accepted end of the last connection is the one that gets the byte.
  const auto peer_of_last = std::find_if(in.begin(), in.end(), [&](const auto& s) {
    return s->remote_address().port == out.back()->local_address().port;
  });
  ASSERT_NE(peer_of_last, in.end());
  r.clear();
  ASSERT_TRUE(wait_in(sel, r, w, e, [&] { return !r.empty(); }));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0], *peer_of_last);
  EXPECT_TRUE(e.empty());
}

TEST(Stat, SmoothedRates) {
  engine::stat s;
  s.received_bytes(1000, 0);
  s.second_tick();
  EXPECT_FLOAT_EQ(s.download_payload_rate(), 100);
  s.received_bytes(1000, 0);
  s.second_tick();
  EXPECT_FLOAT_EQ(s.download_payload_rate(), 190);
  s.second_tick();
  EXPECT_FLOAT_EQ(s.download_payload_rate(), 171);
  EXPECT_EQ(s.total_payload_download(), 2000);
}

TEST(Stat, SumsSecondsIntoTotals) {
  engine::stat peer, torrent;
  peer.received_bytes(100, 20);
  peer.sent_bytes(50, 5);
  torrent += peer;
  peer.second_tick();
  torrent += peer;  // nothing new this second
  torrent.second_tick();
  EXPECT_EQ(torrent.total_download(), 120);
  EXPECT_EQ(torrent.total_upload(), 55);
  EXPECT_FLOAT_EQ(torrent.download_rate(), 12);
  EXPECT_FLOAT_EQ(torrent.upload_payload_rate(), 5);
}

namespace {

// Whether thread `tid` of this process sleeps in poll().
bool sleeps_in_poll(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/wchan");
  std::string where;
  in >> where;
  return where.find("poll") != std::string::npos;
}

}  // namespace

// The wait sleeps without the lock: another thread changes the lists while it
// runs. Taking a socket away leaves the wait asleep; adding one ends it, so
// that the next wait takes the new socket in (here one that polls as hung
// up, which the ended wait does not judge).
TEST(Selector, ListsChangeDuringAWait) {
  selector sel;
  auto l = listener();
  sel.monitor_readability(l);
  std::atomic<bool> returned{false};
  std::atomic<bool> reported{false};
  std::atomic<pid_t> waiter_id{0};
  std::thread waiter([&] {
    waiter_id = ::gettid();
    selector::socket_list r, w, e;
    sel.wait(60'000'000, r, w, e);
    reported = !r.empty() || !w.empty() || !e.empty();
    returned = true;
  });
  EXPECT_TRUE(wait_until([&] { return waiter_id != 0 && sleeps_in_poll(waiter_id); }));
  sel.remove(l);
  EXPECT_TRUE(sleeps_in_poll(waiter_id));
  auto other = std::make_shared<socket>(socket::tcp);
  sel.monitor_errors(other);
  const bool ended = wait_until([&] { return returned.load(); });
  if (!ended) sel.wake();
  waiter.join();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(reported.load());
  EXPECT_EQ(sel.size(), 1u);
}
