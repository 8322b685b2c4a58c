#include "client/torrents/torrent_adder.h"

#include "tests/client/adder_test_support.h"
#include "client/base/wide_text.h"
#include "engine/formats/sha1.h"
#include "engine/formats/text_helpers.h"

#include <gtest/gtest.h>

#include <fstream>

using client::TorrentStatus;
using client_test::AdderRig;
using client_test::FakeTorrentControl;
using client_test::InfoHashOf;
using client_test::TorrentBytes;
using client_test::temp_folder;
namespace fs = std::filesystem;

namespace {

struct Adding : ::testing::Test {
  FakeTorrentControl fake;
  AdderRig rig{&fake};
  client::TorrentAdder& adder = rig.adder;

  std::string DataPath(const std::string& name) const { return rig.adder.data_folder + name; }
};

TEST_F(Adding, CopiesReadsAsksAndStartsATorrent) {
  const std::string bytes = TorrentBytes("movie.mkv", 50000);
  const fs::path source = rig.Source("movie.torrent", bytes);
  rig.Answer("/media/films/", 2);

  ASSERT_TRUE(adder.AddTorrentFile(source.string(), false));
  // The copy, byte for byte; the source stays.
  EXPECT_EQ(temp_folder::read(DataPath("movie.torrent")), bytes);
  EXPECT_TRUE(fs::exists(source));
  // The dialog was asked with the torrent's name, size and the current
  // choice; its answer is the new current choice.
  ASSERT_EQ(rig.host.asked.size(), 1u);
  EXPECT_EQ(rig.host.asked[0].title, L"movie.mkv");
  EXPECT_EQ(rig.host.asked[0].required, 50000u);
  EXPECT_EQ(rig.host.asked[0].start_folder, "/downloads/");
  EXPECT_EQ(rig.host.asked[0].priority, 1);
  EXPECT_EQ(adder.destination, "/media/films/");
  EXPECT_EQ(adder.priority, 2);

  // The row, in the engine with the choice, started.
  ASSERT_EQ(rig.list.Count(), 1u);
  client::TorrentItem& t = *rig.list.begin()->get();
  EXPECT_EQ(t.Path(), client::Utf8ToWide(DataPath("movie.torrent")));
  EXPECT_EQ(t.Chart().GetName(), L"movie.mkv");
  EXPECT_EQ(t.Priority(), client::TorrentPriority::High);
  EXPECT_EQ(t.Session(), &fake);
  EXPECT_EQ(t.Handle().info_hash(), InfoHashOf(bytes));
  const client_test::FakeTorrent& engine_torrent = fake.At(InfoHashOf(bytes));
  EXPECT_EQ(engine_torrent.save_path, fs::path("/media/films/"));
  EXPECT_TRUE(engine_torrent.compact_mode);
  EXPECT_EQ(engine_torrent.block_size, 16384);
  EXPECT_FALSE(engine_torrent.paused);
  EXPECT_EQ(t.Status(), TorrentStatus::Downloading);
  EXPECT_EQ(rig.queue.ActiveCount(), 1u);
  EXPECT_EQ(rig.host.rows_created, 1);
  EXPECT_EQ(rig.host.defaults_given, 1);
  EXPECT_EQ(t.Limits().upload, 3000);
  // No "nodes": private in the DHT.
  ASSERT_EQ(rig.dht.registered.size(), 1u);
  EXPECT_TRUE(rig.dht.registered[0].is_private);
  EXPECT_TRUE(rig.dht.registered[0].own);
  EXPECT_TRUE(rig.dht.bootstrapped.empty());
  EXPECT_FALSE(t.HasDhtNodes());
  EXPECT_TRUE(rig.host.log.empty());
}

TEST_F(Adding, NamesAreDecodedOnceAndCopiesNeverShareAName) {
  // "%20" is a blank; ".TORRENT" is no ".torrent".
  const std::string first = TorrentBytes("one.bin", 1000);
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("My%20File.TORRENT", first).string(), false));
  EXPECT_EQ(temp_folder::read(DataPath("My File.TORRENT.torrent")), first);

  // Another torrent under a file name in use gets its own copy; the first
  // copy is left as it was.
  const std::string second = TorrentBytes("two.bin", 2000);
  const temp_folder elsewhere("qf_add_other_");
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(elsewhere.put("My File.TORRENT", second).string(), false));
  EXPECT_EQ(temp_folder::read(DataPath("My File.TORRENT.torrent")), first);
  EXPECT_EQ(temp_folder::read(DataPath("My File.TORRENT (2).torrent")), second);

  // A name whose side files are left over from an earlier torrent is not
  // taken either.
  std::ofstream(DataPath("three.torrent.ResumeData")) << "d1:ai1ee";
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("three.torrent", TorrentBytes("three.bin", 3000)).string(), false));
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"My File.TORRENT.torrent", "My File.TORRENT (2).torrent",
                                                    "three.torrent.ResumeData", "three (2).torrent"}));
  EXPECT_EQ(rig.list.Count(), 3u);
}

