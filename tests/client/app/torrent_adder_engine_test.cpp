// Adding torrents into a real engine session, a real DHT node, over a real
// URL download and into the store.

#include "client/torrents/database_store.h"
#include "tests/client/adder_test_support.h"
#include "client/torrents/engine_torrent_control.h"
#include "client/torrents/hash_torrent_model.h"
#include "client/torrents/remove_sequence.h"
#include "client/base/wide_text.h"
#include "dht/dht_service.h"
#include "client/app/main_timer.h"
#include "client/app/session_control.h"
#include "tests/client/net/http_test_server.h"
#include "tests/support/wait.h"
#include "tests/client/timer_test_support.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

using client_test::AdderRig;
using client_test::InfoHashOf;
using client_test::TorrentBytes;
using client_test::temp_folder;
namespace fs = std::filesystem;

namespace {

std::string Bencoded(engine::torrent_metainfo info) {
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), info.build_torrent_dictionary());
  return bytes;
}

bool InSession(engine::session& session, const engine::sha1_hash& h) {
  const auto all = session.get_torrents();
  return std::any_of(all.begin(), all.end(), [&](const engine::torrent_handle& t) { return t.info_hash() == h; });
}

// Runs the main timer over the engine's alerts until the torrent shows
// Error; false when it never does.
bool TickUntilErrorIn(engine::session& session, client::CTorrentListe& list, const client::TorrentItem& torrent,
                      client_test::RecordingSink& sink) {
  client::EngineSessionControl alerts(session);
  client::MainTimer timer(list, sink);
  client::MainTimerInput input;
  input.session = &alerts;
  input.max_active = 4;
  return test_support::wait_until([&] {
    timer.Tick(input);
    return torrent.Status() == client::TorrentStatus::Error;
  });
}

struct EngineAdding : ::testing::Test {
  engine::session session{engine::fingerprint("QF", 1, 3, 0, 55)};
  client::EngineTorrentControl control{session};
  AdderRig rig{&control};
  temp_folder saves{"qf_add_saves_"};
  temp_folder dht_home{"qf_add_dht_"};
  CDHTService dht{40, CDHTService::Options{platform::profile(dht_home.path() / "Quillfern.ini"), dht_home.path(), {}}};
  client::DhtServiceControl registry{dht};

  EngineAdding() {
    rig.adder.dht = &registry;
    rig.space.reset();  // the real folders are asked
    rig.adder.folder_space = client::QueryFolderSpace;
  }

  bool TickUntilError(const client::TorrentItem& torrent, client_test::RecordingSink& sink) {
    return TickUntilErrorIn(session, rig.list, torrent, sink);
  }
};

