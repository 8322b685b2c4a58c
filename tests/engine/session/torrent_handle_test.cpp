#include "engine/session/torrent_handle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "engine/session/session.h"
#include "engine/session/session_impl.h"
#include "engine/session/torrent.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/engine/session/checked.h"
#include "tests/support/wait.h"

using namespace engine;
using namespace std::chrono_literals;
using engine_test::checked;
using test_support::wait_until;

namespace {

const fingerprint qf("QF", 1, 0, 0, 0);

std::string invalid_text(const std::function<void()>& op) {
  try {
    op();
  } catch (const invalid_handle& e) {
    return e.what();
  }
  return "no invalid_handle";
}

// Three files over pieces of 16 KiB: a [0, 40000), b [40000, 49152) ending
// on a piece boundary, c [49152, 70000).
storage_test::test_torrent three_files() {
  return storage_test::test_torrent({{"t/a", 40000}, {"t/b", 9152}, {"t/c", 20848}}, 16384, 7);
}

struct TorrentHandleSession : ::testing::Test {
  storage_test::temp_dir dir;
  session ses{qf};
};

// What a handle without a session answers: the null handle, and one whose
// session is gone. Everything throws but these two.
void expect_no_session(const torrent_handle& h) {
  EXPECT_FALSE(h.is_valid());
  EXPECT_EQ(h.build_resume_data().type(), entry::undefined_t);
  std::vector<peer_info> peers;
  std::vector<partial_piece_info> queue;
  const std::vector<std::function<void()>> ops = {
      [&] { h.pause(); },
      [&] { h.resume(); },
      [&] { h.is_paused(); },
      [&] { h.status(); },
      [&] { h.has_metadata(); },
      [&] { h.is_seed(); },
      [&] { h.metainfo(); },
      [&] { h.metadata(); },
      [&] { h.trackers(); },
      [&] { h.save_path(); },
      [&] { h.set_upload_limit(5); },
      [&] { h.set_ratio(1.5f); },
      [&] { h.filter_piece(0, true); },
      [&] { h.filtered_pieces(); },
      [&] { h.force_reannounce(); },
      [&] { h.connect_peer(address(127, 0, 0, 1, 1)); },
      [&] { h.get_peer_info(peers); },
      [&] { h.get_download_queue(queue); },
  };
  for (const auto& op : ops) EXPECT_EQ(invalid_text(op), "invalid torrent handle used");
}

}  // namespace

TEST(TorrentHandleNull, EveryOperationButTwoThrows) { expect_no_session(torrent_handle()); }

TEST(TorrentHandleAfterSession, HandlesOutliveTheirSessionAndNeverReachIt) {
  storage_test::temp_dir dir;
  const auto t = three_files();
  t.lay_down(dir.path());
  auto ses = std::make_unique<session>(qf);
  const torrent_handle running = ses->add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(running));
  sha1_hash ih;
  ih[0] = 7;
  const torrent_handle by_hash = ses->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path());
  const torrent_handle copy = running;

  // Another thread keeps calling while the session goes: each call either
  // finds the torrent or throws, and never touches what was freed.
  std::atomic<int> calls{0};
  std::atomic<bool> gone_seen{false};
  std::thread caller([&] {
    while (!gone_seen) {
      try {
        running.status();
        std::vector<peer_info> peers;
        running.get_peer_info(peers);
      } catch (const invalid_handle&) {
        gone_seen = !running.is_valid();
      }
      ++calls;
    }
  });
  ASSERT_TRUE(wait_until([&] { return calls > 0; }));
  ses.reset();
  EXPECT_TRUE(wait_until([&] { return gone_seen.load(); }));
  gone_seen = true;
  caller.join();

  for (const torrent_handle& h : {running, by_hash, copy}) {
    SCOPED_TRACE(h.info_hash() == ih ? "by hash" : "running");
    expect_no_session(h);
    EXPECT_FALSE(h.send_chat_message(address(127, 0, 0, 1, 1), "hi"));
  }
  EXPECT_TRUE(running == copy);
}

TEST_F(TorrentHandleSession, RemovedTorrentThrowsAndQueriesComeBackEmpty) {
  const auto t = three_files();
  t.lay_down(dir.path());
  torrent_handle h = ses.add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(h));
  ASSERT_TRUE(h.is_seed());

  // The status holds its own copy of the pieces: still readable once the
  // torrent is gone.
  const torrent_status st = h.status();
  ses.remove_torrent(h);
  ASSERT_TRUE(wait_until([&] { return !h.is_valid(); }));
  ASSERT_EQ(st.pieces.size(), std::size_t(t.num_pieces()));
  for (bool have : st.pieces) EXPECT_TRUE(have);

  EXPECT_EQ(invalid_text([&] { h.pause(); }), "invalid torrent handle used");
  EXPECT_EQ(invalid_text([&] { h.status(); }), "invalid torrent handle used");
  EXPECT_EQ(invalid_text([&] { h.force_reannounce(); }), "invalid torrent handle used");
  std::vector<peer_info> peers(3);
  std::vector<partial_piece_info> queue(2);
  h.get_peer_info(peers);
  h.get_download_queue(queue);
  EXPECT_TRUE(peers.empty());
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(h.build_resume_data().type(), entry::undefined_t);
}

