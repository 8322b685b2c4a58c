#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "engine/torrent_metainfo.h"
#include "engine/tracker_dispatcher.h"
#include "tracker_opentracker.h"
#include "tracker_test_support.h"
#include "tracker_transmission.h"

using namespace engine;
using namespace std::chrono_literals;
using tracker_test::recording_callback;

namespace {

// Writes `size` bytes of a fixed pseudo-random sequence.
void write_payload(const std::string& path, std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t x = 0x9e3779b9;
  for (auto& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = char(x);
  }
  std::ofstream(path, std::ios::binary) << data;
}

// A .torrent made by mktorrent (an independent tool) for `file`.
std::string make_torrent(const std::string& file, const std::string& announce, const std::string& out) {
  const std::string command = "/usr/bin/mktorrent -a '" + announce + "' -l 16 -o '" + out + "' '" + file +
                              "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? out : std::string();
}

sha1_hash info_hash_of(const std::string& torrent_file) {
  std::ifstream in(torrent_file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return torrent_metainfo(bytes.data(), bytes.size()).info_hash();
}

}  // namespace

TEST(TrackerTransmission, SeedIsFoundThroughOpentracker) {
  if (!tracker_test::opentracker::available() || !tracker_test::transmission::available() ||
      ::access("/usr/bin/mktorrent", X_OK) != 0)
    GTEST_SKIP() << "opentracker, transmission-daemon or mktorrent is not installed";

  tracker_test::temp_dir data("qf-seed");
  const std::string payload = data.path() + "/payload.bin";
  write_payload(payload, 1 << 20);
  const std::uint16_t tracker_port = tracker_test::free_port();
  const std::string torrent =
      make_torrent(payload, "http://127.0.0.1:" + std::to_string(tracker_port) + "/announce",
                   data.path() + "/payload.torrent");
  ASSERT_FALSE(torrent.empty());
  const sha1_hash ih = info_hash_of(torrent);

  tracker_test::opentracker tracker({ih}, tracker_port);
  if (!tracker.ready()) GTEST_SKIP() << "opentracker did not start";
  tracker_test::transmission seed(data.path());
  if (!seed.ready()) GTEST_SKIP() << "transmission-daemon did not start";
  ASSERT_TRUE(seed.add(torrent, data.path())) << seed.log();

  http_settings settings;
  tracker_dispatcher dispatcher(settings);
  tracker_query q;
  q.info_hash = ih;
  q.pid = sha1_hash::from_bytes("-QF0100-ext000000042");
  q.listen_port = 7100;
  q.left = 1 << 20;
  q.event = tracker_query::started;
  q.url = tracker.udp_url();
  q.num_want = 50;

  // Transmission checks its data, then announces; ask until it shows up.
  bool found = false;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!found && std::chrono::steady_clock::now() < deadline) {
    auto cb = std::make_shared<recording_callback>();
    dispatcher.start_tracker_request(q, cb);
    while (!dispatcher.empty()) {
      dispatcher.tick();
      std::this_thread::sleep_for(2ms);
    }
    ASSERT_EQ(cb->responses.size(), 1u);
    for (const auto& p : cb->responses[0].peers) {
      if (p.ip == "127.0.0.1" && p.port == seed.peer_port()) found = true;
    }
    if (found) {
      EXPECT_GE(cb->responses[0].complete, 1);
    }
    q.event = tracker_query::none;
    if (!found) std::this_thread::sleep_for(200ms);
  }
  EXPECT_TRUE(found) << seed.log();
  EXPECT_EQ(seed.percent_done(), 100.0);
}
