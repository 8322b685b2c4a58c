#include "engine/session/torrent.h"

#include <gtest/gtest.h>

#include "engine/session/alert_types.h"
#include "engine/session/checker_impl.h"
#include "engine/session/peer_connection.h"
#include "engine/session/piece_picker.h"
#include "engine/session/session_impl.h"

using namespace engine;
using namespace std::chrono_literals;

namespace {

// A session without its threads and a torrent on a clock the test moves.
struct TorrentFixture : ::testing::Test {
  session_impl ses{0, 0, fingerprint("QF", 1, 0, 0, 0), nullptr};
  torrent::time_point clock_now{std::chrono::seconds(1'000'000)};
  std::shared_ptr<torrent> t;

  void SetUp() override {
    ses.alerts().set_severity(alert::debug);
    sha1_hash ih;
    ih[0] = 1;
    t = make("http://127.0.0.1:1/announce", ih);
  }

  std::shared_ptr<torrent> make(const std::string& url, const sha1_hash& ih) {
    auto r = std::make_shared<torrent>(ses, nullptr, url, ih, ".", address(), true, 16384);
    r->set_clock([this] { return clock_now; });
    r->force_tracker_request();
    return r;
  }

  std::chrono::seconds until_announce() const {
    return std::chrono::duration_cast<std::chrono::seconds>(t->next_announce() - clock_now);
  }

  template <class A>
  std::vector<std::unique_ptr<alert>> alerts_of() {
    std::vector<std::unique_ptr<alert>> out;
    while (auto a = ses.alerts().get())
      if (dynamic_cast<A*>(a.get())) out.push_back(std::move(a));
    return out;
  }
};

}  // namespace

TEST(TorrentBlockSize, FromPieceLength) {
  EXPECT_EQ(torrent::block_size_for(512, 262144), 1024);
  EXPECT_EQ(torrent::block_size_for(16384, 512), 512);
  EXPECT_EQ(torrent::block_size_for(16384, 67108864), 262144);
  EXPECT_EQ(torrent::block_size_for(16384, 262144), 16384);
}

TEST_F(TorrentFixture, CreatedPausedAndAnnouncesStartedOnResume) {
  EXPECT_TRUE(t->is_paused());
  EXPECT_FALSE(t->should_request());
  t->resume();
  ASSERT_TRUE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.event, tracker_query::started);
  EXPECT_EQ(q.url, "http://127.0.0.1:1/announce");
  EXPECT_EQ(q.info_hash, t->info_hash());
  EXPECT_EQ(q.pid, ses.local_id());
  // Without metadata: 1000 bytes left, at least 100 peers wanted.
  EXPECT_EQ(q.left, 1000);
  EXPECT_GE(q.num_want, 100);
  EXPECT_EQ(until_announce(), 600s);
  EXPECT_FALSE(t->should_request());
  EXPECT_EQ(t->generate_tracker_request().event, tracker_query::none);
}

TEST_F(TorrentFixture, PauseOwesOneStoppedAnnounce) {
  t->resume();
  t->generate_tracker_request();
  t->pause();
  t->pause();  // nothing more
  ASSERT_TRUE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.event, tracker_query::stopped);
  EXPECT_EQ(q.num_want, 0);
  clock_now += 3600s;
  EXPECT_FALSE(t->should_request());  // paused: no schedule
}

TEST_F(TorrentFixture, ResponseSchedulesAndReorders) {
  t->replace_trackers({{"http://a/", 0}, {"http://b/", 0}, {"http://c/", 1}});
  t->resume();
  t->tracker_request_timed_out(t->generate_tracker_request());
  EXPECT_EQ(t->current_tracker(), 1);
  tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.url, "http://b/");
  // The "started" that timed out goes to the next tracker, once.
  EXPECT_EQ(q.event, tracker_query::started);
  std::vector<tracker_peer> peers{{"127.0.0.2", 6881, peer_id()}, {"peer.example", 6881, peer_id()},
                                  {"127.0.0.3", 6882, ses.local_id()}};
  t->tracker_response(q, peers, 120, 5, -1);
  EXPECT_EQ(until_announce(), 300s);  // 120 is raised to 300
  EXPECT_EQ(t->generate_tracker_request().event, tracker_query::none);
  EXPECT_EQ(t->trackers()[0].url, "http://b/");
  EXPECT_EQ(t->last_working_tracker(), 0);
  EXPECT_EQ(t->current_tracker(), 0);
  EXPECT_EQ(t->status().current_tracker, "http://b/");
  EXPECT_EQ(t->status().num_complete, 5);
  EXPECT_EQ(t->status().num_incomplete, -1);
  EXPECT_EQ(t->status().state, downloading_metadata);
  // Our own id and the host name are left out.
  ASSERT_EQ(t->get_policy().peers().size(), 1u);
  EXPECT_EQ(t->get_policy().peers()[0].ip, address(127, 0, 0, 2, 6881));

  auto timeouts = alerts_of<tracker_alert>();
  ASSERT_EQ(timeouts.size(), 1u);
  EXPECT_EQ(timeouts[0]->msg(), "tracker: \"http://a/\" timed out");
}