TEST_F(Adding, DecodedNamesThatLeaveTheDataFolderAreRefused) {
  const std::string bytes = TorrentBytes("x.bin", 1000);
  for (const char* name : {"..%2F..%2Fescape.torrent", "..%2fescape", "%2E%2E", "nul%00.torrent"}) {
    SCOPED_TRACE(name);
    rig.ui.asked.clear();
    EXPECT_FALSE(adder.AddTorrentFile(rig.Source(name, bytes).string(), false));
    ASSERT_EQ(rig.ui.Messages().size(), 1u);
    EXPECT_NE(rig.ui.Messages()[0].find("not a usable file name"), std::string::npos);
  }
  EXPECT_TRUE(rig.DataFiles().empty());
  EXPECT_FALSE(fs::exists(rig.data.path().parent_path() / "escape.torrent"));
  EXPECT_EQ(fake.adds, 0);
}

TEST_F(Adding, ADuplicateLeavesTheTorrentThereAloneAndNoCopyBehind) {
  const std::string bytes = TorrentBytes("same.bin", 4000);
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("same.torrent", bytes).string(), false));
  // The torrent's side files.
  for (const char* side : {".ResumeData", ".FilterData", ".log.txt"})
    std::ofstream(DataPath(std::string("same.torrent") + side)) << "kept";
  const auto before = rig.DataFiles();

  // The same torrent again, from a file of the same name elsewhere, and
  // from a file of another name.
  const temp_folder elsewhere("qf_add_other_");
  EXPECT_FALSE(adder.AddTorrentFile(elsewhere.put("same.torrent", bytes).string(), true));
  EXPECT_FALSE(adder.AddTorrentFile(elsewhere.put("again.torrent", bytes).string(), false));
  EXPECT_EQ(rig.host.log, (std::vector<std::wstring>{L"duplicate torrent", L"duplicate torrent"}));
  EXPECT_EQ(rig.DataFiles(), before);
  EXPECT_EQ(temp_folder::read(DataPath("same.torrent")), bytes);
  EXPECT_EQ(temp_folder::read(DataPath("same.torrent.ResumeData")), "kept");
  EXPECT_EQ(rig.list.Count(), 1u);
  EXPECT_TRUE(rig.list.begin()->get()->IsValid());
  EXPECT_EQ(rig.host.asked.size(), 1u);  // no folder asked for a duplicate
  EXPECT_EQ(fake.adds, 1);

  // One the session has but the list does not (a torrent being removed).
  const std::string other = TorrentBytes("other.bin", 5000);
  fake.Put(InfoHashOf(other));
  EXPECT_FALSE(adder.AddTorrentFile(rig.Source("other.torrent", other).string(), false));
  EXPECT_EQ(rig.host.log.back(), L"duplicate torrent");
  EXPECT_EQ(rig.DataFiles(), before);
}