// The engine cannot read or write the torrent's file (a folder stands in
// its place, as good as a full disk for the engine): the torrent is named in
// the log, shows Error and gives its slot up.
TEST_F(EngineAdding, AFileErrorOfTheEngineStopsTheTorrentWithError) {
  session.set_severity_level(engine::alert::info);
  const storage_test::test_torrent t{{{"f.bin", 40000}}, 16384, 31};
  fs::create_directories(saves.path() / "f.bin" / "inside");
  rig.Answer(saves.path().string() + "/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("f.torrent", Bencoded(t.info)).string(), false));
  ASSERT_EQ(rig.list.Count(), 1u);
  client::TorrentItem& torrent = *rig.list.begin()->get();
  // On a busy machine the checker may have failed the file (and the engine
  // let the torrent go) before the start: then it never took a slot.
  const bool started = torrent.IsStarted();

  client_test::RecordingSink sink;
  ASSERT_TRUE(TickUntilError(torrent, sink))
      << (sink.log.empty() ? std::string("no log") : client::WideToUtf8(sink.log.back()));
  EXPECT_TRUE(std::any_of(sink.log.begin(), sink.log.end(),
                          [](const std::wstring& line) { return line.starts_with(L"f.torrent: "); }));
  EXPECT_FALSE(torrent.IsStarted());
  EXPECT_FALSE(torrent.IsActive());
  if (started) {
    // The slot it took is given up.
    ASSERT_FALSE(rig.events.events.empty());
    EXPECT_EQ(rig.events.events.back().kind, "stopped");
    EXPECT_EQ(rig.events.events.back().status, client::TorrentStatus::Error);
  }
}

// The engine takes the torrent and refuses it at its check: the copy in the
// data folder goes, so no later start finds a torrent without a section.
// A torrent of one piece more than the engine takes.
std::string RefusedTorrentBytes() {
  engine::entry info(engine::entry::dictionary_t);
  constexpr std::int64_t kPieces = 0x3ffff;  // one more than the engine takes
  info["name"] = std::string("huge.bin");
  info["piece length"] = engine::entry::integer_type{16384};
  info["length"] = engine::entry::integer_type{kPieces * 16384};
  info["pieces"] = std::string(std::size_t(kPieces) * 20, 'p');
  engine::entry file(engine::entry::dictionary_t);
  file["announce"] = std::string("http://127.0.0.1:1/announce");
  file["info"] = std::move(info);
  std::string bytes;
  engine::bencode(std::back_inserter(bytes), file);
  return bytes;
}

TEST_F(EngineAdding, ATorrentTheEngineRefusesLeavesNoCopy) {
  session.set_severity_level(engine::alert::info);
  rig.Answer(saves.path().string() + "/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("huge.torrent", RefusedTorrentBytes()).string(), false));
  ASSERT_EQ(rig.list.Count(), 1u);
  client::TorrentItem& torrent = *rig.list.begin()->get();
  const fs::path copy = client::WideToPath(torrent.Path());
  client_test::RecordingSink sink;
  ASSERT_TRUE(TickUntilError(torrent, sink));
  EXPECT_TRUE(std::any_of(sink.log.begin(), sink.log.end(), [](const std::wstring& line) {
    return line == L"huge.torrent: too many pieces in torrent";
  })) << (sink.log.empty() ? std::string("no log") : client::WideToUtf8(sink.log.back()));
  EXPECT_TRUE(fs::is_empty(rig.data.path())) << copy;
}

TEST_F(EngineAdding, TwoTorrentsOfOneFileNameEachWithItsCopyInTheSession) {
  const storage_test::test_torrent first{{{"a/1.bin", 40000}, {"a/2.bin", 9000}}, 16384, 1};
  const storage_test::test_torrent second{{{"b.bin", 30000}}, 16384, 2};
  const std::string first_bytes = Bencoded(first.info), second_bytes = Bencoded(second.info);
  const temp_folder other("qf_add_other_");

  // Saved where the user's keyword points, with room there.
  rig.adder.auto_save = {client::kAsdMatch, "", {{L"a", saves.path().string()}, {L"b", saves.path().string()}}};
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("t.torrent", first_bytes).string(), false));
  ASSERT_TRUE(rig.adder.AddTorrentFile(other.put("t.torrent", second_bytes).string(), false));
  EXPECT_TRUE(rig.host.asked.empty());
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"t.torrent", "t (2).torrent"}));
  EXPECT_EQ(temp_folder::read(rig.data / "t.torrent"), first_bytes);
  EXPECT_EQ(temp_folder::read(rig.data / "t (2).torrent"), second_bytes);

  ASSERT_EQ(rig.list.Count(), 2u);
  for (const auto& t : rig.list) {
    EXPECT_TRUE(InSession(session, t->Handle().info_hash()));
    EXPECT_EQ(t->Handle().save_path(), fs::path(saves.path().string() + "/"));
    EXPECT_TRUE(t->IsStarted());
  }
  EXPECT_EQ(rig.list.begin()->get()->Handle().info_hash(), first.info.info_hash());
  EXPECT_EQ(rig.list.begin()->get()->Chart().GetName(), L"a");
  EXPECT_EQ(std::next(rig.list.begin())->get()->Chart().GetName(), L"b.bin");
  // Both are known to the DHT node.
  EXPECT_EQ(dht.GetStatistics().records, 2u);

  // The first again, under the first's file name: refused, and the first
  // keeps its copy.
  const temp_folder third("qf_add_third_");
  EXPECT_FALSE(rig.adder.AddTorrentFile(third.put("t.torrent", first_bytes).string(), false));
  EXPECT_EQ(rig.host.log.back(), L"duplicate torrent");
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"t.torrent", "t (2).torrent"}));
  EXPECT_EQ(session.get_torrents().size(), 2u);
}

TEST_F(EngineAdding, AnUnwritableFolderIsNotChosenAutomatically) {
  rig.adder.auto_save = {client::kAsdSingle, "/proc/self", {}};
  rig.Answer(saves.path().string() + "/", 0);
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("p.torrent", TorrentBytes("p.bin", 100)).string(), false));
  ASSERT_EQ(rig.host.asked.size(), 1u);
  EXPECT_EQ(rig.host.asked[0].start_folder, "/proc/self/");
  EXPECT_EQ(rig.list.begin()->get()->Priority(), client::TorrentPriority::Low);
}