// Replies of 170,000 peers, one after the other, half of each new: the peer
// list keeps at most its 4,000 records, and the addresses that wait for room
// stay within their bound.
TEST_F(TorrentFixture, HugeRepliesKeepThePeerListBounded) {
  std::vector<tracker_peer> peers;
  for (std::uint32_t round = 0; round < 4; ++round) {
    peers.clear();
    for (std::uint32_t i = 0; i < 170000; ++i) {
      const std::uint32_t n = i + round * 85000;
      peers.push_back({"10." + std::to_string(n >> 16 & 255) + "." + std::to_string(n >> 8 & 255) + "." +
                           std::to_string(n & 255),
                       6881, peer_id()});
    }
    t->tracker_response(t->generate_tracker_request(), peers, 1800, -1, -1);
    EXPECT_EQ(t->get_policy().peers().size(), policy::max_peers);
    EXPECT_EQ(t->get_policy().backlog_size(), policy::address_backlog::capacity);
  }
}

// What is asked while an announce runs (the session holds it back) stands
// when that announce's reply or failure reschedules.
TEST_F(TorrentFixture, AskedAnnounceOutlivesTheReplyToTheRunningOne) {
  t->resume();
  tracker_query running = t->generate_tracker_request();
  t->force_tracker_request();
  t->tracker_response(running, {}, 1800, -1, -1);
  EXPECT_TRUE(t->should_request());
  EXPECT_EQ(until_announce(), 0s);

  running = t->generate_tracker_request();
  t->pause();
  ASSERT_TRUE(t->should_request());
  const tracker_query stopped = t->generate_tracker_request();
  t->resume();
  t->tracker_request_error(stopped, 404, "Not Found");
  t->tracker_response(running, {}, 1800, -1, -1);
  ASSERT_TRUE(t->should_request());
  EXPECT_EQ(t->generate_tracker_request().event, tracker_query::started);
  EXPECT_EQ(until_announce(), 600s);

  running = t->generate_tracker_request();
  t->force_tracker_request(90s);
  t->tracker_response(running, {}, 1800, -1, -1);
  EXPECT_EQ(until_announce(), 90s);
  EXPECT_EQ(t->status().next_announce, std::chrono::microseconds(90s));
  clock_now += 90s;
  EXPECT_TRUE(t->should_request());
  t->tracker_response(t->generate_tracker_request(), {}, 1800, -1, -1);
  EXPECT_EQ(until_announce(), 1800s);
}

TEST_F(TorrentFixture, ReplyAlertNamesTheTracker) {
  t->resume();
  t->tracker_response(t->generate_tracker_request(), {}, 1800, -1, -1);
  auto replies = alerts_of<tracker_reply_alert>();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0]->msg(), "Got response from tracker: http://127.0.0.1:1/announce");
  EXPECT_EQ(until_announce(), 1800s);
}

TEST_F(TorrentFixture, BackOffAfterWholeRounds) {
  t->resume();
  std::vector<std::chrono::seconds> waits;
  for (int round = 0; round < 7; ++round) {
    t->tracker_request_error(t->generate_tracker_request(), 404, "Not Found");
    waits.push_back(until_announce());
  }
  EXPECT_EQ(waits[0], 60s);
  EXPECT_EQ(waits[3], 384s);  // 60 + 3 x 108
  EXPECT_EQ(waits[5], 600s);
  EXPECT_EQ(waits[6], 600s);
  auto errors = alerts_of<tracker_alert>();
  ASSERT_EQ(errors.size(), 7u);
  EXPECT_EQ(errors[0]->msg(), "tracker: \"http://127.0.0.1:1/announce\" Not Found");
  EXPECT_EQ(dynamic_cast<tracker_alert&>(*errors[2]).times_in_row, 3);
  EXPECT_EQ(dynamic_cast<tracker_alert&>(*errors[2]).status_code, 404);
}

