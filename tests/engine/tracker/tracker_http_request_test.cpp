#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/tracker/http_tracker_request.h"

using namespace engine;

namespace {

tracker_query announce() {
  tracker_query q;
  q.kind = tracker_query::announce_request;
  q.info_hash = sha1_hash::from_bytes(std::string("\x00\xff" "A b-_.!~*()/xyz018", 20));
  q.pid = sha1_hash::from_bytes("-QF0100-ext345678901");
  q.downloaded = 1000;
  q.uploaded = 2000;
  q.left = 3000;
  q.listen_port = 6881;
  q.event = tracker_query::none;
  q.url = "http://t.example:6969/announce";
  q.key = 0x1a2b;
  q.num_want = 50;
  return q;
}

const std::string escaped_hash = "%00%ffA%20b-_.!~*()%2fxyz018";

}  // namespace

TEST(TrackerHttpRequest, AnnounceIsWrittenByteForByte) {
  http_settings s;
  s.user_agent = "Quillfern";
  tracker_query q = announce();
  q.event = tracker_query::started;
  EXPECT_EQ(build_http_tracker_request(q, "t.example", 6969, "/announce", s, ""),
            "GET /announce?info_hash=" + escaped_hash +
                "&peer_id=-QF0100-ext345678901&port=6881&uploaded=2000&downloaded=1000&left=3000"
                "&event=started&key=1a2b&compact=1&numwant=50&no_peer_id=1 HTTP/1.0\r\n"
                "Accept-Encoding: gzip\r\n"
                "User-Agent: Quillfern (quillfern-engine)\r\n"
                "Host: t.example:6969\r\n\r\n");
}

TEST(TrackerHttpRequest, EventKeyAndNumWantForms) {
  http_settings s;
  tracker_query q = announce();
  const std::string none = build_http_tracker_request(q, "h", 80, "/announce", s, "");
  EXPECT_EQ(none.find("&event="), std::string::npos);
  EXPECT_NE(none.find("\r\nHost: h\r\n\r\n"), std::string::npos);  // port 80 not written

  q.event = tracker_query::completed;
  EXPECT_NE(build_http_tracker_request(q, "h", 80, "/announce", s, "").find("&left=3000&event=completed&key="),
            std::string::npos);

  q.event = tracker_query::stopped;
  q.num_want = 0;
  EXPECT_NE(build_http_tracker_request(q, "h", 80, "/announce", s, "").find("&event=stopped&key=1a2b&compact=1&numwant=0&"),
            std::string::npos);

  q.key = 255;
  q.num_want = 1500;
  const std::string r = build_http_tracker_request(q, "h", 80, "/announce", s, "");
  EXPECT_NE(r.find("&key=ff&"), std::string::npos);
  EXPECT_NE(r.find("&numwant=999&"), std::string::npos);

  q.key = 0;
  EXPECT_NE(build_http_tracker_request(q, "h", 80, "/announce", s, "").find("&key=0&"), std::string::npos);
  q.key = -1;  // the session's key is unsigned 32-bit
  EXPECT_NE(build_http_tracker_request(q, "h", 80, "/announce", s, "").find("&key=ffffffff&"), std::string::npos);
}

TEST(TrackerHttpRequest, PathWithQueryGetsAmpersand) {
  http_settings s;
  const std::string r = build_http_tracker_request(announce(), "h", 80, "/announce.php?passkey=abc", s, "");
  EXPECT_EQ(r.rfind("GET /announce.php?passkey=abc&info_hash=" + escaped_hash + "&peer_id=", 0), 0u);
}

TEST(TrackerHttpRequest, ScrapeReplacesAnnounceAndSendsOnlyTheHash) {
  http_settings s;
  s.user_agent = "UA";
  tracker_query q = announce();
  q.kind = tracker_query::scrape_request;
  EXPECT_EQ(build_http_tracker_request(q, "h", 8080, "/x/announce/announce?k=1", s, ""),
            "GET /x/scrape/announce?k=1&info_hash=" + escaped_hash +
                " HTTP/1.0\r\nAccept-Encoding: gzip\r\nUser-Agent: UA (quillfern-engine)\r\nHost: h:8080\r\n\r\n");

  q.url = "http://h/tracker.php";
  try {
    build_http_tracker_request(q, "h", 80, "/tracker.php", s, "");
    FAIL() << "scrape without announce must throw";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "scrape is not available on url: 'http://h/tracker.php'");
  }
}

TEST(TrackerHttpRequest, ProxyAndAuthentication) {
  http_settings s;
  s.user_agent = "Quillfern";
  s.proxy_ip = "proxy.local";
  s.proxy_port = 3128;
  s.proxy_login = "pu";
  s.proxy_password = "pp";
  tracker_query q = announce();
  q.kind = tracker_query::scrape_request;
  EXPECT_EQ(build_http_tracker_request(q, "t.example", 6969, "/announce", s, "user:pass"),
            "GET http://t.example:6969/scrape?info_hash=" + escaped_hash +
                " HTTP/1.0\r\nAccept-Encoding: gzip\r\nUser-Agent: Quillfern (quillfern-engine)\r\n"
                "Host: t.example:6969\r\n"
                "Proxy-Authorization: Basic cHU6cHA=\r\n"
                "Authorization: Basic dXNlcjpwYXNz\r\n\r\n");

  // Port 80 is left out of the proxy form; no proxy login, no header.
  s.proxy_login.clear();
  const std::string r = build_http_tracker_request(q, "t.example", 80, "/announce", s, "");
  EXPECT_EQ(r.rfind("GET http://t.example/scrape?info_hash=", 0), 0u);
  EXPECT_EQ(r.find("Authorization"), std::string::npos);
}
