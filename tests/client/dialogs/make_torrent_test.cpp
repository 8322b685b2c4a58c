#include "client/dialogs/make_torrent_model.h"
#include "client/dialogs/make_torrent_worker.h"
#include "engine/formats/entry.h"
#include "engine/formats/sha1.h"
#include "engine/formats/text_helpers.h"
#include "platform/profile.h"
#include "tests/client/dialogs/make_torrent_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <set>
#include <thread>

using client::MakeTorrentJob;
using client::MakeTorrentModel;
using client::MakeTorrentResult;
using make_torrent_test::ReadBytes;
using make_torrent_test::ReadTorrent;
using make_torrent_test::TempFolder;
namespace fs = std::filesystem;
using Outcome = MakeTorrentResult::Outcome;

namespace {

std::vector<fs::path> PathsOf(const std::vector<client::MakeTorrentFile>& files) {
  std::vector<fs::path> out;
  for (const auto& f : files) out.push_back(f.file);
  return out;
}

MakeTorrentJob JobFor(const std::vector<client::MakeTorrentFile>& files, const fs::path& output) {
  MakeTorrentJob job;
  job.files = files;
  job.trackers = {{L"http://127.0.0.1:6969/announce", L"0"}};
  job.output_file = output.wstring();
  job.creator = "Quillfern 1, 3, 0, 55";
  return job;
}

MakeTorrentResult Make(const MakeTorrentJob& job) {
  std::atomic<bool> cancel{false};
  return client::MakeTorrent(job, cancel);
}

}  // namespace

TEST(MakeTorrentRules, PieceSizeFollowsTheTotalUnlessChosen) {
  constexpr std::int64_t MiB = 1 << 20;
  const std::pair<std::int64_t, unsigned> table[] = {
      {300 * MiB, 18},  // 28 - 9 = 19, at most 18
      {4 * MiB, 13},    // 8 KiB pieces
      {20, 18},         // 4 - 9 wraps around
      {0, 18},     {511, 18}, {512, 4}, {10000, 4}, {16383, 4}, {16384, 5}, {128 * MiB - 1, 17}, {128 * MiB, 18},
      {std::int64_t{1} << 40, 18},
  };
  for (const auto& [total, exponent] : table) {
    EXPECT_EQ(client::AutoPieceExponent(total), exponent) << total;
    EXPECT_EQ(client::PieceLengthFor(0, total), std::int64_t{1} << exponent) << total;
  }
  EXPECT_EQ(client::PieceLengthFor(15, 300 * MiB), 32768);
  EXPECT_EQ(client::PieceLengthFor(40, 1), 1 << 21);

  MakeTorrentModel model;
  EXPECT_EQ(model.PieceSizeText(), L"auto");
  model.PieceExponentDown();
  EXPECT_EQ(model.PieceExponent(), 0u);
  for (int i = 0; i < 25; ++i) model.PieceExponentUp();
  EXPECT_EQ(model.PieceExponent(), 21u);
  EXPECT_EQ(model.PieceSizeText(), L"2097152");
  model.PieceExponentDown();
  EXPECT_EQ(model.PieceSizeText(), L"1048576");
}

TEST(MakeTorrentRules, NodeRowsAndTierTexts) {
  EXPECT_EQ(client::ParseNodeRow(L"10.0.0.1:6881"), std::make_pair(std::string("10.0.0.1"), 6881));
  EXPECT_EQ(client::ParseNodeRow(L"router.example:1:2"), std::nullopt);
  EXPECT_EQ(client::ParseNodeRow(L"h\u00e9st:65535"), std::make_pair(std::string("h\xc3\xa9st"), 65535));
  for (const wchar_t* bad : {L"10.0.0.1", L":6881", L"h:", L"h:0", L"h:65536", L"h:68x1", L"h: 6881", L"h:123456"})
    EXPECT_EQ(client::ParseNodeRow(bad), std::nullopt) << bad;
  EXPECT_EQ(client::TierNumber(L"2"), 2);
  EXPECT_EQ(client::TierNumber(L"12b"), 12);
  EXPECT_EQ(client::TierNumber(L"x"), 0);
  EXPECT_EQ(client::TierNumber(L""), 0);
}