TEST_F(Adding, FailuresAndCancelsUndoOnlyTheirOwnWork) {
  // Not a torrent: the copy goes, the source (not ours) stays.
  const fs::path junk = rig.Source("junk.torrent", "this is no torrent");
  EXPECT_FALSE(adder.AddTorrentFile(junk.string(), false));
  EXPECT_EQ(rig.ui.Messages(), (std::vector<std::string>{"Invalid torrent file"}));
  EXPECT_TRUE(fs::exists(junk));

  // The user cancels the folder dialog: nothing stays, the choice neither.
  const std::string bytes = TorrentBytes("c.bin", 1000);
  EXPECT_FALSE(adder.AddTorrentFile(rig.Source("c.torrent", bytes).string(), false));
  EXPECT_EQ(rig.host.asked.size(), 1u);
  EXPECT_EQ(adder.destination, "/downloads/");

  // The engine refuses the torrent: the row and the copy go.
  fake.fail_next_add = "no files in torrent";
  rig.Answer("/d/");
  EXPECT_FALSE(adder.AddTorrentFile(rig.Source("c.torrent", bytes).string(), false));
  EXPECT_EQ(rig.ui.Messages().back(), "Invalid torrent file");
  EXPECT_EQ(rig.host.rows_created, 1);

  // The row window cannot be made.
  rig.host.fail_rows = true;
  rig.Answer("/d/");
  EXPECT_FALSE(adder.AddTorrentFile(rig.Source("c.torrent", bytes).string(), false));

  EXPECT_TRUE(rig.DataFiles().empty());
  EXPECT_EQ(rig.list.Count(), 0u);
  EXPECT_EQ(rig.queue.ActiveCount(), 0u);

  // A source that cannot be copied.
  const std::string missing = (rig.source.path() / "gone.torrent").string();
  EXPECT_FALSE(adder.AddTorrentFile(missing, true));
  EXPECT_EQ(rig.ui.Messages().back(), "Could not copy '" + missing + "'\n to '" + DataPath("gone.torrent") +
                                          "'\n\nTry to save the file to disk before adding\nor\ndrop the link onto "
                                          "the main window.");
}

TEST_F(Adding, AFileInTheDataFolderIsNeitherCopiedNorDeleted) {
  const std::string bytes = TorrentBytes("here.bin", 1000);
  std::ofstream(DataPath("here.torrent"), std::ios::binary) << bytes;
  rig.Answer("/d/");
  // Named through another path to the same file.
  ASSERT_TRUE(adder.AddTorrentFile(rig.adder.data_folder + "./here.torrent", true));
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"here.torrent"}));
  EXPECT_EQ(rig.list.begin()->get()->Path(), client::Utf8ToWide(DataPath("here.torrent")));

  // A download of ours is deleted once copied.
  rig.Answer("/d/");
  const fs::path download = rig.Source("dl.torrent", TorrentBytes("dl.bin", 1000));
  ASSERT_TRUE(adder.AddTorrentFile(download.string(), true));
  EXPECT_FALSE(fs::exists(download));
  EXPECT_TRUE(fs::exists(DataPath("dl.torrent")));
}

TEST_F(Adding, WithoutAnEngineOnlyTheRowIsMade) {
  adder.session = nullptr;
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("later.torrent", "not even read").string(), false));
  EXPECT_EQ(rig.list.Count(), 1u);
  EXPECT_EQ(rig.list.begin()->get()->Chart().GetName(), L"Torrent");
  EXPECT_TRUE(fs::exists(DataPath("later.torrent")));
  EXPECT_TRUE(rig.host.asked.empty());
  EXPECT_TRUE(rig.ui.asked.empty());
}

TEST_F(Adding, StartsOnlyWithAFreeSlotAndOutsideSessionOnlyMode) {
  rig.queue.SetMaxActive(1);
  for (int i = 0; i < 2; ++i) {
    rig.Answer("/d/");
    ASSERT_TRUE(adder.AddTorrentFile(rig.Source("q" + std::to_string(i), TorrentBytes("q" + std::to_string(i), 1000)).string(), false));
  }
  adder.session_only = true;
  rig.queue.SetMaxActive(5);
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("q2", TorrentBytes("q2", 1000)).string(), false));
  std::vector<bool> paused;
  for (const auto& t : rig.list) paused.push_back(t->Handle().is_paused());
  EXPECT_EQ(paused, (std::vector<bool>{false, true, true}));
  EXPECT_EQ(rig.queue.ActiveCount(), 1u);
  // The names were made into .torrent names.
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"q0.torrent", "q1.torrent", "q2.torrent"}));
}