TEST_F(EngineAdding, ByInfoHashIntoTheSession) {
  const std::wstring hex = L"00112233445566778899AABBCCDDEEFF00112233";
  ASSERT_TRUE(rig.adder.AddTorrentByHash(hex, L"http://127.0.0.1:1/announce", client::Utf8ToWide(saves.path().string())));
  const engine::sha1_hash h = *client::ParseInfoHash(hex);
  EXPECT_TRUE(InSession(session, h));
  EXPECT_FALSE(rig.list.begin()->get()->Handle().has_metadata());
  EXPECT_EQ(temp_folder::read(rig.data / (client::WideToUtf8(hex) + ".Torrent")), "Quillfern: temporary");
  EXPECT_FALSE(rig.adder.AddTorrentByHash(hex, L"http://127.0.0.1:1/announce", L"/tmp"));
  EXPECT_EQ(rig.host.log.back(), L"duplicate torrent");
}

// The engine holds a removed torrent until its next second tick, when it
// sends the "stopped" announce and lets go. The same torrent added again
// meanwhile (as a file, or by its info-hash) is kept until then and added
// as a new torrent; removed once more, it is gone from the engine.
TEST_F(EngineAdding, ATorrentAddedAgainWhileItsRemovalRunsIsAddedOnceItIsGone) {
  client::RemoveSequence removals{{rig.list, rig.queue, [this] { return &control; }, [this] { return &registry; },
                                   [] { return false; }, [] { return false; }, [] {},
                                   [this](std::wstring line) { rig.host.log.push_back(line); }}};
  rig.adder.removals = &removals;
  rig.adder.auto_save = {client::kAsdSingle, saves.path().string(), {}};
  const std::string bytes = TorrentBytes("again.bin", 40000);
  const engine::sha1_hash h = InfoHashOf(bytes);
  const fs::path source = rig.Source("again.torrent", bytes);
  const auto count = [&](const std::wstring& line) { return std::count(rig.host.log.begin(), rig.host.log.end(), line); };
  // Removes the one torrent, running in the engine's map, and keeps the
  // removal waiting.
  const auto remove = [&] {
    ASSERT_EQ(rig.list.Count(), 1u);
    client::TorrentItem& torrent = *rig.list.begin()->get();
    ASSERT_TRUE(torrent.IsStarted());
    ASSERT_TRUE(client_test::wait_until([&] {
      const int state = torrent.Handle().status().state;
      return state != engine::queued_for_checking && state != engine::checking_files;
    }));
    ASSERT_TRUE(removals.Remove(torrent, client::TorrentStatus::Downloading));
    EXPECT_EQ(rig.list.Count(), 0u);
    EXPECT_EQ(rig.queue.ActiveCount(), 0u);
    EXPECT_TRUE(control.is_valid(h));
  };
  const auto finish = [&] { ASSERT_TRUE(client_test::wait_until([&] { return !removals.Poll(); })); };

  ASSERT_TRUE(rig.adder.AddTorrentFile(source.string(), false));
  remove();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(rig.adder.AddTorrentFile(source.string(), false));
  EXPECT_EQ(rig.host.log.back(), L"again.torrent is added again once its removal is done");
  EXPECT_EQ(rig.list.Count(), 0u);
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{"again.torrent"});  // the copy waits
  finish();
  ASSERT_EQ(rig.list.Count(), 1u);
  EXPECT_TRUE(rig.list.begin()->get()->IsStarted());
  EXPECT_EQ(rig.queue.ActiveCount(), 1u);
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{"again.torrent"});
  EXPECT_TRUE(control.is_valid(h));
  EXPECT_EQ(dht.GetStatistics().records, 1u);

  // By its info-hash, the same.
  remove();
  ASSERT_FALSE(HasFatalFailure());
  const std::wstring hex = client::Utf8ToWide(h.to_hex());
  ASSERT_TRUE(rig.adder.AddTorrentByHash(hex, L"http://127.0.0.1:1/announce", client::Utf8ToWide(saves.path().string())));
  EXPECT_EQ(rig.list.Count(), 0u);
  finish();
  ASSERT_EQ(rig.list.Count(), 1u);
  EXPECT_FALSE(rig.list.begin()->get()->Handle().has_metadata());

  // Removed again, it goes; nothing was refused on the way.
  remove();
  ASSERT_FALSE(HasFatalFailure());
  finish();
  EXPECT_FALSE(control.is_valid(h));
  EXPECT_TRUE(session.get_torrents().empty());
  EXPECT_EQ(rig.list.Count(), 0u);
  EXPECT_EQ(count(L"duplicate torrent"), 0);
  EXPECT_TRUE(rig.ui.Messages().empty());
}