TEST(MakeTorrentFiles, FolderSearchTakesRegularFilesAndFollowsNoLink) {
  TempFolder outside("mt_outside");
  outside.Put("secret.bin", 50);
  TempFolder top("mt_search");
  top.Put("b.txt", 10);
  top.Put("a-c/z", 11);
  top.Put("a/b", 12);
  top.Put("a/deep/er/x", 13);
  top.Put("empty", 0);
  top.Put(".hidden", 5);
  fs::create_directory_symlink(outside.path(), top.path() / "linked folder");
  fs::create_symlink(outside.path() / "secret.bin", top.path() / "linked file");
  ASSERT_EQ(::mkfifo((top.path() / "pipe").c_str(), 0600), 0);
  fs::create_directories(top.path() / "no files here");

  // Given with a trailing separator: the folder is the same.
  const auto found = client::FindFilesRecursively(top.path().string() + "/");
  const fs::path t = top.path();
  EXPECT_EQ(PathsOf(found), (std::vector<fs::path>{t / ".hidden", t / "a-c/z", t / "a/b", t / "a/deep/er/x", t / "b.txt"}));
  for (const auto& f : found) EXPECT_EQ(f.folder, t);
  EXPECT_EQ(found[3].size, 13);
  EXPECT_TRUE(client::FindFilesRecursively(t / "missing").empty());
}

TEST(MakeTorrentFiles, LayoutNamesTheTorrentAfterTheCommonFolder) {
  using client::MakeTorrentFile;
  const MakeTorrentFile one{"/data/show/a.mkv", "/data/show", 1};
  auto layout = client::LayOutFiles({one});
  EXPECT_EQ(layout.base_folder, "/data/show");
  EXPECT_EQ(layout.paths, (std::vector<fs::path>{"a.mkv"}));
  // Found in a folder: even alone, only the file is the torrent.
  layout = client::LayOutFiles({{"/data/show/s1/a.mkv", "/data/show", 1}});
  EXPECT_EQ(layout.base_folder, "/data/show/s1");
  EXPECT_EQ(layout.paths, (std::vector<fs::path>{"a.mkv"}));

  // A folder and a single file from below it: named after the folder.
  layout = client::LayOutFiles({{"/data/show/s1/a.mkv", "/data/show", 1}, {"/data/show/s2/b.mkv", "/data/show/s2", 1}});
  EXPECT_TRUE(layout.has_common_folder);
  EXPECT_EQ(layout.base_folder, "/data");
  EXPECT_EQ(layout.paths, (std::vector<fs::path>{"show/s1/a.mkv", "show/s2/b.mkv"}));
  // Two folders side by side: named after the folder holding both.
  layout = client::LayOutFiles({{"/data/x/f", "/data/x", 1}, {"/data/y/g", "/data/y", 1}});
  EXPECT_EQ(layout.base_folder, "/");
  EXPECT_EQ(layout.paths, (std::vector<fs::path>{"data/x/f", "data/y/g"}));
  // Nothing in common but the root: no name for the torrent.
  layout = client::LayOutFiles({{"/x/f", "/x", 1}, {"/y/g", "/y", 1}});
  EXPECT_FALSE(layout.has_common_folder);
  EXPECT_EQ(layout.paths, (std::vector<fs::path>{"x/f", "y/g"}));
}