TEST_F(Adding, NodesMakeATorrentPublicAndLargePiecesAreLogged) {
  const std::string bytes = TorrentBytes("folder", 5000000, 8388608, true, true);
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("big.torrent", bytes).string(), false));
  ASSERT_EQ(rig.dht.registered.size(), 1u);
  EXPECT_FALSE(rig.dht.registered[0].is_private);
  EXPECT_EQ(rig.dht.bootstrapped, std::vector<engine::sha1_hash>{InfoHashOf(bytes)});
  const client::TorrentItem& t = *rig.list.begin()->get();
  EXPECT_TRUE(t.HasDhtNodes());
  // Two files: the row shows the torrent's name.
  EXPECT_EQ(t.Chart().GetName(), L"folder");
  EXPECT_EQ(rig.host.log, std::vector<std::wstring>{L"piece size > 4 MBytes"});

  // Without a DHT node nothing is registered.
  adder.dht = nullptr;
  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("small.torrent", TorrentBytes("s", 10)).string(), false));
  EXPECT_EQ(rig.dht.registered.size(), 1u);
}

TEST_F(Adding, AnInfoDictionaryInAnotherKeyOrderKeepsTheHashOfItsBytes) {
  // "piece length", "name", "length", "pieces": not the canonical order, so
  // a decoded and encoded again dictionary hashes to another info-hash.
  const std::string info = "d12:piece lengthi16384e4:name7:odd.bin6:lengthi1000e6:pieces20:" +
                           std::string(20, 'p') + "e";
  const std::string bytes = "d8:announce27:http://127.0.0.1:1/announce4:info" + info + "e";
  const engine::sha1_hash raw_hash = engine::hasher(info.data(), static_cast<int>(info.size())).final();
  ASSERT_NE(engine::torrent_metainfo(engine::bdecode(bytes)).info_hash(), raw_hash);

  rig.Answer("/d/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("odd.torrent", bytes).string(), false));
  const client::TorrentItem& t = *rig.list.begin()->get();
  EXPECT_EQ(t.Handle().info_hash(), raw_hash);
  // The session has the metainfo as read, the info bytes with it, and the
  // copy in the data folder is the file byte for byte.
  ASSERT_EQ(fake.torrents.count(raw_hash), 1u);
  ASSERT_TRUE(fake.At(raw_hash).info.has_value());
  EXPECT_EQ(fake.At(raw_hash).info->info_dictionary_bytes(), info);
  EXPECT_EQ(temp_folder::read(DataPath("odd.torrent")), bytes);
  ASSERT_EQ(rig.dht.registered.size(), 1u);
  EXPECT_EQ(rig.dht.registered[0].info_hash, raw_hash);
}

TEST_F(Adding, TheUnderscoreRuleNamesTheCopyAndTheRow) {
  engine::set_remove_underscores(true);
  rig.Answer("/d/");
  const bool added = adder.AddTorrentFile(rig.Source("a_b.torrent", TorrentBytes("c_d.bin", 10)).string(), false);
  engine::set_remove_underscores(false);
  ASSERT_TRUE(added);
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"a b.torrent"}));
  EXPECT_EQ(rig.list.begin()->get()->Chart().GetName(), L"c d.bin");
}

// --- the automatic save folder

TEST_F(Adding, AutoSaveFolderByModeWithoutAsking) {
  adder.auto_save.mode = client::kAsdMatch;
  adder.auto_save.destinations = {{L"linux,debian", "/iso"}, {L"", "/never"}, {L"DEBIAN", "/debian/"}};
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("d.torrent", TorrentBytes("Debian-12.iso", 10)).string(), false));
  EXPECT_EQ(adder.destination, "/debian/");
  EXPECT_TRUE(rig.host.asked.empty());
  EXPECT_EQ(rig.queried, std::vector<std::string>{"/debian/"});

  adder.auto_save = {client::kAsdSingle, "/all", {}};
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("e.torrent", TorrentBytes("other.iso", 10)).string(), false));
  EXPECT_EQ(adder.destination, "/all/");
  EXPECT_EQ(fake.At(InfoHashOf(TorrentBytes("other.iso", 10))).save_path, fs::path("/all/"));
  EXPECT_TRUE(rig.host.asked.empty());
}

