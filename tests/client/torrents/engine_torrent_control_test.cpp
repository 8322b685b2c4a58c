#include "client/torrents/engine_torrent_control.h"

#include "client/common/tick.h"
#include "client/torrents/torrent_item.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "tests/engine/session/checked.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/support/wait.h"
#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
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
    engine::torrent_metainfo built = source.info;
    std::string bytes;
    engine::bencode(std::back_inserter(bytes), built.build_torrent_dictionary());
    storage_test::write_text(path, bytes);
    info = engine::torrent_metainfo(bytes.data(), bytes.size());
  }

  // The torrent added through the seam, once the engine checked it.
  client::TorrentHandle AddChecked() {
    client::TorrentHandle h = control.add_torrent(info, dir.path(), engine::entry(), true, 16384);
    EXPECT_TRUE(test_support::wait_until([&] { return engine_test::left_the_checker(h); }));
    return h;
  }
  // The program's object for it.
  std::unique_ptr<TorrentItem> Item(const client::TorrentHandle& h) {
    auto item = std::make_unique<TorrentItem>(client::Utf8ToWide(path), L"t", events);
    item->SetSession(&control);
    item->Attach(h);
    return item;
  }

  storage_test::temp_dir dir;
  storage_test::test_torrent source{{{"t/a.bin", 40000}, {"t/b.bin", 30000}}, 16384, 5};
  std::string path = dir / "t.torrent";
  engine::torrent_metainfo info;
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
  // The peers dialog's calls answer "nothing" for a torrent the session
  // never had, and for a torrent without connections.
  EXPECT_TRUE(other.get_peer_info(engine::sha1_hash()).empty());
  EXPECT_FALSE(other.send_chat_message(engine::sha1_hash(), engine::address(127, 0, 0, 1, 1), "hi"));
  EXPECT_TRUE(h.get_peer_info().empty());
  EXPECT_FALSE(h.send_chat_message(engine::address(127, 0, 0, 1, 1), "hi"));
  EXPECT_TRUE(client::TorrentHandle().get_peer_info().empty());
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
  EXPECT_TRUE(item->HasFilteredPieces());
  const client::TorrentHandle& added = item->Handle();
  ASSERT_TRUE(added.is_valid());
  EXPECT_FALSE(added.is_paused());
  EXPECT_EQ(added.filtered_pieces(), (std::vector<bool>{false, false, true, true, true}));
  ASSERT_EQ(added.trackers().size(), 1u);
  EXPECT_EQ(added.trackers()[0].url, "http://127.0.0.1:1/edited");
}

// The next run of the program: a session of its own that loads what this
// one saved.
class NextRun {
 public:
  explicit NextRun(const std::string& path, client_test::RecordingEvents& events)
      : item(std::make_unique<TorrentItem>(client::Utf8ToWide(path), L"t", events)) {
    item->SetSession(&control);
  }
  // The torrent once the engine checked it.
  bool Checked() {
    return test_support::wait_until([&] { return engine_test::left_the_checker(item->Handle()); });
  }

  engine::session session{qf};
  EngineTorrentControl control{session};
  std::unique_ptr<TorrentItem> item;
};

TEST_F(RealEngine, ASavedSeedSeedsAgainWithoutAFullCheck) {
  client::Utf16IniFile ini;
  {
    auto item = Item(AddChecked());
    ASSERT_TRUE(item->Handle().is_seed());
    item->SetStatus(TorrentStatus::Seeding);
    ASSERT_TRUE(item->Save(ini, true));
  }
  ASSERT_TRUE(std::filesystem::exists(path + ".ResumeData"));
  // A byte spoiled behind the engine's back, with the file's size and time
  // kept: only a full check of the files would notice.
  const std::filesystem::path spoiled = dir.path() / "t" / "a.bin";
  const auto time = std::filesystem::last_write_time(spoiled);
  {
    std::fstream f(spoiled, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f.put(static_cast<char>(~source.data[100]));
  }
  std::filesystem::last_write_time(spoiled, time);

  NextRun next(path, events);
  ASSERT_TRUE(next.item->Load(ini));
  ASSERT_TRUE(next.Checked());
  // Every piece there, the spoiled one too: the files were not hashed.
  const engine::torrent_status status = next.item->Handle().status();
  EXPECT_EQ(status.progress, 1.0f);
  EXPECT_EQ(status.total_done, 70000);
  EXPECT_EQ(status.pieces, std::vector<bool>(5, true));
  EXPECT_TRUE(next.item->Handle().is_seed());
  EXPECT_TRUE(next.item->Handle().is_paused());
  EXPECT_EQ(next.item->Status(), TorrentStatus::Seeding);

  // Without the resume data the files are checked in full, and the spoiled
  // piece is found missing.
  std::filesystem::remove(path + ".ResumeData");
  NextRun checked(path, events);
  ASSERT_TRUE(checked.item->Load(ini));
  ASSERT_TRUE(checked.Checked());
  EXPECT_FALSE(checked.item->Handle().is_seed());
  EXPECT_EQ(checked.item->Handle().status().pieces, (std::vector<bool>{false, true, true, true, true}));
}

TEST_F(RealEngine, ALoadedTorrentGetsItsPieceSelectionOnceChecked) {
  const std::vector<bool> selection{false, false, true, true, true};
  client::Utf16IniFile ini;
  {
    client::TorrentHandle h = AddChecked();
    h.filter_pieces(selection);
    auto item = Item(h);
    item->SetStatus(TorrentStatus::Downloading);
    ASSERT_TRUE(item->Save(ini, true));
  }
  EXPECT_EQ(storage_test::read_text(path + ".FilterData"), "00111");

  NextRun next(path, events);
  ASSERT_TRUE(next.item->Load(ini));
  EXPECT_TRUE(next.item->HasFilteredPieces());
  ASSERT_TRUE(next.item->Start(false));
  ASSERT_TRUE(test_support::wait_until([&] {
    next.item->StepReAdd();
    return !next.item->ReAddPending();
  }));
  ASSERT_TRUE(events.log.empty()) << client::WideToUtf8(events.log[0]);
  EXPECT_EQ(next.item->Handle().filtered_pieces(), selection);
  EXPECT_FALSE(next.item->Handle().is_paused());
}

}  // namespace
