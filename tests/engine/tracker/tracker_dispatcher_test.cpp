#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <optional>

#include "engine/net/network_error.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "tests/support/wait.h"
#include "tests/engine/tracker/tracker_test_server.h"
#include "tests/engine/tracker/tracker_test_support.h"

using namespace engine;
using namespace std::chrono_literals;
using tracker_test::recording_callback;
using tracker_test::scripted_server;

namespace {

using clock_type = tracker_dispatcher::clock;

// Ticks until `done` holds (or the deadline passed): at the present time or,
// when given, always at `at`, so that the connections' timers stand still.
template <class Pred>
void run_until(tracker_dispatcher& d, Pred done, std::optional<clock_type::time_point> at = std::nullopt) {
  test_support::wait_until(
      [&] {
        if (done()) return true;
        d.tick(at ? *at : clock_type::now());
        return false;
      },
      test_support::default_deadline, 2ms);
}

// Ticks until every request is done.
void run(tracker_dispatcher& d) {
  run_until(d, [&] { return d.empty(); });
}

tracker_query announce(const std::string& url) {
  tracker_query q;
  q.info_hash = sha1_hash::from_bytes("abcdefghijklmnopqrst");
  q.pid = sha1_hash::from_bytes("-QF0100-ext012345678");
  q.left = 1000;
  q.listen_port = 6881;
  q.event = tracker_query::started;
  q.url = url;
  q.key = 255;
  q.num_want = 50;
  return q;
}

std::string http_reply(const std::string& body, const std::string& headers = "") {
  return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

std::string gzip(const std::string& data) {
  z_stream strm{};
  deflateInit2(&strm, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&strm, uLong(data.size())) + 32, '\0');
  strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  strm.avail_in = uInt(data.size());
  strm.next_out = reinterpret_cast<Bytef*>(out.data());
  strm.avail_out = uInt(out.size());
  deflate(&strm, Z_FINISH);
  out.resize(strm.total_out);
  deflateEnd(&strm);
  return out;
}

std::string local_url(const scripted_server& s, const std::string& scheme, const std::string& path) {
  return scheme + "://127.0.0.1:" + std::to_string(s.port()) + path;
}

const std::string compact_reply =
    std::string("d8:completei2e10:incompletei3e8:intervali1800e5:peers12:") +
    std::string("\x7f\x00\x00\x01\x1a\xe2\x0a\x01\x02\x03\x00\x50", 12) + "e";

struct TrackerDispatch : ::testing::Test {
  http_settings settings;
  tracker_dispatcher dispatcher{settings};
  std::shared_ptr<recording_callback> cb = std::make_shared<recording_callback>();
};

}  // namespace

TEST_F(TrackerDispatch, HttpAnnounceRoundTrip) {
  scripted_server tracker(false, [](const std::string&, int) { return http_reply(compact_reply); });
  dispatcher.start_tracker_request(announce(local_url(tracker, "http", "/announce")), cb, "user:pw");
  EXPECT_EQ(cb->dispatcher(), &dispatcher);
  run(dispatcher);

  ASSERT_EQ(tracker.requests().size(), 1u);
  EXPECT_EQ(tracker.requests()[0],
            "GET /announce?info_hash=abcdefghijklmnopqrst&peer_id=-QF0100-ext012345678&port=6881&uploaded=0"
            "&downloaded=0&left=1000&event=started&key=ff&compact=1&numwant=50&no_peer_id=1 HTTP/1.0\r\n"
            "Accept-Encoding: gzip\r\nUser-Agent: Quillfern (quillfern-engine)\r\nHost: 127.0.0.1:" +
                std::to_string(tracker.port()) + "\r\nAuthorization: Basic dXNlcjpwdw==\r\n\r\n");
  ASSERT_EQ(cb->responses.size(), 1u);
  EXPECT_EQ(cb->calls(), 1u);
  const auto& r = cb->responses[0];
  EXPECT_EQ(r.interval, 1800);
  EXPECT_EQ(r.complete, 2);
  EXPECT_EQ(r.incomplete, 3);
  ASSERT_EQ(r.peers.size(), 2u);
  EXPECT_EQ(r.peers[0].ip, "127.0.0.1");
  EXPECT_EQ(r.peers[0].port, 6882);
  EXPECT_EQ(r.peers[1].ip, "10.1.2.3");
  EXPECT_EQ(cb->tracker_address(), address(127, 0, 0, 1, tracker.port()));
  EXPECT_EQ(cb->dispatcher(), nullptr);
}