TEST_F(EngineAdding, ALinkIsDownloadedAddedAndItsDownloadDeleted) {
  const std::string bytes = TorrentBytes("linked.bin", 20000);
  client_test::http_test_server server([&](const std::string& path, client_test::http_test_server::connection& c) {
    if (path == "/files/linked.torrent") c.reply("200 OK", "", bytes);
  });
  temp_folder downloads("qf_add_dl_");
  client::NetWorkers workers;
  rig.adder.downloads = &workers;
  rig.adder.download_folder = downloads.path();
  rig.Answer(saves.path().string() + "/");

  // Dropped as a link.
  rig.adder.OpenDropped(client::ParseUriList(server.url("/files/linked.torrent") + "\r\n"));
  ASSERT_TRUE(client_test::wait_until([&] {
    rig.host.RunPosted();
    return rig.list.Count() == 1;
  }));
  EXPECT_TRUE(InSession(session, InfoHashOf(bytes)));
  EXPECT_EQ(temp_folder::read(rig.data / "linked.torrent"), bytes);
  EXPECT_EQ(fs::directory_iterator(downloads.path()), fs::directory_iterator());
  const std::wstring finished = L"Download finished, " + std::to_wstring(bytes.size() / 1024) + L" KBytes";
  EXPECT_NE(std::find(rig.host.log.begin(), rig.host.log.end(), finished), rig.host.log.end());
}

// Servers that name their file as a path, as nothing or as a hidden file:
// each download is kept under a plain name of its own and added.
TEST_F(EngineAdding, LinksWithHostileNamesAreAddedUnderSafeNames) {
  const std::map<std::string, std::string> named = {
      {"/a", "..%2Fx.torrent"}, {"/b", "%2e%2e%2f"}, {"/c", ""}, {"/d", ".."}};
  std::map<std::string, std::string> bodies;
  for (const auto& [path, name] : named) bodies[path] = TorrentBytes("hostile" + path.substr(1) + ".bin", 20000);
  client_test::http_test_server server([&](const std::string& path, client_test::http_test_server::connection& c) {
    const std::string key = path.substr(0, path.find("/?"));
    c.reply("200 OK", "Content-Disposition: attachment; filename=\"" + named.at(key) + "\"\r\n", bodies.at(key));
  });
  temp_folder downloads("qf_add_dl_");
  client::NetWorkers workers;
  rig.adder.downloads = &workers;
  rig.adder.download_folder = downloads.path();
  // The link's own name is no help either: nothing after its '='.
  for (const auto& entry : named) {
    rig.Answer(saves.path().string() + "/");
    ASSERT_TRUE(rig.adder.OpenTorrentUrl(server.url(entry.first + "/?id=")));
  }
  ASSERT_TRUE(client_test::wait_until([&] {
    rig.host.RunPosted();
    return rig.list.Count() == named.size();
  })) << rig.ui.Messages().size();
  for (const auto& [path, body] : bodies) EXPECT_TRUE(InSession(session, InfoHashOf(body))) << path;
  EXPECT_TRUE(rig.ui.Messages().empty());
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(rig.data.path())) files.insert(e.path().filename().string());
  EXPECT_EQ(files.count("x.torrent"), 1u);
  for (const std::string& f : files) EXPECT_NE(f.front(), '.') << f;
  EXPECT_EQ(std::count_if(files.begin(), files.end(), [](const std::string& f) { return f.starts_with("download"); }), 3);
  EXPECT_FALSE(fs::exists(rig.data.path().parent_path() / "x.torrent"));
  // Every download was deleted once copied.
  for (const auto& e : fs::recursive_directory_iterator(downloads.path()))
    EXPECT_TRUE(e.is_directory()) << e.path();
}

// --- store mode (needs the test server)