TEST_F(TorrentHandleSession, TorrentByInfoHashHasNoMetainfoYet) {
  sha1_hash ih;
  ih[3] = 9;
  torrent_handle h = ses.add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path());
  EXPECT_TRUE(h.is_valid());
  EXPECT_FALSE(h.has_metadata());
  EXPECT_FALSE(h.is_seed());
  EXPECT_EQ(invalid_text([&] { h.metainfo(); }), "invalid torrent handle used");
  EXPECT_EQ(h.metadata().type(), entry::undefined_t);
  EXPECT_TRUE(h.filtered_pieces().empty());
  h.filter_piece(0, true);  // nothing to filter yet
  EXPECT_FALSE(h.is_piece_filtered(0));
  ASSERT_EQ(h.trackers().size(), 1u);
  EXPECT_EQ(h.trackers()[0].url, "http://127.0.0.1:1/announce");

  // Without storage only the save path changes.
  EXPECT_TRUE(h.move_storage("elsewhere"));
  EXPECT_EQ(h.save_path(), std::filesystem::path("elsewhere"));

  h.replace_trackers({{"udp://127.0.0.1:2", 0}, {"http://127.0.0.1:3/announce", 1}});
  EXPECT_EQ(h.trackers().size(), 2u);
  h.force_reannounce_after(90s);
  EXPECT_LE(h.status().next_announce, std::chrono::microseconds(90s));
  EXPECT_GT(h.status().next_announce, std::chrono::microseconds(80s));
}

TEST_F(TorrentHandleSession, FileSelectionMapsOntoPieces) {
  const auto t = three_files();
  t.lay_down(dir.path());
  torrent_handle h = ses.add_torrent(t.info, dir.path());
  ASSERT_TRUE(checked(h));
  ASSERT_TRUE(h.has_metadata());
  ASSERT_EQ(t.num_pieces(), 5);
  EXPECT_EQ(h.metainfo().info_hash(), t.info.info_hash());
  EXPECT_EQ(h.metadata(), t.info.build_info_dictionary());

  // Only b wanted: b lies in pieces 2 (from 32768) ... it ends at 49152, a
  // piece boundary, so piece 3 stays out.
  h.filter_files({true, false, true});
  EXPECT_EQ(h.filtered_pieces(), (std::vector<bool>{true, true, false, true, true}));

  // a and c wanted: every piece that holds a byte of either.
  h.filter_files({false, true, false});
  EXPECT_EQ(h.filtered_pieces(), (std::vector<bool>{false, false, false, false, false}));

  h.filter_file(2, true);  // c: pieces 3 and 4
  EXPECT_EQ(h.filtered_pieces(), (std::vector<bool>{false, false, false, true, true}));
  h.filter_piece(0, true);
  EXPECT_TRUE(h.is_piece_filtered(0));
  h.filter_pieces({false, true, false, false, true});
  EXPECT_EQ(h.filtered_pieces(), (std::vector<bool>{false, true, false, false, true}));
  h.filter_piece(99, true);  // out of range: nothing
  EXPECT_FALSE(h.is_piece_filtered(99));
}

TEST_F(TorrentHandleSession, LimitsAndLoginReachTheTorrent) {
  const auto t = three_files();
  t.lay_down(dir.path());
  torrent_handle h = ses.add_torrent(t.info, dir.path());
  // Usable in the checker as well as in the session.
  h.set_upload_limit(-1);
  h.set_tracker_login("user", "secret");
  ASSERT_TRUE(checked(h));
  h.set_max_uploads(4);
  h.set_max_connections(-1);
  h.set_download_limit(1000);
  h.set_ratio(2.0f);
  h.use_interface("127.0.0.1");
  EXPECT_TRUE(h.is_paused());
  h.resume();
  EXPECT_FALSE(h.is_paused());
  std::vector<peer_info> peers;
  h.get_peer_info(peers);
  EXPECT_TRUE(peers.empty());
  std::vector<partial_piece_info> queue;
  h.get_download_queue(queue);
  EXPECT_TRUE(queue.empty());  // a seed downloads nothing
}