TEST_F(TrackerDispatch, HttpGzipReplyAndReplyWithoutLength) {
  scripted_server gz(false, [](const std::string&, int) {
    return http_reply(gzip(compact_reply), "Content-Encoding: gzip\r\n");
  });
  scripted_server unsized(false, [](const std::string&, int) {
    return "HTTP/1.0 200 OK\r\n\r\nd8:intervali60e5:peers0:15:warning message4:slowe";
  });
  dispatcher.start_tracker_request(announce(local_url(gz, "http", "/announce")), cb);
  dispatcher.start_tracker_request(announce(local_url(unsized, "http", "/announce")), cb);
  run(dispatcher);
  ASSERT_EQ(cb->responses.size(), 2u);
  EXPECT_EQ(cb->warnings, std::vector<std::string>{"slow"});
  std::size_t with_peers = 0;
  for (const auto& r : cb->responses) with_peers += r.peers.size();
  EXPECT_EQ(with_peers, 2u);
}

TEST_F(TrackerDispatch, HttpStoppedAnnounceWantsNoPeers) {
  scripted_server tracker(false, [](const std::string&, int) { return http_reply("d8:intervali60e5:peers0:e"); });
  tracker_query q = announce(local_url(tracker, "http", "/a/announce?passkey=x"));
  q.event = tracker_query::stopped;
  dispatcher.start_tracker_request(q, cb);
  run(dispatcher);
  ASSERT_EQ(tracker.requests().size(), 1u);
  const std::string req = tracker.requests()[0];
  EXPECT_EQ(req.rfind("GET /a/announce?passkey=x&info_hash=", 0), 0u);
  EXPECT_NE(req.find("&event=stopped&key=ff&compact=1&numwant=0&no_peer_id=1 "), std::string::npos);
  ASSERT_EQ(cb->responses.size(), 1u);
  EXPECT_EQ(cb->responses[0].query.num_want, 0);
}

TEST_F(TrackerDispatch, HttpScrapeAndFailureReason) {
  scripted_server tracker(false, [](const std::string& req, int) {
    if (req.rfind("GET /scrape?", 0) == 0)
      return http_reply("d5:filesd20:abcdefghijklmnopqrstd8:completei4e10:incompletei6eeee");
    return std::string("HTTP/1.0 403 Forbidden\r\n\r\nd14:failure reason12:unregisterede");
  });
  tracker_query scrape = announce(local_url(tracker, "http", "/announce"));
  scrape.kind = tracker_query::scrape_request;
  dispatcher.start_tracker_request(scrape, cb);
  run(dispatcher);
  ASSERT_EQ(cb->responses.size(), 1u);
  EXPECT_EQ(cb->responses[0].complete, 4);
  EXPECT_EQ(cb->responses[0].incomplete, 6);
  EXPECT_EQ(tracker.requests()[0].find("peer_id"), std::string::npos);

  dispatcher.start_tracker_request(announce(local_url(tracker, "http", "/announce")), cb);
  run(dispatcher);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->errors[0].status, 403);
  EXPECT_EQ(cb->errors[0].message, "unregistered");
  EXPECT_EQ(cb->responses.size(), 1u);
}