TEST_F(TorrentFixture, EmptyTrackerListIsNeverIndexed) {
  t->replace_trackers({});
  t->resume();
  EXPECT_FALSE(t->should_request());
  const tracker_query q = t->generate_tracker_request();
  EXPECT_EQ(q.url, "");
  t->tracker_response(q, {}, 1800, 1, 2);
  t->tracker_request_timed_out(q);
  EXPECT_EQ(t->status().current_tracker, "");
  t->pause();
  EXPECT_FALSE(t->should_request());
}

TEST_F(TorrentFixture, LimitsAndQuotas) {
  std::vector<std::shared_ptr<peer_connection>> peers;
  for (int i = 0; i < 20; ++i) {
    const address a(127, 0, 0, std::uint8_t(1 + i), std::uint16_t(7000 + i));  // one peer per IP
    peers.push_back(std::make_shared<peer_connection>(ses, ses.network_selector(), std::make_shared<socket>(-1, a, false)));
    peers.back()->attach_to_torrent(t.get());
  }
  t->set_upload_limit(5);
  EXPECT_EQ(t->upload_limit(), 200);
  t->set_download_limit(-1);
  EXPECT_EQ(t->download_limit(), torrent::unlimited);
  t->set_max_uploads(0);
  EXPECT_EQ(t->unchoke_quota().max, 2);
  t->set_max_connections(-1);
  EXPECT_EQ(t->connection_quota().max, torrent::unlimited);

  t->resume();
  // Two of them get upload slots.
  t->unchoke_quota().given = 2;
  for (int i = 0; i < 3; ++i) t->get_policy().interested(*peers[std::size_t(i)]);
  ASSERT_EQ(t->get_policy().num_uploads(), 2);
  engine::stat session_stat;
  t->second_tick(session_stat);
  EXPECT_EQ(t->connection_quota().used, 20);
  EXPECT_EQ(t->unchoke_quota().used, 2);
  EXPECT_EQ(t->upload_rate_quota().max, 200);
  EXPECT_EQ(t->upload_rate_quota().min, 20 * 10);
  EXPECT_EQ(t->download_rate_quota().max, torrent::unlimited);
  peers.clear();  // each connection leaves its torrent as it goes
  EXPECT_EQ(t->num_peers(), 0);
}

// A connection that was handed its whole quota and read all of it stands at
// the limit; the torrent's sums over its peers stay at the limit too.
TEST_F(TorrentFixture, QuotaSumsSaturate) {
  std::vector<std::shared_ptr<peer_connection>> peers;
  for (int i = 0; i < 3; ++i) {
    const address a(127, 0, 0, std::uint8_t(1 + i), std::uint16_t(7000 + i));
    peers.push_back(std::make_shared<peer_connection>(ses, ses.network_selector(), std::make_shared<socket>(-1, a, false)));
    peers.back()->attach_to_torrent(t.get());
  }
  t->resume();
  peers[0]->download_rate_quota().used = torrent::unlimited;
  peers[1]->download_rate_quota().used = 386048;
  for (auto& p : peers) p->download_rate_quota().min = torrent::unlimited;
  engine::stat session_stat;
  t->second_tick(session_stat);
  EXPECT_EQ(t->download_rate_quota().used, torrent::unlimited);
  EXPECT_EQ(t->download_rate_quota().min, torrent::unlimited);
  EXPECT_EQ(t->download_rate_quota().max, torrent::unlimited);
  peers.clear();
}

TEST_F(TorrentFixture, PolicyPulseEveryTenthSecondAndAfterResume) {
  t->resume();
  for (int i = 0; i < 25; ++i) t->distribute_resources();
  EXPECT_EQ(t->policy_pulses(), 3);  // seconds 1, 11 and 21
  t->pause();
  t->resume();
  t->distribute_resources();
  EXPECT_EQ(t->policy_pulses(), 4);
}