TEST(MakeTorrentModelTest, FilesAreAddedOnceAndShownWithTheirTorrentPaths) {
  TempFolder top("mt_model");
  const fs::path song = top.Put("album/song.ogg", 300);
  top.Put("album/cover.png", 40);
  MakeTorrentModel model;
  EXPECT_EQ(model.FileCountText(), L"no file");

  client::ScriptedUiServices ui;
  ui.open_answers.push_back({song.string()});
  ui.open_answers.push_back({(top.path() / "album/../album/song.ogg").string()});
  EXPECT_EQ(model.AddFileCommand(ui), 0);
  EXPECT_EQ(model.FileCountText(), L"1 file");
  EXPECT_EQ(model.FilePathText(0), L"song.ogg");
  EXPECT_EQ(model.FileSizeText(0), L"300");
  EXPECT_TRUE(ui.Messages().empty());
  // The same file again: shown, then told; not added.
  std::size_t told_before_shown = 99;
  EXPECT_EQ(model.AddFileCommand(ui, [&](int row) {
    EXPECT_EQ(row, 0);
    told_before_shown = ui.Messages().size();
  }), 0);
  EXPECT_EQ(told_before_shown, 0u);
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{"File already in list."}));
  EXPECT_EQ(model.FileRowCount(), 1);

  // The folder brings the other file only; both now begin with its name.
  ui.folder_answers.push_back((top.path() / "album").string() + "/");
  EXPECT_TRUE(model.AddFolderCommand(ui));
  EXPECT_EQ(model.last_folder, top.path() / "album");
  EXPECT_EQ(model.FileCountText(), L"2 files");
  EXPECT_EQ(model.FilePathText(0), L"album/song.ogg");
  EXPECT_EQ(model.FilePathText(1), L"album/cover.png");
  EXPECT_EQ(model.AddFolder(top.path() / "album"), 0);

  EXPECT_EQ(model.AddFile(top.path() / "missing").outcome, MakeTorrentModel::AddOutcome::Unreadable);
  EXPECT_EQ(model.FileMenu().front().text, "Delete");
  model.ApplyFileMenu(0, client::kMenuDelete);
  EXPECT_EQ(model.FilePathText(0), L"cover.png");
  model.ApplyFileMenu(0, 0);  // dismissed
  EXPECT_EQ(model.FileRowCount(), 1);
  model.ClearFiles();
  EXPECT_EQ(model.FileCountText(), L"no file");
}

TEST(MakeTorrentModelTest, TrackerAndNodeRowsFollowEditsAndMenus) {
  MakeTorrentModel model;
  // Below the rows: a new row to edit; an edit that is cancelled keeps it.
  EXPECT_EQ(model.TrackerRowToEdit(-1), 0);
  EXPECT_EQ(model.Trackers().front(), (client::MakeTorrentTrackerRow{L"http://", L"0"}));
  model.EndTrackerEdit(0, std::nullopt);
  model.EndTrackerEdit(0, L"http://a/announce");
  EXPECT_EQ(model.TrackerRowToEdit(-1), 1);
  model.EndTrackerEdit(1, L"udp://b:80");
  EXPECT_EQ(model.TrackerRowToEdit(0), 0);
  EXPECT_EQ(model.Trackers().size(), 2u);

  const auto menu = model.TrackerMenu(1);
  std::vector<std::string> texts;
  for (const auto& item : menu) texts.push_back(item.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"0", "1", "2", "+", "-"}));
  EXPECT_TRUE(menu[1].is_default);
  EXPECT_EQ(model.TrackerMenu(0).front().text, "Delete");

  model.ApplyTrackerMenu(1, client::kMenuTier2);
  EXPECT_EQ(model.Trackers()[1].tier, L"2");
  model.ApplyTrackerMenu(1, client::kMenuTierUp);
  EXPECT_EQ(model.Trackers()[1].tier, L"3");
  model.ApplyTrackerMenu(0, client::kMenuTierDown);
  EXPECT_EQ(model.Trackers()[0].tier, L"0");
  model.ApplyTrackerMenu(1, client::kMenuTier1);
  model.ApplyTrackerMenu(1, client::kMenuTierDown);
  EXPECT_EQ(model.Trackers()[1].tier, L"0");
  model.ApplyTrackerMenu(0, client::kMenuDelete);
  EXPECT_EQ(model.Trackers(), (std::vector<client::MakeTorrentTrackerRow>{{L"udp://b:80", L"0"}}));
  // Emptied: gone.
  model.EndTrackerEdit(0, L"");
  EXPECT_TRUE(model.Trackers().empty());

  EXPECT_EQ(model.NodeRowToEdit(-1), 0);
  EXPECT_EQ(model.Nodes(), (std::vector<std::wstring>{L"1.1.1.1"}));
  model.EndNodeEdit(0, L"10.0.0.1:6881");
  model.EndNodeEdit(5, L"ignored");
  EXPECT_EQ(model.Nodes(), (std::vector<std::wstring>{L"10.0.0.1:6881"}));
  model.EndNodeEdit(0, L"");
  EXPECT_TRUE(model.Nodes().empty());
}