TEST_F(TrackerDispatch, HttpRedirectIsFollowedWithoutItsQuery) {
  scripted_server target(false, [](const std::string&, int) { return http_reply(compact_reply); });
  const std::string location = local_url(target, "http", "/real/announce?ignored=1");
  scripted_server origin(false, [&](const std::string&, int) {
    return "HTTP/1.0 302 Found\r\nLocation: " + location + "\r\n\r\n";
  });
  dispatcher.start_tracker_request(announce(local_url(origin, "http", "/announce")), cb);
  run(dispatcher);
  ASSERT_EQ(cb->responses.size(), 1u);
  EXPECT_EQ(cb->calls(), 1u);
  EXPECT_EQ(cb->responses[0].query.url, local_url(target, "http", "/real/announce"));
  ASSERT_EQ(target.requests().size(), 1u);
  EXPECT_EQ(target.requests()[0].rfind("GET /real/announce?info_hash=", 0), 0u);
}

TEST_F(TrackerDispatch, HttpRedirectLoopIsCutOff) {
  std::string self;
  scripted_server loop(false, [&](const std::string&, int) {
    return "HTTP/1.0 301 Moved\r\nLocation: " + self + "\r\n\r\n";
  });
  self = local_url(loop, "http", "/announce");
  dispatcher.start_tracker_request(announce(self), cb);
  run(dispatcher);
  EXPECT_TRUE(dispatcher.empty());
  EXPECT_EQ(loop.requests().size(), std::size_t(tracker_dispatcher::max_redirects) + 1);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->calls(), 1u);
  EXPECT_EQ(cb->errors[0].status, -1);
  EXPECT_EQ(cb->errors[0].message, "too many redirections from tracker");
}

TEST_F(TrackerDispatch, HttpSilentTrackerTimesOut) {
  scripted_server silent(false, [](const std::string&, int) { return std::string(); });
  dispatcher.start_tracker_request(announce(local_url(silent, "http", "/announce")), cb);
  const auto now = clock_type::now();
  run_until(dispatcher, [&] { return silent.requests().size() == 1; }, now);
  dispatcher.tick(now + 19s);
  EXPECT_EQ(cb->calls(), 0u);
  dispatcher.tick(now + 21s);
  EXPECT_TRUE(dispatcher.empty());
  ASSERT_EQ(cb->timeouts.size(), 1u);
  EXPECT_EQ(cb->calls(), 1u);
}

TEST_F(TrackerDispatch, HttpRefusedConnection) {
  std::uint16_t closed_port;
  {
    scripted_server gone(false, [](const std::string&, int) { return std::string(); });
    closed_port = gone.port();
  }
  dispatcher.start_tracker_request(announce("http://127.0.0.1:" + std::to_string(closed_port) + "/announce"), cb);
  run(dispatcher);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->errors[0].status, -1);
  EXPECT_EQ(cb->errors[0].message, "connection refused");
}

TEST_F(TrackerDispatch, RequestsThatCannotStartAreReportedAtOnce) {
  dispatcher.start_tracker_request(announce("ftp://h/announce"), cb);
  dispatcher.start_tracker_request(announce("http:/h/announce"), cb);
  tracker_query scrape = announce("http://h/tracker.php");
  scrape.kind = tracker_query::scrape_request;
  dispatcher.start_tracker_request(scrape, cb);
  EXPECT_TRUE(dispatcher.empty());
  ASSERT_EQ(cb->errors.size(), 3u);
  EXPECT_EQ(cb->errors[0].message, "unkown protocol in tracker url");
  EXPECT_EQ(cb->errors[1].message, "invalid url");
  EXPECT_EQ(cb->errors[2].message, "scrape is not available on url: 'http://h/tracker.php'");
  for (const auto& e : cb->errors) EXPECT_EQ(e.status, -1);
  EXPECT_EQ(cb->dispatcher(), nullptr);
}