// Ticks the session leaves out count down to the pulse as ticks that ran.
TEST_F(TorrentFixture, SkippedTicksKeepThePulseCadence) {
  for (int from = 1; from < 12; ++from)
    for (int skipped : {1, 5, 9, 10, 11, 25}) {
      auto stepped = make("http://127.0.0.1:1/announce", t->info_hash());
      auto skipping = make("http://127.0.0.1:1/announce", t->info_hash());
      for (auto* x : {&stepped, &skipping}) {
        (*x)->resume();
        for (int i = 0; i < from; ++i) (*x)->distribute_resources();
      }
      int last = 0;
      for (int i = 1; i <= skipped; ++i) {
        const int pulses = stepped->policy_pulses();
        stepped->distribute_resources();
        if (stepped->policy_pulses() > pulses) last = i;
      }
      EXPECT_EQ(skipping->skip_ticks(skipped), last) << from << " " << skipped;
      for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(skipping->policy_pulses(), stepped->policy_pulses()) << from << " " << skipped << " " << i;
        EXPECT_EQ(skipping->ticks_to_pulse(), stepped->ticks_to_pulse());
        stepped->distribute_resources();
        skipping->distribute_resources();
      }
    }
}

TEST_F(TorrentFixture, StatusWithoutMetadata) {
  const torrent_status st = t->status();
  EXPECT_EQ(st.state, connecting_to_tracker);
  EXPECT_TRUE(st.paused);
  EXPECT_EQ(st.progress, 0);
  EXPECT_TRUE(st.pieces.empty());
  EXPECT_EQ(t->bytes_left(), -1);
  EXPECT_FALSE(t->has_metadata());
  t->set_tracker_login("", "");
  EXPECT_EQ(t->tracker_login(), "");
  t->set_tracker_login("me", "pw");
  EXPECT_EQ(t->tracker_login(), "me:pw");
}

namespace {

// Three files over six pieces of 16 KiB: A fills pieces 0-1, B (100 bytes)
// and C share piece 2, C runs to piece 5.
torrent_metainfo three_files() {
  entry::list_type files;
  for (auto [name, size] : {std::pair{"A", 32768}, std::pair{"B", 100}, std::pair{"C", 49152}}) {
    entry::dictionary_type f{{"length", entry(entry::integer_type(size))},
                             {"path", entry(entry::list_type{entry(std::string(name))})}};
    files.push_back(entry(std::move(f)));
  }
  entry::dictionary_type info{{"name", entry(std::string("three"))},
                              {"files", entry(std::move(files))},
                              {"piece length", entry(entry::integer_type(16384))},
                              {"pieces", entry(std::string(6 * 20, 'h'))}};
  entry::dictionary_type file{{"announce", entry(std::string("http://127.0.0.1:1/announce"))},
                              {"info", entry(std::move(info))}};
  return torrent_metainfo(entry(std::move(file)));
}

struct TorrentPieces : ::testing::Test {
  session_impl ses{0, 0, fingerprint("QF", 1, 0, 0, 0), nullptr};
  checker_impl checker{ses};
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("qf-torrent-" + std::to_string(getpid()));
  std::shared_ptr<torrent> t;