TEST(MakeTorrentModelTest, SettingsRoundTripAndMissingRowsAreSkipped) {
  TempFolder dir("mt_settings");
  platform::profile profile(dir.path() / "Quillfern.ini");
  MakeTorrentModel fresh;
  fresh.LoadSettings(profile);
  EXPECT_EQ(fresh.file_columns, (std::vector<int>{100, 100}));
  EXPECT_EQ(fresh.node_columns, (std::vector<int>{100}));
  EXPECT_TRUE(fresh.Trackers().empty());
  EXPECT_EQ(fresh.comment, L"");

  MakeTorrentModel model;
  model.TrackerRowToEdit(-1);
  model.EndTrackerEdit(0, L"http://a/announce");
  model.TrackerRowToEdit(-1);
  model.EndTrackerEdit(1, L"http://b/announce");
  model.ApplyTrackerMenu(1, client::kMenuTier1);
  model.NodeRowToEdit(-1);
  model.EndNodeEdit(0, L"10.0.0.1:6881");
  model.PieceExponentUp();
  model.comment = L"Made with care \u00e9";
  model.output_file = L"/tmp/out.torrent";
  model.last_folder = "/srv/share";
  model.file_columns = {250, 12};
  model.SaveSettings(profile);

  const std::string text = ReadBytes(profile.file());
  for (const char* key : {"Trackers=2", "Tracker URL 01=http://b/announce", "Tracker TIER 01=1", "Nodes=1",
                          "Node 00=10.0.0.1:6881", "MTT Piece Size=1", "MTF Column Width 00=250",
                          "MTF Column Width 01=30", "MTT Column Width 01=100", "MTN Column Width 00=100",
                          "Last Folder=/srv/share/"})
    EXPECT_NE(text.find(key), std::string::npos) << key;

  MakeTorrentModel loaded;
  loaded.LoadSettings(profile);
  EXPECT_EQ(loaded.Trackers(), model.Trackers());
  EXPECT_EQ(loaded.Nodes(), model.Nodes());
  EXPECT_EQ(loaded.PieceExponent(), 1u);
  EXPECT_EQ(loaded.comment, model.comment);
  EXPECT_EQ(loaded.output_file, model.output_file);
  EXPECT_EQ(loaded.last_folder, model.last_folder);
  EXPECT_EQ(loaded.file_columns, (std::vector<int>{250, 30}));

  // A row whose value is missing is left out; an impossible exponent is cut.
  profile.WriteProfileInt("Configuration", "Trackers", 3);
  profile.WriteProfileString("Configuration", "Tracker URL 02", "http://c/announce");
  profile.DeleteProfileValue("Configuration", "Tracker TIER 00");
  profile.WriteProfileInt("Configuration", "Nodes", 2);
  profile.WriteProfileInt("Configuration", "MTT Piece Size", 40);
  loaded.LoadSettings(profile);
  EXPECT_EQ(loaded.Trackers(), (std::vector<client::MakeTorrentTrackerRow>{{L"http://b/announce", L"1"}}));
  EXPECT_EQ(loaded.Nodes(), (std::vector<std::wstring>{L"10.0.0.1:6881"}));
  EXPECT_EQ(loaded.PieceExponent(), 21u);
}

TEST(MakeTorrentModelTest, OutputNameGetsTheExtensionOnce) {
  EXPECT_EQ(client::WithTorrentExtension(L"x"), L"x.torrent");
  EXPECT_EQ(client::WithTorrentExtension(L"/a/b.torrent"), L"/a/b.torrent");
  MakeTorrentModel model;
  model.output_file = L"old.torrent";
  client::ScriptedUiServices ui;
  ui.save_answers.push_back(std::nullopt);
  ui.save_answers.push_back("/srv/new");
  EXPECT_FALSE(model.ChooseOutputCommand(ui));
  EXPECT_EQ(model.output_file, L"old.torrent");
  EXPECT_TRUE(model.ChooseOutputCommand(ui));
  EXPECT_EQ(model.output_file, L"/srv/new.torrent");
}