TEST_F(TrackerDispatch, RequestOfAGoneTorrentEndsQuietlyAndQuickly) {
  scripted_server silent(false, [](const std::string&, int) { return std::string(); });
  scripted_server silent_udp(true, [](const std::string&, int) { return std::string(); });
  dispatcher.start_tracker_request(announce(local_url(silent, "http", "/announce")), cb);
  dispatcher.start_tracker_request(announce(local_url(silent_udp, "udp", "")), cb);
  const auto now = clock_type::now();
  run_until(
      dispatcher, [&] { return silent.requests().size() == 1 && silent_udp.requests().size() == 1; }, now);
  std::weak_ptr<recording_callback> watch = cb;
  cb.reset();  // the torrent goes away
  EXPECT_TRUE(watch.expired());
  dispatcher.tick(now + 2s);
  EXPECT_EQ(dispatcher.size(), 2u);
  dispatcher.tick(now + 4s);
  EXPECT_TRUE(dispatcher.empty());
}

TEST_F(TrackerDispatch, AbortAllKeepsOnlyRequestsNobodyWaitsFor) {
  scripted_server silent(false, [](const std::string&, int) { return std::string(); });
  auto other = std::make_shared<recording_callback>();
  dispatcher.start_tracker_request(announce(local_url(silent, "http", "/announce")), cb);
  dispatcher.start_tracker_request(announce(local_url(silent, "http", "/announce")), other);
  dispatcher.start_tracker_request(announce(local_url(silent, "http", "/announce")), {});
  dispatcher.start_tracker_request(announce(local_url(silent, "udp", "")), std::weak_ptr<recording_callback>());
  other.reset();
  ASSERT_EQ(dispatcher.size(), 4u);
  dispatcher.abort_all();
  EXPECT_EQ(dispatcher.size(), 3u);
  EXPECT_EQ(cb->dispatcher(), nullptr);
  EXPECT_EQ(cb->calls(), 0u);
}

namespace {

std::string be32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16 & 0xff), char(v >> 8 & 0xff), char(v & 0xff)};
}
std::uint32_t get32(const std::string& s, std::size_t at) {
  return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
         std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint8_t(s[at + 3]);
}

// A UDP tracker: connect replies with connection id 0x0102030405060708,
// announces with one peer, scrapes with counts.
std::string udp_tracker(const std::string& req, int) {
  if (req.size() < 16) return {};
  const std::string tid = req.substr(12, 4);
  const std::uint32_t action = get32(req, 8);
  if (req.substr(0, 8) == std::string("\x00\x00\x04\x17\x27\x10\x19\x80", 8) && action == 0)
    return be32(0) + tid + std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  if (req.substr(0, 8) != std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)) return {};
  if (action == 1) return be32(1) + tid + be32(900) + be32(1) + be32(2) + std::string("\x7f\x00\x00\x01\x1a\xe3", 6);
  if (action == 2) return be32(2) + tid + be32(7) + be32(70) + be32(8);
  return {};
}

}  // namespace

TEST_F(TrackerDispatch, UdpAnnounceScrapeAndVariant) {
  scripted_server tracker(true, udp_tracker);
  dispatcher.start_tracker_request(announce(local_url(tracker, "udp", "")), cb);
  run(dispatcher);
  ASSERT_EQ(cb->responses.size(), 1u);
  EXPECT_EQ(cb->responses[0].interval, 900);
  EXPECT_EQ(cb->responses[0].incomplete, 1);
  EXPECT_EQ(cb->responses[0].complete, 2);
  ASSERT_EQ(cb->responses[0].peers.size(), 1u);
  EXPECT_EQ(cb->responses[0].peers[0].port, 6883);
  EXPECT_EQ(cb->tracker_address(), address(127, 0, 0, 1, tracker.port()));

  dispatcher.start_tracker_request(announce(local_url(tracker, "bcudp", "/announce")), cb);
  tracker_query scrape = announce(local_url(tracker, "udp", ""));
  scrape.kind = tracker_query::scrape_request;
  dispatcher.start_tracker_request(scrape, cb);
  run(dispatcher);
  ASSERT_EQ(cb->responses.size(), 3u);
  EXPECT_EQ(cb->errors.size(), 0u);

  std::vector<std::size_t> sizes;
  for (const auto& r : tracker.requests()) sizes.push_back(r.size());
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{16, 16, 16, 36, 98, 100}));
}