// What keeps the rig's torrents in store mode; its log lines are the
// events'.
inline std::unique_ptr<client::DatabaseStore> KeeperFor(CTorrentDatabase& db, AdderRig& rig) {
  return std::make_unique<client::DatabaseStore>(db, rig.data.path(),
                                                 [&rig](const std::wstring& line) { rig.events.LogLine(line); });
}

class AddingOnDatabase : public store_test::StoreServerTest {
 protected:
  client_test::FakeTorrentControl fake;
  AdderRig rig{&fake};
  std::unique_ptr<client::DatabaseStore> keeper;
};

TEST_F(AddingOnDatabase, TheMetainfoGoesToTheStoreAndTheCopyAway) {
  keeper = KeeperFor(*db, rig);
  rig.adder.store = keeper.get();
  const std::string bytes = TorrentBytes("stored.bin", 1000);
  rig.Answer("/srv/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("stored.torrent", bytes).string(), false));
  EXPECT_TRUE(rig.DataFiles().empty());
  const store_test::rows expected = {{client::WideToUtf8(rig.list.begin()->get()->GetInfoHashHex()), "stored.bin", "/srv/"}};
  EXPECT_EQ(raw->query("SELECT info_hash,name,destination FROM torrent_data"), expected);
  EXPECT_EQ(raw->query("SELECT meta_data FROM torrent_data"), store_test::rows{{bytes}});
  EXPECT_EQ(rig.list.begin()->get()->Store(), keeper.get());

  // By info-hash: a row without metainfo named "Unkown".
  ASSERT_TRUE(rig.adder.AddTorrentByHash(L"00112233445566778899AABBCCDDEEFF00112233", L"http://t/", L"/srv/"));
  EXPECT_EQ(raw->query("SELECT name,LENGTH(meta_data) FROM torrent_data WHERE info_hash LIKE '0011%'"),
            (store_test::rows{{"Unkown", "0"}}));

  // Session-only: nothing goes to the store.
  rig.adder.session_only = true;
  rig.Answer("/srv/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("only.torrent", TorrentBytes("only.bin", 10)).string(), false));
  EXPECT_EQ(raw->count("torrent_data"), 2u);
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"00112233445566778899AABBCCDDEEFF00112233.Torrent", "only.torrent"}));
}

TEST_F(AddingOnDatabase, ACopyTheStoreDidNotTakeIsKept) {
  auto broken = connect("not the password");
  ASSERT_FALSE(broken->IsConnected());
  keeper = KeeperFor(*broken, rig);
  rig.adder.store = keeper.get();
  rig.Answer("/srv/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("kept.torrent", TorrentBytes("kept.bin", 10)).string(), false));
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{"kept.torrent"});
  // The log names the torrent that waits, and why.
  ASSERT_FALSE(rig.events.log.empty());
  EXPECT_EQ(rig.events.log.back(), L"kept.torrent waits for the store: " + client::Utf16ToWide(broken->GetLastError()));
  EXPECT_TRUE(keeper->Waits(*rig.list.begin()->get()));
}

// In store mode the refused torrent's row goes as a removal's does, so the
// next start does not load it again.
class RefusedOnDatabase : public store_test::StoreServerTest {
 protected:
  engine::session session{engine::fingerprint("QF", 1, 3, 0, 55)};
  client::EngineTorrentControl control{session};
  AdderRig rig{&control};
  temp_folder saves{"qf_add_saves_"};
  std::unique_ptr<client::DatabaseStore> keeper;
};

TEST_F(RefusedOnDatabase, ATorrentTheEngineRefusesLeavesNoRow) {
  session.set_severity_level(engine::alert::info);
  keeper = KeeperFor(*db, rig);
  rig.adder.store = keeper.get();
  rig.Answer(saves.path().string() + "/");
  ASSERT_TRUE(rig.adder.AddTorrentFile(rig.Source("huge.torrent", RefusedTorrentBytes()).string(), false));
  ASSERT_EQ(rig.list.Count(), 1u);
  // On a busy machine the engine may refuse it before its row is written.
  const client::TorrentItem& torrent = *rig.list.begin()->get();
  client_test::RecordingSink sink;
  ASSERT_TRUE(TickUntilErrorIn(session, rig.list, torrent, sink));
  EXPECT_EQ(raw->count("torrent_data WHERE finished=0"), 0u);
  EXPECT_FALSE(keeper->Waits(torrent));
  EXPECT_TRUE(keeper->Queue().Empty());
  EXPECT_TRUE(fs::is_empty(rig.data.path()));
}

}  // namespace