TEST(MakeTorrentModelTest, DialogControlsFitTheDialogWithoutOverlapping) {
  const auto& controls = client::MakeTorrentControls();
  std::set<int> ids;
  for (const auto& c : controls) {
    const client::Rect r = c.place;
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.right, client::kMakeTorrentDialogSize.cx);
    EXPECT_LE(r.bottom, client::kMakeTorrentDialogSize.cy);
    if (c.id == client::kIdNone) continue;
    EXPECT_TRUE(c.id < 4999 || c.id > 5999) << c.id;
    EXPECT_TRUE(ids.insert(c.id).second) << c.id;
  }
  EXPECT_EQ(ids, (std::set<int>{1, 2, 1011, 1012, 1019, 1023, 1024, 1025, 1026, 1027, 1029, 1030, 1039, 1041, 1043,
                                1044, 1045, 1064}));
  for (std::size_t i = 0; i < controls.size(); ++i)
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      const client::Rect a = controls[i].place, b = controls[j].place;
      const bool apart = a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
      EXPECT_TRUE(apart) << i << " and " << j;
    }
}

class MakeTorrentWork : public ::testing::Test {
 protected:
  TempFolder data{"mt_data"};
  TempFolder out{"mt_out"};
};

TEST_F(MakeTorrentWork, TheTorrentReadsBackWithItsTiersNodesAndPieceHashes) {
  data.Put("set/one.bin", 70000, 1);
  data.Put("set/sub/two.bin", 1234, 2);
  data.Put("set/three.bin", 5, 3);
  MakeTorrentModel model;
  model.AddFolder(data.path() / "set");
  for (const wchar_t* url : {L"http://a/announce", L"http://b/announce", L"http://c/announce"})
    model.EndTrackerEdit(model.TrackerRowToEdit(-1), url);
  model.ApplyTrackerMenu(1, client::kMenuTier1);
  for (const wchar_t* node : {L"10.0.0.1:6881", L"no port here", L"router.example:6882"})
    model.EndNodeEdit(model.NodeRowToEdit(-1), node);
  model.comment = L"caf\u00e9";
  model.output_file = (out.path() / "set").wstring();
  model.output_file = client::WithTorrentExtension(model.output_file);

  std::vector<std::pair<int, int>> steps;
  std::atomic<bool> cancel{false};
  const MakeTorrentResult result =
      client::MakeTorrent(model.Job(), cancel, [&](int position, int range) { steps.emplace_back(position, range); });
  ASSERT_EQ(result.outcome, Outcome::Written) << std::string(result.message.begin(), result.message.end());
  const fs::path made = out.path() / "set.torrent";
  auto torrent = ReadTorrent(made);
  EXPECT_EQ(torrent->name(), "set");
  // 71239 bytes: 16 - 9 = 7, 128-byte pieces.
  EXPECT_EQ(torrent->piece_length(), 128);
  EXPECT_EQ(result.pieces, torrent->num_pieces());
  EXPECT_EQ(steps.front(), std::make_pair(0, result.pieces));
  EXPECT_LE(steps.size(), 1002u);
  std::vector<fs::path> paths;
  for (const auto& f : torrent->files()) paths.push_back(f.path);
  EXPECT_EQ(paths, (std::vector<fs::path>{"set/one.bin", "set/sub/two.bin", "set/three.bin"}));
  EXPECT_EQ(torrent->creator(), "Quillfern 1, 3, 0, 55");
  EXPECT_EQ(torrent->comment(), "caf\xc3\xa9");
  EXPECT_TRUE(torrent->creation_date().has_value());

  std::string whole = ReadBytes(data.path() / "set/one.bin") + ReadBytes(data.path() / "set/sub/two.bin") +
                      ReadBytes(data.path() / "set/three.bin");
  for (int i = 0; i < torrent->num_pieces(); ++i) {
    const auto piece = whole.substr(std::size_t(i) * 128, std::size_t(torrent->piece_size(i)));
    ASSERT_EQ(torrent->hash_for_piece(i), engine::hasher(piece.data(), int(piece.size())).final()) << i;
  }
  std::wstring hex;
  for (char c : torrent->info_hash().to_hex()) hex += wchar_t(std::toupper(c));
  EXPECT_EQ(result.info_hash, hex);

  // Trackers and nodes go in last row first, tier by tier.
  const std::string bytes = ReadBytes(made);
  const engine::entry e = engine::bdecode(bytes);
  EXPECT_EQ(e["announce"].string(), "http://c/announce");
  const engine::entry expected_tiers(engine::entry::list_type{
      engine::entry::list_type{engine::entry("http://c/announce"), engine::entry("http://a/announce")},
      engine::entry::list_type{engine::entry("http://b/announce")}});
  EXPECT_EQ(e["announce-list"], expected_tiers);
  const engine::entry expected_nodes(engine::entry::list_type{
      engine::entry::list_type{engine::entry("router.example"), engine::entry(6882)},
      engine::entry::list_type{engine::entry("10.0.0.1"), engine::entry(6881)}});
  EXPECT_EQ(e["nodes"], expected_nodes);

  // Without nodes there is no "nodes" key.
  MakeTorrentJob job = model.Job();
  job.nodes = {L"not a node"};
  ASSERT_EQ(Make(job).outcome, Outcome::Written);
  EXPECT_EQ(engine::bdecode(ReadBytes(made)).find_key("nodes"), nullptr);
}