TEST_F(TrackerDispatch, UdpErrorReplyAndRefusal) {
  scripted_server busy(true, [](const std::string& req, int) { return be32(3) + req.substr(12, 4) + "busy"; });
  dispatcher.start_tracker_request(announce(local_url(busy, "udp", "")), cb);
  run(dispatcher);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->errors[0].message, "busy");
  EXPECT_EQ(cb->errors[0].status, -1);

  std::uint16_t closed_port;
  {
    scripted_server gone(true, udp_tracker);
    closed_port = gone.port();
  }
  dispatcher.start_tracker_request(announce("udp://127.0.0.1:" + std::to_string(closed_port)), cb);
  run(dispatcher);
  ASSERT_EQ(cb->errors.size(), 2u);
  EXPECT_EQ(cb->errors[1].status, -1);
  EXPECT_EQ(cb->errors[1].message, network_error(21).what());
}

TEST_F(TrackerDispatch, RequestsLeaveFromTheLocalAddress) {
  scripted_server http(false, [](const std::string&, int) { return http_reply(compact_reply); });
  scripted_server udp(true, udp_tracker);
  dispatcher.set_local_address(address(127, 0, 0, 5, 0));
  dispatcher.start_tracker_request(announce(local_url(http, "http", "/announce")), cb);
  dispatcher.start_tracker_request(announce(local_url(udp, "udp", "")), cb);
  run(dispatcher);
  EXPECT_EQ(cb->responses.size(), 2u);
  EXPECT_EQ(http.sources(), std::vector<std::string>{"127.0.0.5"});
  ASSERT_EQ(udp.sources().size(), 2u);
  for (const auto& s : udp.sources()) EXPECT_EQ(s, "127.0.0.5");
}

namespace {

// Serves the dispatcher only as the selector reports, never by its tick, and
// with waits as long as the deadline allows: a step that waited for a tick,
// or a look-up that did not end the wait, would run into the deadline.
template <class Pred>
bool serve_until(tracker_dispatcher& d, selector& sel, Pred done) {
  const test_support::deadline end;
  selector::socket_list r, w, e;
  while (!done()) {
    if (end.passed()) return false;
    sel.wait(end.ms_left() * 1000, r, w, e);
    d.serve(r, w, e);
    // The selector reports only the trackers' sockets here.
    EXPECT_TRUE(r.empty() && w.empty() && e.empty());
  }
  return true;
}

}  // namespace

TEST_F(TrackerDispatch, ServedAsSocketsBecomeReadyWithoutTicks) {
  selector sel;
  dispatcher.attach(sel);
  scripted_server http(false, [](const std::string&, int) { return http_reply(compact_reply); });
  scripted_server udp(true, udp_tracker);
  std::uint16_t closed_port;
  {
    scripted_server gone(false, udp_tracker);
    closed_port = gone.port();
  }
  dispatcher.start_tracker_request(announce(local_url(http, "http", "/announce")), cb);
  dispatcher.start_tracker_request(announce(local_url(udp, "udp", "")), cb);
  tracker_query scrape = announce(local_url(udp, "udp", ""));
  scrape.kind = tracker_query::scrape_request;
  dispatcher.start_tracker_request(scrape, cb);
  dispatcher.start_tracker_request(announce("http://127.0.0.1:" + std::to_string(closed_port) + "/announce"), cb);
  ASSERT_TRUE(serve_until(dispatcher, sel, [&] { return dispatcher.empty(); }));

  EXPECT_EQ(cb->responses.size(), 3u);
  ASSERT_EQ(cb->errors.size(), 1u);
  EXPECT_EQ(cb->errors[0].message, "connection refused");
  EXPECT_EQ(http.requests().size(), 1u);
  // Every socket left the selector with its request.
  EXPECT_EQ(sel.size(), 0u);
}