TEST_F(Adding, AutoSaveFolderWithoutRoomOrPermissionAsks) {
  adder.auto_save = {client::kAsdSingle, "/full/", {}};
  // Exactly the room needed is not enough.
  rig.space = client::FolderSpace{1000, true};
  rig.Answer("/chosen/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("a.torrent", TorrentBytes("a", 1000)).string(), false));
  EXPECT_EQ(rig.host.log, std::vector<std::wstring>{L"ASP: not enough free space on '/full/'"});
  ASSERT_EQ(rig.host.asked.size(), 1u);
  EXPECT_EQ(rig.host.asked[0].start_folder, "/full/");
  EXPECT_EQ(adder.destination, "/chosen/");

  // Room, but no permission: asked without a log line.
  rig.space = client::FolderSpace{std::uint64_t(1) << 40, false};
  rig.Answer("/chosen/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("b.torrent", TorrentBytes("b", 1000)).string(), false));
  EXPECT_EQ(rig.host.asked.size(), 2u);
  EXPECT_EQ(rig.host.log.size(), 1u);

  // A folder that cannot be asked.
  rig.space.reset();
  rig.Answer("/chosen/");
  ASSERT_TRUE(adder.AddTorrentFile(rig.Source("c.torrent", TorrentBytes("c", 1000)).string(), false));
  EXPECT_EQ(rig.host.asked.size(), 3u);
}

// --- by info-hash

TEST_F(Adding, ByInfoHashWithAPlaceholderFile) {
  const std::wstring hex = L"0123456789abcdef0123456789ABCDEF01234567";
  ASSERT_TRUE(adder.AddTorrentByHash(L" " + hex + L" ", L"http://tracker/announce", L"/saved/"));
  const std::string name = "0123456789ABCDEF0123456789ABCDEF01234567.Torrent";
  EXPECT_EQ(temp_folder::read(DataPath(name)), "Quillfern: temporary");
  ASSERT_EQ(rig.list.Count(), 1u);
  client::TorrentItem& t = *rig.list.begin()->get();
  EXPECT_EQ(t.Path(), client::Utf8ToWide(DataPath(name)));
  EXPECT_EQ(t.Chart().GetName(), L"Torrent");
  EXPECT_EQ(t.GetInfoHashHex(), L"0123456789ABCDEF0123456789ABCDEF01234567");
  const client_test::FakeTorrent& e = fake.At(t.Handle().info_hash());
  EXPECT_EQ(e.trackers, (std::vector<engine::announce_entry>{{"http://tracker/announce", 0}}));
  EXPECT_EQ(e.save_path, fs::path("/saved/"));
  EXPECT_EQ(e.block_size, 16384);
  EXPECT_EQ(rig.queue.ActiveCount(), 1u);

  // Again: a duplicate, nothing new.
  EXPECT_FALSE(adder.AddTorrentByHash(hex, L"http://tracker/announce", L"/saved/"));
  EXPECT_EQ(rig.host.log, std::vector<std::wstring>{L"duplicate torrent"});
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{name});

  // Texts that are no hash, and no engine.
  for (const wchar_t* text : {L"0123", L"0123456789abcdef0123456789ABCDEF0123456g",
                              L"0123456789abcdef0123456789ABCDEF01234567/../../x"})
    EXPECT_FALSE(adder.AddTorrentByHash(text, L"http://t/", L"/saved/")) << client::WideToUtf8(text);
  adder.session = nullptr;
  EXPECT_FALSE(adder.AddTorrentByHash(L"1123456789abcdef0123456789ABCDEF01234567", L"http://t/", L"/saved/"));
  EXPECT_EQ(rig.list.Count(), 1u);
  EXPECT_EQ(rig.DataFiles().size(), 1u);
}

// --- the routes

TEST_F(Adding, CommandLineAndDropRoutes) {
  rig.Answer("/d/");
  const fs::path cmd = rig.Source("cmd line.torrent", TorrentBytes("cmd", 10));
  EXPECT_TRUE(adder.OpenCommandLine("\"" + cmd.string() + "\""));
  EXPECT_FALSE(adder.OpenCommandLine("--help"));
  EXPECT_TRUE(fs::exists(cmd));  // not ours to delete

  // A drop with a file that is no .torrent adds nothing.
  const fs::path dropped = rig.Source("dropped one.torrent", TorrentBytes("drop", 10));
  adder.OpenDropped(client::ParseUriList("file://" + rig.source.path().string() + "/dropped%20one.torrent\r\n"
                                         "file://" + rig.source.path().string() + "/notes.txt\r\n"));
  EXPECT_EQ(rig.list.Count(), 1u);
  rig.Answer("/d/");
  adder.OpenDropped(client::ParseUriList("# dropped\r\nfile://" + rig.source.path().string() +
                                         "/dropped%20one.torrent\r\n"));
  EXPECT_EQ(rig.list.Count(), 2u);
  EXPECT_TRUE(fs::exists(dropped));
  EXPECT_EQ(rig.DataFiles(), (std::set<std::string>{"cmd line.torrent", "dropped one.torrent"}));
  // Links need the download workers.
  EXPECT_FALSE(adder.OpenTorrentUrl("http://127.0.0.1:1/x.torrent"));
}

}  // namespace