TEST_F(MakeTorrentWork, SameInfoHashAsMktorrentAndTransmissionShow) {
  if (!make_torrent_test::HaveTool("mktorrent") || !make_torrent_test::HaveTool("transmission-show"))
    GTEST_FAIL() << "mktorrent or transmission-show is not installed";
  data.Put("pack/A1", 40000, 1);
  data.Put("pack/B/q", 100000, 2);
  data.Put("pack/a b", 3, 3);
  data.Put("pack/a-c/z", 65536, 4);
  data.Put("pack/a/b", 70001, 5);
  data.Put("single.iso", 123457, 6);
  for (const std::string name : {"pack", "single.iso"}) {
    MakeTorrentModel model;
    if (name == "pack")
      model.AddFolder(data.path() / name);
    else
      model.AddFile(data.path() / name);
    model.EndTrackerEdit(model.TrackerRowToEdit(-1), L"http://127.0.0.1:6969/announce");
    for (int i = 0; i < 15; ++i) model.PieceExponentUp();
    model.output_file = (out.path() / (name + ".ours.torrent")).wstring();
    const MakeTorrentResult result = Make(model.Job());
    ASSERT_EQ(result.outcome, Outcome::Written) << name;

    const fs::path theirs = out.path() / (name + ".mktorrent.torrent");
    ASSERT_FALSE(make_torrent_test::Run("mktorrent -a http://127.0.0.1:6969/announce -l 15 -t 1 -o '" + theirs.string() +
                                        "' '" + (data.path() / name).string() + "' 2>&1")
                     .empty());
    const std::string hash = ReadTorrent(model.output_file)->info_hash().to_hex();
    EXPECT_EQ(ReadTorrent(theirs)->info_hash().to_hex(), hash) << name;
    EXPECT_EQ(make_torrent_test::TransmissionHash(model.output_file), hash) << name;
    EXPECT_EQ(make_torrent_test::TransmissionHash(theirs), hash) << name;
  }
}

TEST_F(MakeTorrentWork, CancelMidHashLeavesNoFile) {
  const auto file = data.Put("big.bin", 1 << 20);
  MakeTorrentModel model;
  model.AddFile(file);
  model.EndTrackerEdit(model.TrackerRowToEdit(-1), L"http://a/announce");
  for (int i = 0; i < 10; ++i) model.PieceExponentUp();  // 1 KiB: 1024 pieces
  model.output_file = (out.path() / "big.torrent").wstring();

  std::atomic<bool> cancel{false};
  int last = 0;
  const MakeTorrentResult result = client::MakeTorrent(model.Job(), cancel, [&](int position, int) {
    last = position;
    if (position >= 100) cancel = true;
  });
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  EXPECT_LT(last, 1024);
  EXPECT_TRUE(fs::is_empty(out.path()));

  // The same through the worker, stopped from outside while it hashes.
  client::MakeTorrentWorker worker;
  std::atomic<bool> hashing{false};
  std::promise<MakeTorrentResult> done;
  ASSERT_TRUE(worker.Start(
      model.Job(),
      [&](int position, int) {
        if (position > 0) hashing = true;
        // Waits here until told to stop, so the stop lands mid-hash.
        while (position > 0 && !worker.CancelRequested()) std::this_thread::yield();
      },
      [&](MakeTorrentResult r) { done.set_value(std::move(r)); }));
  while (!hashing) std::this_thread::yield();
  EXPECT_TRUE(worker.Running());
  EXPECT_FALSE(worker.Start(model.Job(), {}, {}));
  EXPECT_FALSE(worker.StopWithin(std::chrono::milliseconds(0)));
  EXPECT_TRUE(worker.StopWithin(std::chrono::seconds(60)));
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(done.get_future().get().outcome, Outcome::Cancelled);
  EXPECT_TRUE(fs::is_empty(out.path()));

  // Started again, it runs to the end.
  std::promise<MakeTorrentResult> again;
  ASSERT_TRUE(worker.Start(model.Job(), {}, [&](MakeTorrentResult r) { again.set_value(std::move(r)); }));
  EXPECT_EQ(again.get_future().get().outcome, Outcome::Written);
  EXPECT_TRUE(fs::exists(out.path() / "big.torrent"));
}