  void SetUp() override {
    ses.alerts().set_severity(alert::debug);
    t = std::make_shared<torrent>(ses, &checker, three_files(), dir, address(), true, 16384);
    t->init_storage();
    t->files_checked({}, {});
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  std::vector<int> filtered() const {
    std::vector<int> out;
    const auto f = t->filtered_pieces();
    for (std::size_t i = 0; i < f.size(); ++i)
      if (f[i]) out.push_back(int(i));
    return out;
  }
};

}  // namespace

TEST_F(TorrentPieces, FileFiltersFollowThePieces) {
  EXPECT_EQ(t->metainfo().num_pieces(), 6);
  EXPECT_EQ(t->block_size(), 16384);
  // B is unwanted, but its only piece is shared with C.
  t->filter_files({false, true, false});
  EXPECT_EQ(filtered(), std::vector<int>{});
  // Only B wanted: the piece it shares stays wanted.
  t->filter_files({true, false, true});
  EXPECT_EQ(filtered(), (std::vector<int>{0, 1, 3, 4, 5}));
  // Only A wanted: A ends on a piece boundary, the next piece is not wanted.
  t->filter_files({false, true, true});
  EXPECT_EQ(filtered(), (std::vector<int>{2, 3, 4, 5}));
  t->filter_file(2, false);
  EXPECT_EQ(filtered(), std::vector<int>{});
  t->filter_file(1, true);
  EXPECT_EQ(filtered(), std::vector<int>{2});
  EXPECT_TRUE(t->is_piece_filtered(2));
  t->filter_piece(2, false);
  t->filter_piece(99, true);  // outside: nothing
  EXPECT_FALSE(t->is_piece_filtered(2));
  EXPECT_FALSE(t->is_piece_filtered(99));
  t->filter_pieces({true, false, true});
  EXPECT_EQ(filtered(), (std::vector<int>{0, 2}));
}

TEST_F(TorrentPieces, StatusCountsWantedBytes) {
  t->filter_files({true, true, false});  // only C: pieces 2-5
  const torrent_status st = t->status();
  EXPECT_EQ(st.total_wanted, 82020 - 2 * 16384);
  EXPECT_EQ(st.total_done, 0);
  EXPECT_EQ(st.progress, 0);
  EXPECT_EQ(st.state, connecting_to_tracker);
  EXPECT_EQ(st.pieces.size(), 6u);
  EXPECT_EQ(t->bytes_left(), 82020);
  t->filter_files({true, true, true});
  EXPECT_EQ(t->status().progress, 1);  // nothing wanted
}

TEST_F(TorrentPieces, MetadataIsTheInfoDictionary) {
  const entry& m = t->metadata();
  EXPECT_EQ(m["name"].string(), "three");
  EXPECT_EQ(&t->metadata(), &m);  // built once
}

// The torrent stays in the session with its connections; only the check of
// its files goes to the checker, which hands the result back.
TEST_F(TorrentPieces, MetadataFromTheSwarmIsCheckedOffToTheSide) {
  const torrent_metainfo full = three_files();
  const std::string raw = full.info_dictionary_bytes();
  auto bare = std::make_shared<torrent>(ses, &checker, "http://127.0.0.1:1/a", full.info_hash(), dir, address(),
                                        true, 16384);
  ses.insert_torrent(bare);
  EXPECT_EQ(bare->metadata_request(), std::make_pair(0, 256));

  // A liar's bytes fail the hash and are dropped.
  const std::string junk(raw.size(), 'j');
  EXPECT_FALSE(bare->received_metadata(junk.data(), int(junk.size()), 0, int(junk.size())));
  bool failed = false;
  while (auto a = ses.alerts().get()) failed = failed || dynamic_cast<metadata_failed_alert*>(a.get());
  EXPECT_TRUE(failed);

  const int half = int(raw.size()) / 2;
  EXPECT_FALSE(bare->received_metadata(raw.data() + half, int(raw.size()) - half, half, int(raw.size())));
  EXPECT_GT(bare->status().progress, 0.4f);
  EXPECT_TRUE(bare->received_metadata(raw.data(), half, 0, int(raw.size())));
  EXPECT_EQ(bare->metainfo().num_pieces(), 6);
  EXPECT_EQ(ses.find_torrent(full.info_hash()), bare);
  ASSERT_EQ(checker.m_torrents.size(), 1u);
  piece_checker_data& d = *checker.m_torrents.front();
  EXPECT_EQ(d.torrent_ptr, nullptr);  // not the checker's
  EXPECT_EQ(d.running.lock(), bare);
  EXPECT_EQ(d.info.num_pieces(), 6);
  EXPECT_EQ(checker.find_owned_torrent(full.info_hash()), nullptr);
  EXPECT_EQ(bare->status().state, queued_for_checking);
  EXPECT_FALSE(bare->are_files_checked());
  // What the check finds is installed.
  std::vector<bool> have(6, false);
  have[4] = true;
  bare->files_checked(have, {});
  EXPECT_TRUE(bare->are_files_checked());
  EXPECT_EQ(bare->status().state, connecting_to_tracker);
  EXPECT_EQ(bare->num_have(), 1);
  std::string received;
  while (auto a = ses.alerts().get())
    if (dynamic_cast<metadata_received_alert*>(a.get())) received = a->msg();
  EXPECT_EQ(received, "metadata successfully received from swarm");
}

TEST_F(TorrentPieces, MoveStorageWithoutStorageOnlyRenames) {
  auto bare = std::make_shared<torrent>(ses, &checker, "http://x/", sha1_hash(), dir, address(), true, 16384);
  EXPECT_TRUE(bare->move_storage("relative/elsewhere"));
  EXPECT_EQ(bare->save_path(), std::filesystem::path("relative/elsewhere"));
}