namespace {

// A file far too large for a torrent is refused before anything is copied
// or read.
TEST_F(Adding, AnOversizedFileIsRefusedBeforeItIsCopied) {
  const fs::path big = rig.source.path() / "x.torrent";
  {
    std::ofstream(big, std::ios::binary) << "d4:info";
  }
  fs::resize_file(big, std::uint64_t(1) << 30);  // sparse: no room taken
  EXPECT_FALSE(adder.AddTorrentFile(big.string(), false));
  ASSERT_EQ(rig.host.log.size(), 1u);
  EXPECT_EQ(rig.host.log[0], L"Could not add '" + client::Utf8ToWide(big.string()) +
                                 L"': 1073741824 bytes, more than a torrent file holds (at most 64 MiB).");
  EXPECT_TRUE(rig.ui.Messages().empty());
  EXPECT_TRUE(rig.DataFiles().empty());
  EXPECT_TRUE(fs::exists(big));  // not ours
  EXPECT_EQ(fake.adds, 0);

  // One of ours (a download) is removed all the same.
  fs::resize_file(big, client::kMaxTorrentFileSize + 1);
  EXPECT_FALSE(adder.AddTorrentFile(big.string(), true));
  EXPECT_FALSE(fs::exists(big));
  EXPECT_TRUE(rig.DataFiles().empty());

  EXPECT_TRUE(rig.DataFiles().empty());
}

// Paths by their bytes: a name that is no UTF-8 (made in another locale)
// is read as it is; its copy is named by text the list file can hold.
TEST_F(Adding, APathThatIsNoUtf8IsTakenByItsBytes) {
  const std::string bytes = TorrentBytes("latin.bin", 1000);
  const fs::path latin1 = rig.Source("caf\xE9.torrent", bytes);
  rig.Answer("/d/");
  ASSERT_TRUE(adder.OpenCommandLine(latin1.string()));
  EXPECT_EQ(rig.DataFiles(), std::set<std::string>{"caf\xEF\xBF\xBD.torrent"});
  ASSERT_EQ(rig.list.Count(), 1u);
  EXPECT_EQ(rig.list.begin()->get()->Path(), client::Utf8ToWide(DataPath("caf\xEF\xBF\xBD.torrent")));
  EXPECT_EQ(temp_folder::read(client::WideToPath(rig.list.begin()->get()->Path())), bytes);
  EXPECT_TRUE(fs::exists(latin1));
}

}  // namespace