TEST_F(MakeTorrentWork, FailuresAreToldAndWriteNothing) {
  const auto a = data.Put("x/a", 1000);
  const auto b = data.Put("y/b", 1000);
  const fs::path target = out.path() / "t.torrent";
  auto failure = [&](const MakeTorrentJob& job) {
    const MakeTorrentResult r = Make(job);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_FALSE(fs::exists(target));
    return r.message;
  };
  const std::wstring error(client::kMakeTorrentError);
  MakeTorrentJob job = JobFor({{a, a.parent_path(), 1000}}, target);
  job.trackers.clear();
  EXPECT_EQ(failure(job), error + L"There is no tracker in the list.");
  EXPECT_EQ(failure(JobFor({}, target)), error + L"There is no file in the list.");
  EXPECT_EQ(failure(JobFor({{a, a.parent_path(), 1000}}, "")), error + L"No name is given for the torrent file.");

  // A file that changed since it was added, or went away.
  std::wstring message = failure(JobFor({{a, a.parent_path(), 999}}, target));
  EXPECT_EQ(message.rfind(error, 0), 0u);
  EXPECT_NE(message.find(L"changed its size"), std::wstring::npos) << std::string(message.begin(), message.end());
  message = failure(JobFor({{a, a.parent_path(), 1000}, {data.path() / "x/gone", data.path() / "x", 5}}, target));
  EXPECT_NE(message.find(L"x/gone"), std::wstring::npos);

  // Files with no folder in common but the root make no torrent.
  EXPECT_EQ(failure(JobFor({{a, "/", 1000}, {b, b.parent_path(), 1000}}, target)),
            error + L"The files have no folder in common.");

  // Pieces so small that they could not be counted: told before any hashing.
  const fs::path huge = data.path() / "huge.img";
  fs::resize_file(data.Put("huge.img", 0), std::int64_t{4} << 30);
  MakeTorrentJob tiny = JobFor({{huge, huge.parent_path(), std::int64_t{4} << 30}}, target);
  tiny.piece_exponent = 1;
  EXPECT_EQ(failure(tiny), error + L"The piece size is too small for so much data.");

  // An output folder that cannot be made.
  const MakeTorrentJob blocked = JobFor({{a, a.parent_path(), 1000}}, a / "t.torrent");
  EXPECT_EQ(Make(blocked).outcome, Outcome::Failed);
}

TEST_F(MakeTorrentWork, FilesAreReadUnderTheirOwnNamesWhateverTheDownloadNameRule) {
  // The rule that turns underscores into blanks names downloaded files; the
  // files of a new torrent are read as they are called.
  const auto file = data.Put("my_file.bin", 5000, 4);
  data.Put("my file.bin", 5000, 5);
  engine::set_remove_underscores(true);
  const MakeTorrentResult result = Make(JobFor({{file, file.parent_path(), 5000}}, out.path() / "u.torrent"));
  engine::set_remove_underscores(false);
  ASSERT_EQ(result.outcome, Outcome::Written);
  auto torrent = ReadTorrent(out.path() / "u.torrent");
  EXPECT_EQ(torrent->name(), "my_file.bin");
  const std::string bytes = ReadBytes(file);
  EXPECT_EQ(torrent->hash_for_piece(0), engine::hasher(bytes.data(), int(torrent->piece_size(0))).final());
}
