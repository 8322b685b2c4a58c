#pragma once
// A torrent with its .torrent in a data folder, kept by one run of the
// program (a fake session) and loaded again by the next one (another).

#include "client/common/tick.h"
#include "client/torrents/torrent_item.h"
#include "client/base/wide_text.h"
#include "tests/engine/storage/storage_test_support.h"
#include "torrent_test_support.h"

#include <iterator>
#include <memory>
#include <string>

namespace client_test {

inline std::string Bencoded(const engine::entry& e) {
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), e);
  return bytes;
}

inline engine::entry ResumeEntry(std::initializer_list<std::pair<std::string, int>> peers = {}) {
  engine::entry resume(engine::entry::dictionary_t);
  resume["file-format"] = std::string("quillfern resume file");
  resume["file-version"] = engine::entry::integer_type{1};
  engine::entry::list_type list;
  for (const auto& [ip, port] : peers) {
    engine::entry peer(engine::entry::dictionary_t);
    peer["ip"] = ip;
    peer["port"] = engine::entry::integer_type{port};
    list.push_back(std::move(peer));
  }
  if (peers.size()) resume["peers"] = std::move(list);
  return resume;
}

class TwoRuns {
 public:
  TwoRuns() {
    engine::torrent_metainfo info = source.info;
    torrent_file = info.build_torrent_dictionary();
    hash = info.info_hash();
    storage_test::write_text(path, Bencoded(torrent_file));
  }

  // The program's object for the torrent at `file` on `session`.
  std::unique_ptr<client::TorrentItem> Item(FakeTorrentControl& session, const std::string& file) {
    auto item = std::make_unique<client::TorrentItem>(client::Utf8ToWide(file), L"title", events);
    item->SetSession(&session);
    return item;
  }
  // The torrent as the first run has it: in its session, with metadata.
  std::unique_ptr<client::TorrentItem> Running() { return Running(Downloading()); }
  std::unique_ptr<client::TorrentItem> Running(FakeTorrent t) {
    t.info = engine::torrent_metainfo(torrent_file);
    auto item = Item(first, path);
    item->Attach(first.Put(hash, std::move(t)));
    item->SetStatus(client::TorrentStatus::Downloading);
    return item;
  }
  // Three pieces, the second one not wanted; a little done.
  FakeTorrent Downloading() {
    FakeTorrent t;
    t.paused = false;
    t.save_path = dir.path() / "down load";
    t.status.total_payload_download = 50;
    t.status.total_payload_upload = 7;
    t.filtered = {false, true, false};
    t.resume_data = ResumeEntry();
    return t;
  }
  FakeTorrent& Added() { return second.At(hash); }

  // Settings other than the status, none of them a default; the totals
  // read back with this run's payload (50 down, 7 up) added.
  static void SetEveryKey(client::TorrentItem& item) {
    item.SetPriority(client::TorrentPriority::High);
    item.SetLimits({20480, -1});
    item.SetSeedingGoal({client::SeedingMode::ByRatio, 3600000, 1.5, 0.25});
    item.SetEarlierTotals(1000, 5000000000);
    item.SetShowState(true);
    item.SetBitCometUdp(true);
  }
  static void ExpectEveryKey(const client::TorrentItem& item) {
    EXPECT_EQ(item.Priority(), client::TorrentPriority::High);
    EXPECT_EQ(item.Limits().upload, 20480);
    EXPECT_EQ(item.Limits().download, -1);
    EXPECT_EQ(item.Goal().mode, client::SeedingMode::ByRatio);
    EXPECT_EQ(item.Goal().ratio, 1.5);
    EXPECT_EQ(item.Goal().peer_ratio, 0.25);
    EXPECT_TRUE(item.PeerRatioLoaded());
    EXPECT_EQ(item.Goal().time, 3600000u);  // not a seed: stored as it was
    EXPECT_EQ(item.Settings().downloadedBase, 5000000050u);
    EXPECT_EQ(item.Settings().uploadedBase, 1007u);
    EXPECT_TRUE(item.Settings().showState);
    EXPECT_TRUE(item.BitCometUdp());
    EXPECT_TRUE(item.HasFilteredPieces());
  }

  client::FakeTick tick;
  storage_test::temp_dir dir;
  storage_test::test_torrent source{{{"r_b.bin", 40000}}, 16384, 3};
  std::string path = dir / "r.torrent";
  engine::entry torrent_file;
  engine::sha1_hash hash;
  FakeTorrentControl first, second;
  RecordingEvents events;
};

}  // namespace client_test