TEST_F(TorrentHandleSession, DownloadQueueCarriesThePickersRecord) {
  const auto t = three_files();
  torrent_handle h = ses.add_torrent(t.info, dir.path(), entry(), true, 4096);  // 4 blocks a piece
  ASSERT_TRUE(checked(h));
  const address a(10, 0, 0, 1, 6881), b(10, 0, 0, 2, 6881);
  {
    std::lock_guard l(ses.impl().mutex());
    piece_picker& p = ses.impl().find_torrent(t.info.info_hash())->picker();
    p.mark_as_downloading({2, 0}, a);
    // Asked of one peer, given back (a choke, say), asked of another.
    p.mark_as_downloading({2, 1}, a);
    p.abort_download({2, 1});
    p.mark_as_downloading({2, 1}, b);
    p.mark_as_finished({2, 3}, b);  // arrived without a request
  }
  std::vector<partial_piece_info> queue;
  h.get_download_queue(queue);
  ASSERT_EQ(queue.size(), 1u);
  const partial_piece_info& q = queue[0];
  EXPECT_EQ(q.piece_index, 2);
  EXPECT_EQ(q.blocks_in_piece, 4);
  EXPECT_EQ(q.requested_blocks.to_ulong(), 0b1011u);
  EXPECT_EQ(q.finished_blocks.to_ulong(), 0b1000u);
  EXPECT_EQ(q.peer[0], a);
  EXPECT_EQ(q.peer[1], b);
  EXPECT_EQ((std::vector<int>(q.num_downloads.begin(), q.num_downloads.begin() + 4)), (std::vector<int>{1, 2, 0, 0}));
}

TEST_F(TorrentHandleSession, HandlesStaySafeWhileTorrentsComeAndGo) {
  // Handle calls from other threads while torrents pass the checker into the
  // session and leave it again: each call takes one lock at a time.
  std::vector<storage_test::test_torrent> torrents;
  for (std::uint32_t i = 0; i < 6; ++i)
    torrents.push_back(storage_test::test_torrent({{"f" + std::to_string(i), 50000}}, 16384, i + 100));
  for (const auto& t : torrents) t.lay_down(dir.path());

  std::atomic<bool> stop{false};
  std::vector<torrent_handle> handles;
  std::mutex handles_mutex;
  auto worker = [&] {
    while (!stop) {
      std::vector<torrent_handle> hs;
      {
        std::lock_guard l(handles_mutex);
        hs = handles;
      }
      for (const auto& h : hs) {
        try {
          h.status();
          h.is_valid();
          h.pause();
          h.resume();
          h.filtered_pieces();
          std::vector<peer_info> p;
          h.get_peer_info(p);
        } catch (const invalid_handle&) {
        }
      }
      std::this_thread::yield();
    }
  };
  std::thread a(worker), b(worker);
  for (int round = 0; round < 3; ++round) {
    for (const auto& t : torrents) {
      const torrent_handle h = ses.add_torrent(t.info, dir.path());
      std::lock_guard l(handles_mutex);
      handles.push_back(h);
    }
    for (const auto& h : std::vector<torrent_handle>(handles)) {
      wait_until([&] { return !h.is_valid() || engine_test::left_the_checker(h); });
      ses.remove_torrent(h);
    }
    for (const auto& h : std::vector<torrent_handle>(handles)) EXPECT_TRUE(wait_until([&] { return !h.is_valid(); }));
    std::lock_guard l(handles_mutex);
    handles.clear();
  }
  stop = true;
  a.join();
  b.join();
  EXPECT_TRUE(ses.get_torrents().empty());
}

TEST_F(TorrentHandleSession, StatusesOfManyTorrentsComeInOnePassInTheirOrder) {
  const auto seed = three_files();
  seed.lay_down(dir.path());
  torrent_handle s = ses.add_torrent(seed.info, dir.path());
  ASSERT_TRUE(checked(s));
  sha1_hash by_hash, missing;
  by_hash[0] = 0x11;
  missing[0] = 0x22;
  const torrent_handle h = ses.add_torrent_by_info_hash("http://127.0.0.1:1/announce", by_hash, dir.path());
  // Just added: in the checker or already running, it has a status.
  const auto fresh = storage_test::test_torrent({{"u/a", 30000}}, 16384, 9);
  ses.add_torrent(fresh.info, dir.path());

  const auto all = ses.torrent_statuses({missing, s.info_hash(), by_hash, fresh.info.info_hash(), missing});
  ASSERT_EQ(all.size(), 5u);
  EXPECT_FALSE(all[0]);
  EXPECT_FALSE(all[4]);
  ASSERT_TRUE(all[1] && all[2] && all[3]);
  const torrent_status one = s.status();
  EXPECT_EQ(all[1]->state, one.state);
  EXPECT_EQ(all[1]->progress, 1.0f);
  EXPECT_EQ(all[1]->total_wanted, one.total_wanted);
  EXPECT_TRUE(all[1]->pieces.empty());  // the bitfield is left out
  EXPECT_EQ(all[2]->state, h.status().state);
  EXPECT_TRUE(ses.torrent_statuses({}).empty());
}
