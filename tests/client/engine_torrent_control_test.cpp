#include "client/engine_torrent_control.h"

#include "client/common/tick.h"
#include "client/torrent_item.h"
#include "client/wide_text.h"
#include "tests/engine/checked.h"
#include "tests/engine/storage_test_support.h"
#include "tests/support/wait.h"
#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <thread>

using client::EngineTorrentControl;
using client::TorrentItem;
using client::TorrentStatus;

namespace {

const engine::fingerprint qf("QF", 1, 3, 0, 55);

// A complete torrent on disk, its .torrent in the data folder beside it,
// and a session (no listening socket; its only tracker is on loopback).
class RealEngine : public ::testing::Test {
 protected:
  RealEngine() {
    source.lay_down(dir.path());
    engine::torrent_metainfo info = source.info;
    file = info.build_torrent_dictionary();
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), file);
    storage_test::write_text(path, bytes);
  }

  // The torrent added through the seam, once the engine checked it.
  client::TorrentHandle AddChecked() {
    client::TorrentHandle h = control.add_torrent_from_entry(file, dir.path(), engine::entry(), true, 16384);
    EXPECT_TRUE(test_support::wait_until([&] { return engine_test::left_the_checker(h); }));
    return h;
  }
  // The program's object for it.
  std::unique_ptr<TorrentItem> Item(const client::TorrentHandle& h) {
    auto item = std::make_unique<TorrentItem>(client::Utf8ToWide(path), L"t", events);
    item->m_session = &control;
    item->m_handle = h;
    return item;
  }

  storage_test::temp_dir dir;
  storage_test::test_torrent source{{{"t/a.bin", 40000}, {"t/b.bin", 30000}}, 16384, 5};
  std::string path = dir / "t.torrent";
  engine::entry file;
  engine::session session{qf};
  EngineTorrentControl control{session};
  client_test::RecordingEvents events;
};

TEST_F(RealEngine, AddPauseResumeAndStatusThroughTheSeam) {
  client::TorrentHandle h = AddChecked();
  EXPECT_EQ(h.info_hash(), source.info.info_hash());
  EXPECT_TRUE(h.is_valid());
  EXPECT_TRUE(h.is_paused());
  EXPECT_TRUE(h.is_seed());
  EXPECT_TRUE(h.has_metadata());
  EXPECT_EQ(h.save_path(), dir.path());
  EXPECT_EQ(h.status().total_wanted, 70000);

  auto item = Item(h);
  ASSERT_TRUE(item->Start(true));
  EXPECT_FALSE(h.is_paused());
  ASSERT_EQ(events.events.size(), 1u);
  item->UserPause();
  EXPECT_TRUE(h.is_paused());
  EXPECT_EQ(item->Status(), TorrentStatus::Paused);

  // A handle the seam was not given is looked up in the session.
  EngineTorrentControl other(session);
  EXPECT_TRUE(other.is_paused(h.info_hash()));
  EXPECT_FALSE(other.is_valid(engine::sha1_hash()));
}

TEST_F(RealEngine, ReAddWaitsForTheEngineAndComesBackWithTheSelection) {
  client::TorrentHandle h = AddChecked();
  h.replace_trackers({{"http://127.0.0.1:1/edited", 0}});
  h.filter_pieces({false, false, true, true, true});

  auto item = Item(h);
  ASSERT_TRUE(item->Start(false));
  ASSERT_TRUE(item->ReAdd());
  ASSERT_TRUE(test_support::wait_until([&] {
    item->StepReAdd();
    return !item->ReAddPending();
  }));
  ASSERT_TRUE(events.log.empty()) << client::WideToUtf8(events.log[0]);
  EXPECT_TRUE(item->m_hasFilteredPieces);
  const client::TorrentHandle& added = item->m_handle;
  ASSERT_TRUE(added.is_valid());
  EXPECT_FALSE(added.is_paused());
  EXPECT_EQ(added.filtered_pieces(), (std::vector<bool>{false, false, true, true, true}));
  ASSERT_EQ(added.trackers().size(), 1u);
  EXPECT_EQ(added.trackers()[0].url, "http://127.0.0.1:1/edited");
}

}  // namespace
