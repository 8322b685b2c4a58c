#include <gtest/gtest.h>

#include <string>

#include "engine/tracker/http_reply_reader.h"

using namespace engine;
using result = http_reply_reader::result;

namespace {

// Feeds `reply` in pieces of `piece` bytes, then (when `close`) the end of
// the connection; the first result that is not pending.
result feed_all(http_reply_reader& r, const std::string& reply, std::size_t piece, bool close = true) {
  for (std::size_t i = 0; i < reply.size(); i += piece) {
    const auto n = std::min(piece, reply.size() - i);
    result res = r.feed(reply.data() + i, int(n));
    if (res.kind != result::pending) return res;
  }
  return close ? r.feed(nullptr, 0) : result{};
}

}  // namespace

TEST(TrackerHttpReply, ReadsAReplyWithContentLengthInAnyPieces) {
  const std::string body = "d8:intervali1800e5:peers0:e";
  const std::string reply = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body;
  for (std::size_t piece : {1u, 2u, 7u, 1000u}) {
    http_reply_reader r(1 << 20);
    const result res = feed_all(r, reply, piece, false);
    ASSERT_EQ(res.kind, result::complete) << piece;
    EXPECT_EQ(r.body(), body);
    EXPECT_EQ(r.status_code(), 200);
    EXPECT_EQ(r.status_message(), "OK");
    EXPECT_FALSE(r.gzipped());
  }
}

TEST(TrackerHttpReply, WithoutContentLengthTheBodyEndsWithTheConnection) {
  http_reply_reader r(1 << 20);
  const std::string reply = "HTTP/1.1 404 Not Found\nX: y\n\nd14:failure reason3:bade";
  EXPECT_EQ(feed_all(r, reply, 5, false).kind, result::pending);
  EXPECT_EQ(r.feed(nullptr, 0).kind, result::complete);
  EXPECT_EQ(r.body(), "d14:failure reason3:bade");
  EXPECT_EQ(r.status_code(), 404);
  EXPECT_EQ(r.status_message(), "Not Found");
}

TEST(TrackerHttpReply, HeaderNamesIgnoreCase) {
  http_reply_reader r(1 << 20);
  const std::string reply = "HTTP/1.0 200 OK\r\ncontent-encoding: x-gzip\r\nCONTENT-LENGTH:3\r\n\r\nabc";
  EXPECT_EQ(feed_all(r, reply, 100, false).kind, result::complete);
  EXPECT_TRUE(r.gzipped());
}

TEST(TrackerHttpReply, RedirectsCarryTheLocationWithoutItsQuery) {
  http_reply_reader r(1 << 20);
  const result res = feed_all(r, "HTTP/1.0 302 Found\r\nLocation: http://other:81/announce?x=1&y=2\r\n\r\n", 3, false);
  EXPECT_EQ(res.kind, result::redirect);
  EXPECT_EQ(res.text, "http://other:81/announce");

  http_reply_reader plain(1 << 20);
  EXPECT_EQ(feed_all(plain, "HTTP/1.0 301 Moved\r\nLocation: udp://u:1\r\n\r\n", 100, false).text, "udp://u:1");

  http_reply_reader missing(1 << 20);
  const result no_location = feed_all(missing, "HTTP/1.0 302 Found\r\nServer: x\r\n\r\n", 100, false);
  EXPECT_EQ(no_location.kind, result::failed);
  EXPECT_EQ(no_location.text, "got redirection response (302) without 'Location' header");
}

TEST(TrackerHttpReply, ReportsEachBrokenReply) {
  struct Case {
    std::string reply;
    bool close;
    std::string error;
  };
  const Case cases[] = {
      {"", true, "invalid tracker response, connection closed"},
      {"HTTP/1.0 200 O", true, "invalid tracker response, connection closed"},
      {"HTTP/1.0 200 OK\r\nContent-Len", true, "invalid tracker response, connection closed while reading header"},
      {"ICY 200 OK\r\n", false, "unknown protocol in response: ICY"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n", false, "invalid content-length in tracker response"},
      {"HTTP/1.0 200 OK\r\nContent-Length: \r\n", false, "invalid content-length in tracker response"},
      {"HTTP/1.0 200 OK\r\nContent-Length: -4\r\n", false, "invalid content-length in tracker response"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n", false, "invalid content-length in tracker response"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n", false, "content-length is greater than maximum response length"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n", false, "content-length is smaller than minimum response length"},
      {"HTTP/1.0 200 OK\r\nContent-Encoding: deflate\r\n", false, "unknown content encoding in response: \"deflate\""},
      {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcd", false, "invalid tracker response (body > content_length)"},
      {"HTTP/1.0 200 OK\r\n\r\n" + std::string(1100, 'x'), false, "too large tracker response"},
  };
  for (const Case& c : cases) {
    http_reply_reader r(1024);
    const result res = feed_all(r, c.reply, 1000, c.close);
    EXPECT_EQ(res.kind, result::failed) << c.reply;
    EXPECT_EQ(res.text, c.error) << c.reply;
  }
}

TEST(TrackerHttpReply, HeadersWithoutEndAreCutOffAtTheMaximumLength) {
  // Each header line leaves the buffer once read; the reply as a whole is
  // still bounded, so a tracker cannot keep the reader busy forever.
  http_reply_reader r(1024);
  result res = r.feed("HTTP/1.0 200 OK\r\n", 17);
  const std::string line = "X-Filler: abcdefghijklmnop\r\n";
  for (int i = 0; i < 1000 && res.kind == result::pending; ++i)
    res = r.feed(line.data(), int(line.size()));
  EXPECT_EQ(res.kind, result::failed);
  EXPECT_EQ(res.text, "too large tracker response");
}

TEST(TrackerHttpReply, ShortContentLengthIsFineForOtherStatuses) {
  http_reply_reader r(1 << 20);
  EXPECT_EQ(feed_all(r, "HTTP/1.0 404 Not Found\r\nContent-Length: 2\r\n\r\nno", 100, false).kind, result::complete);
  EXPECT_EQ(r.body(), "no");
}
