#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "tests/engine/session/checked.h"
#include "engine/formats/torrent_metainfo.h"
#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_opentracker.h"
#include "tests/engine/tracker/tracker_test_support.h"
#include "tests/engine/tracker/tracker_torrent_files.h"
#include "tests/engine/tracker/tracker_transmission.h"

using namespace engine;
using namespace std::chrono_literals;
using tracker_test::recording_callback;
using tracker_test::info_hash_of;
using tracker_test::make_torrent;
using tracker_test::read_file;
using tracker_test::write_payload;

namespace {

bool tools_missing() {
  return !tracker_test::opentracker::available() || !tracker_test::transmission::available() ||
         !tracker_test::mktorrent_available();
}

torrent_handle add_to_session(session& s, const std::string& torrent_file, const std::string& save_path) {
  const std::string bytes = read_file(torrent_file);
  return s.add_torrent_from_entry(bdecode(bytes), save_path);
}

}  // namespace

TEST(TrackerTransmission, SeedIsFoundThroughOpentracker) {
  if (!tracker_test::opentracker::available() || !tracker_test::transmission::available() ||
      !tracker_test::mktorrent_available())
    GTEST_FAIL() << "opentracker, transmission-daemon or mktorrent is not installed";

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
  if (!tracker.ready()) GTEST_FAIL() << "opentracker did not start";
  tracker_test::transmission seed(data.path());
  if (!seed.ready()) GTEST_FAIL() << "transmission-daemon did not start";
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
  std::size_t answers = 1;
  int complete = 0;
  bool found = false;
  test_support::wait_until(
      [&] {
        auto cb = std::make_shared<recording_callback>();
        dispatcher.start_tracker_request(q, cb);
        q.event = tracker_query::none;
        test_support::wait_until(
            [&] {
              dispatcher.tick();
              return dispatcher.empty();
            },
            test_support::default_deadline, 2ms);
        answers = cb->responses.size();
        if (answers != 1u) return true;
        complete = cb->responses[0].complete;
        for (const auto& p : cb->responses[0].peers)
          if (p.ip == "127.0.0.1" && p.port == seed.peer_port()) found = true;
        return found;
      },
      90s, 200ms);
  ASSERT_EQ(answers, 1u);
  EXPECT_TRUE(found) << seed.log();
  if (found) {
    EXPECT_GE(complete, 1);
  }
  EXPECT_EQ(seed.percent_done(), 100.0);
}

namespace {

// Transmission never dials the loopback peers a tracker lists; it only
// accepts them. So the engine has to make the connection: while it has no
// peer it asks the tracker again, until Transmission's own announce is there.
bool wait_connecting(const torrent_handle& h, const std::function<bool()>& done, std::chrono::seconds limit) {
  auto next_announce = std::chrono::steady_clock::now() + 2s;
  return test_support::wait_until(
      [&] {
        if (done()) return true;
        if (const auto now = std::chrono::steady_clock::now(); now >= next_announce) {
          if (h.status().num_peers == 0) h.force_reannounce();
          next_announce = now + 2s;
        }
        return false;
      },
      limit, 50ms);
}

}  // namespace

TEST(TrackerTransmission, EngineDownloadsFromTransmission) {
  if (tools_missing()) GTEST_FAIL() << "opentracker, transmission-daemon or mktorrent is not installed";
  tracker_test::temp_dir seed_dir("qf-tr-seed");
  tracker_test::temp_dir leech_dir("qf-tr-leech");
  tracker_test::shared_torrent t(seed_dir.path(), 3 * 1024 * 1024 + 12345);
  if (!t.ready()) GTEST_FAIL() << "opentracker did not start";

  tracker_test::transmission seed(seed_dir.path());
  if (!seed.ready()) GTEST_FAIL() << "transmission-daemon did not start";
  ASSERT_TRUE(seed.add(t.torrent_file, seed_dir.path())) << seed.log();

  // The session on an address of its own: the tracker hands it out as such.
  auto leech = swarm_fixture::make_session(2);
  ASSERT_TRUE(leech->is_listening());
  torrent_handle h = add_to_session(*leech, t.torrent_file, leech_dir.path());
  ASSERT_TRUE(engine_test::checked(h));
  h.resume();
  ASSERT_TRUE(wait_connecting(h, [&] { return h.is_seed(); }, 90s))
      << "progress " << h.status().progress << "\n" << seed.log();
  EXPECT_EQ(read_file(leech_dir.path() + "/payload.bin"), read_file(t.payload));
}

TEST(TrackerTransmission, TransmissionDownloadsFromEngine) {
  if (tools_missing()) GTEST_FAIL() << "opentracker, transmission-daemon or mktorrent is not installed";
  tracker_test::temp_dir seed_dir("qf-tr-seed");
  tracker_test::temp_dir leech_dir("qf-tr-leech");
  tracker_test::shared_torrent t(seed_dir.path(), 3 * 1024 * 1024 + 54321);
  if (!t.ready()) GTEST_FAIL() << "opentracker did not start";

  auto seed = swarm_fixture::make_session(2);
  ASSERT_TRUE(seed->is_listening());
  torrent_handle h = add_to_session(*seed, t.torrent_file, seed_dir.path());
  ASSERT_TRUE(engine_test::checked(h));
  ASSERT_TRUE(h.is_seed());
  h.resume();

  tracker_test::transmission leech(leech_dir.path());
  if (!leech.ready()) GTEST_FAIL() << "transmission-daemon did not start";
  ASSERT_TRUE(leech.add(t.torrent_file, leech_dir.path())) << leech.log();
  ASSERT_TRUE(wait_connecting(h, [&] { return leech.percent_done() == 100.0; }, 90s))
      << "transmission at " << leech.percent_done() << "%\n" << leech.log();
  EXPECT_EQ(read_file(leech_dir.path() + "/payload.bin"), read_file(t.payload));
}
