#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/tracker/tracker_url.h"

using namespace engine;

namespace {

std::string split_error(const std::string& url) {
  try {
    split_tracker_url(url);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(TrackerUrl, SplitsIntoProtocolHostPortAndPath) {
  const auto u = split_tracker_url("http://h:6969/announce");
  EXPECT_EQ(u.protocol, "http");
  EXPECT_EQ(u.host, "h");
  EXPECT_EQ(u.port, 6969);
  EXPECT_EQ(u.path, "/announce");

  const auto no_port = split_tracker_url("http://tracker.example/a/announce?x=1");
  EXPECT_EQ(no_port.host, "tracker.example");
  EXPECT_EQ(no_port.port, 80);
  EXPECT_EQ(no_port.path, "/a/announce?x=1");

  const auto udp = split_tracker_url("udp://10.0.0.1:80");
  EXPECT_EQ(udp.protocol, "udp");
  EXPECT_EQ(udp.host, "10.0.0.1");
  EXPECT_EQ(udp.port, 80);
  EXPECT_EQ(udp.path, "");

  // A colon after the host's slash belongs to the path.
  const auto path_colon = split_tracker_url("http://h/x:1");
  EXPECT_EQ(path_colon.host, "h");
  EXPECT_EQ(path_colon.port, 80);
  EXPECT_EQ(path_colon.path, "/x:1");
}

TEST(TrackerUrl, RefusesBrokenUrls) {
  EXPECT_EQ(split_error("no scheme at all"), "invalid url");
  EXPECT_EQ(split_error("http:/h/announce"), "invalid url");
  EXPECT_EQ(split_error("http:"), "invalid url");
  EXPECT_EQ(split_error("http:///announce"), "invalid url");
  EXPECT_EQ(split_error("http://h:abc/announce"), "invalid url: \"http://h:abc/announce\", port number expected");
  EXPECT_EQ(split_error("http://h:/announce"), "invalid url: \"http://h:/announce\", port number expected");
  EXPECT_EQ(split_error("udp://h:0"), "invalid url: \"udp://h:0\", port number expected");
  EXPECT_EQ(split_error("udp://h:65536"), "invalid url: \"udp://h:65536\", port number expected");
  EXPECT_EQ(split_error("udp://h:12x"), "invalid url: \"udp://h:12x\", port number expected");
}

TEST(TrackerUrl, Base64MatchesTheStandardVectors) {
  EXPECT_EQ(base64_encode(""), "");
  EXPECT_EQ(base64_encode("f"), "Zg==");
  EXPECT_EQ(base64_encode("fo"), "Zm8=");
  EXPECT_EQ(base64_encode("foo"), "Zm9v");
  EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64_encode("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(base64_encode(std::string("\xff\xfe\x00", 3)), "//4A");
}
