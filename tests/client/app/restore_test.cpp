// The restore of the saved torrents with the torrents' own loading (on the
// fake engine), and the list file kept up to date as torrents come and go.

#include "client/app/main_window_core.h"
#include "client/torrents/torrent_adder.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "core_test_support.h"
#include "tests/client/torrents/persistence_support.h"
#include "tests/engine/storage/storage_test_support.h"
#include "tests/store/store_test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;
using client::TorrentStatus;
using client_test::FakeTorrent;

std::u16string Section(const fs::path& torrent) {
  return client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(torrent.string())));
}

std::string TorrentBytes(const storage_test::test_torrent& t) {
  engine::torrent_metainfo info = t.info;
  return client_test::Bencoded(info.build_torrent_dictionary());
}

std::string Hex(const engine::sha1_hash& hash) {
  std::string hex;
  for (std::uint8_t b : hash) hex += "0123456789ABCDEF"[b >> 4], hex += "0123456789ABCDEF"[b & 15];
  return hex;
}

// A run of the program on the files as they are, with the torrents' own
// loading; started at once.
struct ProgramRun {
  client_test::FakeEngineParts parts;
  client_test::CoreHost host;
  std::unique_ptr<client::MainWindowCore> core;
  ProgramRun(platform::profile& profile, client::ScriptedUiServices& ui) {
    parts.real_load = true;
    core = std::make_unique<client::MainWindowCore>(profile, host, parts, ui);
    core->OnCreate();
  }
};

struct RestoreFixture : client_test::CoreFixture {
  fs::path Torrents() const { return dir / "Torrents"; }
  std::string Down() const { return (dir / "down").string() + "/"; }
  client_test::FakeTorrentControl& Engine() { return parts.session->torrents; }
  client::TorrentItem* Find(client::MainWindowCore& core, const std::wstring& name) {
    for (const auto& t : core.List())
      if (t->FileName() == name) return t.get();
    return nullptr;
  }
  static std::vector<std::wstring> Started(client::MainWindowCore& core) {
    std::vector<std::wstring> names;
    for (const auto& t : core.List())
      if (t->IsStarted()) names.push_back(t->FileName());
    return names;
  }
  bool Logged(const std::wstring& text) const {
    return std::any_of(host.status.begin(), host.status.end(),
                       [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
  }
};

// Each torrent of the data folder loads on its own: a truncated resume file
// costs only a check, a status out of range is held to Error, a torrent
// known by its info-hash comes back from its placeholder, and one that does
// not load is left out with its section kept. Starts stop at the cap.
TEST_F(RestoreFixture, EachTorrentLoadsOnItsOwn) {
  Put("MaxActiveTorrent", 1);
  fs::create_directories(Torrents());
  const storage_test::test_torrent a{{{"a.bin", 40000}}, 16384, 3}, e{{{"e.bin", 20000}}, 16384, 5},
      c{{{"c.bin", 20000}}, 16384, 4};
  storage_test::write_text(Torrents() / "a.torrent", TorrentBytes(a));
  storage_test::write_text(Torrents() / "a.torrent.ResumeData", "d11:file-format21:quill");
  storage_test::write_text(Torrents() / "e.TORRENT", TorrentBytes(e));
  storage_test::write_text(Torrents() / "c.torrent", TorrentBytes(c));  // no section
  storage_test::write_text(Torrents() / "d.torrent", "not a torrent");
  const engine::sha1_hash hash = client_test::FakeTorrentControl::Hash(10);
  const fs::path placeholder = Torrents() / (Hex(hash) + ".Torrent");
  storage_test::write_text(placeholder, std::string(client::kPlaceholderText));

  client::Utf16IniFile ini;
  ini.StartListFile();
  for (const char* name : {"a.torrent", "e.TORRENT", "d.torrent"}) {
    ini.Set(Section(Torrents() / name), u"Status", u"2");
    ini.Set(Section(Torrents() / name), u"Destination", client::AsciiToUtf16(Down()));
  }
  ini.Set(Section(Torrents() / "e.TORRENT"), u"Status", u"9");
  ini.Set(Section(placeholder), u"Status", u"2");
  ini.Set(Section(placeholder), u"Destination", client::AsciiToUtf16(Down()));
  ini.Set(Section(placeholder), u"HasMetadata", u"false");
  ini.Set(Section(placeholder), u"HashInfoTracker", u"http://127.0.0.1:5/announce");
  ASSERT_TRUE(ini.Save(Torrents() / "TorrentQueue.txt"));

  parts.real_load = true;
  auto core = Make();
  core->OnCreate();
  EXPECT_EQ(parts.loaded.size(), 5u);
  ASSERT_EQ(core->List().Count(), 3u);

  client::TorrentItem* loaded_a = Find(*core, L"a.torrent");
  ASSERT_NE(loaded_a, nullptr);
  EXPECT_TRUE(Logged(L"the resume data cannot be read"));
  const FakeTorrent& engine_a = Engine().At(loaded_a->Handle().info_hash());
  EXPECT_EQ(engine_a.resume_data.type(), engine::entry::undefined_t);
  EXPECT_EQ(engine_a.save_path.string(), Down());

  client::TorrentItem* loaded_e = Find(*core, L"e.TORRENT");
  ASSERT_NE(loaded_e, nullptr);
  EXPECT_EQ(loaded_e->Status(), TorrentStatus::Error);

  client::TorrentItem* by_hash = Find(*core, client::Utf8ToWide(placeholder.filename().string()));
  ASSERT_NE(by_hash, nullptr);
  EXPECT_EQ(by_hash->Handle().info_hash(), hash);
  EXPECT_FALSE(Engine().At(hash).metadata);
  ASSERT_EQ(Engine().At(hash).trackers.size(), 1u);
  EXPECT_EQ(Engine().At(hash).trackers[0].url, "http://127.0.0.1:5/announce");

  // The placeholder's name sorts first ("0A..."): it takes the one slot.
  EXPECT_EQ(Started(*core), std::vector<std::wstring>{by_hash->FileName()});
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
  EXPECT_TRUE(Engine().At(loaded_a->Handle().info_hash()).paused);

  core->Shutdown();
  client::Utf16IniFile after;
  ASSERT_TRUE(after.Load(Torrents() / "TorrentQueue.txt"));
  EXPECT_EQ(after.GetString(Section(Torrents() / "d.torrent"), u"Status"), u"2");  // kept
  EXPECT_EQ(after.GetString(Section(Torrents() / "e.TORRENT"), u"Status"), u"4");
  EXPECT_EQ(after.GetString(Section(placeholder), u"HasMetadata"), u"false");
  EXPECT_EQ(after.GetString(Section(Torrents() / "a.torrent"), u"Destination"), client::AsciiToUtf16(Down()));
  EXPECT_FALSE(after.Get(Section(Torrents() / "c.torrent"), u"Status"));
}

// A list file that does not read whole is never written over: it is kept
// aside (a later damage gets a name of its own), what can be read of it is
// restored and written down at once, and an add then keeps the others.
TEST_F(RestoreFixture, ADamagedListFileIsKeptAsideAndWhatCanBeReadIsRestored) {
  Put("ASDMode", 0);
  Put("ASDSingle", Down());
  fs::create_directories(dir / "down");
  fs::create_directories(Torrents());
  const storage_test::test_torrent a{{{"a.bin", 20000}}, 16384, 21}, b{{{"b.bin", 20000}}, 16384, 22},
      n{{{"n.bin", 20000}}, 16384, 23};
  storage_test::write_text(Torrents() / "a.torrent", TorrentBytes(a));
  storage_test::write_text(Torrents() / "b.torrent", TorrentBytes(b));
  client::Utf16IniFile good;
  good.StartListFile();
  for (const char* name : {"a.torrent", "b.torrent"}) {
    const std::u16string section = Section(Torrents() / name);
    for (const auto& [key, value] : std::initializer_list<std::pair<std::u16string, std::u16string>>{
             {u"Priority", u"1"}, {u"Status", u"2"}, {u"Destination", client::AsciiToUtf16(Down())},
             {u"HasMetadata", u"true"}, {u"Downloaded", name[0] == 'a' ? u"1000" : u"2000"}, {u"Uploaded", u"7"},
             {u"BitCometUdpProtocol", u"false"}})
      good.Set(section, key, value);
  }
  const fs::path list_file = Torrents() / "TorrentQueue.txt";
  ASSERT_TRUE(good.Save(list_file));
  const std::string whole = storage_test::read_text(list_file);
  const std::size_t b_at = whole.find(std::string("b\0.\0t\0o\0r\0r\0e\0n\0t\0]", 19));
  const std::size_t uploaded_b = whole.rfind(std::string("U\0p\0l\0o\0a\0d\0e\0d\0", 16));
  ASSERT_NE(b_at, std::string::npos);
  ASSERT_GT(uploaded_b, b_at);

  struct Damage {
    const char* what;
    std::function<void()> make;
    std::vector<std::wstring> restored;
  };
  const auto put = [&](std::string bytes) { return [&, bytes] { storage_test::write_text(list_file, bytes); }; };
  const std::vector<Damage> damages = {
      {"empty", put(""), {}},
      {"random bytes", put("\x13\x9A\xFFz\x01\n[q\x80"), {}},
      {"a bad UTF-16 body", put("\xFF\xFE\x00\xD8[\0x\0]\0\r\0\n\0"), {}},
      {"a directory", [&] { fs::create_directories(list_file / "inside"); }, {}},
      // Cut in b's last line: b still has its destination and totals.
      {"cut at the end", put(whole.substr(0, whole.size() - 7)), {L"a.torrent", L"b.torrent"}},
      // Cut in b's "Uploaded" line, at an odd byte: b is left out, a whole.
      {"cut short", put(whole.substr(0, uploaded_b + 5)), {L"a.torrent"}},
  };
  int aside = 0;
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    fs::remove_all(list_file);
    damage.make();
    {
      ProgramRun run(profile, ui);
      client::MainWindowCore& core = *run.core;
      const client_test::CoreHost& run_host = run.host;
      std::vector<std::wstring> names;
      for (const auto& t : core.List()) names.push_back(t->FileName());
      EXPECT_EQ(names, damage.restored);
      if (client::TorrentItem* loaded_a = Find(core, L"a.torrent")) {
        EXPECT_EQ(loaded_a->Settings().downloadedBase, 1000u);
      }
      if (client::TorrentItem* loaded_b = Find(core, L"b.torrent")) {
        EXPECT_EQ(loaded_b->Settings().downloadedBase, 2000u);
      }
      // Kept aside under a new name each time, and said so.
      const fs::path kept = Torrents() / (aside == 0 ? std::string("TorrentQueue.txt.damaged")
                                                     : "TorrentQueue.txt.damaged." + std::to_string(aside + 1));
      ++aside;
      EXPECT_TRUE(fs::exists(kept)) << kept;
      EXPECT_TRUE(std::any_of(run_host.status.begin(), run_host.status.end(), [&](const std::wstring& line) {
        return line.find(L"kept as " + client::Utf8ToWide(kept.string())) != std::wstring::npos;
      }));
      // What was restored is in the new file at once; an add keeps it.
      storage_test::write_text(dir / "n.torrent", TorrentBytes(n));
      ASSERT_TRUE(core.Adder().AddTorrentFile((dir / "n.torrent").string(), false));
      client::Utf16IniFile now;
      ASSERT_TRUE(now.Load(list_file));
      EXPECT_TRUE(now.HasListSignature());
      for (const std::wstring& name : damage.restored)
        EXPECT_TRUE(now.Get(Section(Torrents() / client::WideToUtf8(name)), u"Destination")) << name;
      EXPECT_TRUE(now.Get(Section(Torrents() / "n.torrent"), u"Destination"));
      core.Shutdown();
    }
    for (const char* file : {"n.torrent", "n.torrent.ResumeData", "n.torrent.FilterData", "n.torrent.log.txt"})
      fs::remove(Torrents() / file);
  }
  // A list file that reads whole is used as it is and not set aside.
  fs::remove_all(list_file);
  ASSERT_TRUE(good.Save(list_file));
  const ProgramRun run(profile, ui);
  EXPECT_EQ(run.core->List().Count(), 2u);
  EXPECT_FALSE(fs::exists(Torrents() / ("TorrentQueue.txt.damaged." + std::to_string(aside + 1))));
}

// A torrent that is added is in the list file before the program ends (a
// crash keeps it), and one removed for good leaves it at once.
TEST_F(RestoreFixture, NewAndRemovedTorrentsReachTheListFileAtOnce) {
  Put("ASDMode", 0);
  Put("ASDSingle", Down());
  fs::create_directories(dir / "down");
  const storage_test::test_torrent t{{{"n.bin", 30000}}, 16384, 6};
  storage_test::write_text(dir / "n.torrent", TorrentBytes(t));
  auto core = Make();
  core->OnCreate();
  ASSERT_TRUE(core->Adder().AddTorrentFile((dir / "n.torrent").string(), false));
  const fs::path copy = Torrents() / "n.torrent";

  client::Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(core->ListFile()));
  EXPECT_EQ(ini.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");
  EXPECT_EQ(ini.GetString(Section(copy), u"Destination"), client::AsciiToUtf16(Down()));
  EXPECT_EQ(ini.GetString(Section(copy), u"Status"), u"2");

  {
    // A run started from the files as they are now has the torrent, running.
    ProgramRun run(profile, ui);
    client::MainWindowCore& next = *run.core;
    ASSERT_EQ(next.List().Count(), 1u);
    EXPECT_TRUE(next.List().First()->IsStarted());
    EXPECT_EQ(run.parts.session->torrents.At(next.List().First()->Handle().info_hash()).save_path.string(), Down());
  }

  ASSERT_TRUE(core->List().Remove(core->List().First(), true));
  EXPECT_FALSE(fs::exists(copy));
  ASSERT_TRUE(ini.Load(core->ListFile()));
  EXPECT_FALSE(ini.Get(Section(copy), u"Destination"));
  EXPECT_EQ(ini.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");
}

// The engine gives no metadata for a torrent that waits for the check of its
// files (just added, or just restarted): its section still says it has
// one, so that the next start reads its .torrent.
struct CheckedLater : ::testing::Test, client_test::TwoRuns {};

TEST_F(CheckedLater, ATorrentWaitingForItsCheckIsWrittenWithItsMetadata) {
  for (const auto state : {engine::queued_for_checking, engine::checking_files, engine::allocating}) {
    FakeTorrent t = Downloading();
    t.metadata = false;
    t.waits_for_check = true;
    t.status.state = state;
    auto item = Running(t);
    client::Utf16IniFile ini;
    ASSERT_TRUE(item->Save(ini, false));
    EXPECT_EQ(ini.GetString(Section(path), u"HasMetadata"), u"true") << state;
    EXPECT_FALSE(ini.Get(Section(path), u"HashInfoTracker"));
    first.torrents.clear();
  }
}

// Store mode on the real server: a new torrent's whole row is written when
// it is added, and the next run restores the store's unfinished torrents,
// one known by its info-hash among them; a row name that would lead out of
// the data folder does not name its files.
struct CoreOnDatabase : RestoreFixture {
  std::optional<store_test::server> server;
  std::unique_ptr<store_test::raw_connection> raw;
  client::RealEngineParts real;

  void SetUp() override {
    RestoreFixture::SetUp();
    store::mysql::set_client_library_path("libmariadb.so.3");
    server = store_test::server_from_environment();
    if (!server) GTEST_FAIL() << "no MariaDB server (QF_MYSQL_HOST/QF_MYSQL_PORT/QF_MYSQL_USER unset); run ./test.sh";
    raw = std::make_unique<store_test::raw_connection>(*server);
    ASSERT_TRUE(raw->ok()) << raw->error();
    for (const char* table : {"torrent_data", "resume_data", "piece_selection", "trackers", "nodes"})
      ASSERT_TRUE(raw->execute(std::string("TRUNCATE TABLE ") + table)) << raw->error();
    Put("Use Database", 1);
    Put("Database URL", server->host);
    Put("Database Port", server->port);
    Put("Database User", server->user);
    Put("Database Password", server->password);
    Put("ASDMode", 0);
    Put("ASDSingle", Down());
    fs::create_directories(dir / "down");
  }
  void Connect(client_test::FakeEngineParts& p) {
    p.connect = [this](const client::StartupValues& v) { return real.ConnectStore(v); };
  }
  std::string Column(const std::string& column, const engine::sha1_hash& hash) {
    return raw->value("SELECT " + column + " FROM torrent_data WHERE info_hash='" + Hex(hash) + "'").value_or("NULL");
  }
};

TEST_F(CoreOnDatabase, AddedTorrentsAreStoredAtOnceAndRestored) {
  const storage_test::test_torrent t{{{"s.bin", 30000}}, 16384, 7};
  storage_test::write_text(dir / "s.torrent", TorrentBytes(t));
  engine::torrent_metainfo info = t.info;
  info.build_torrent_dictionary();
  const engine::sha1_hash file_hash = info.info_hash();
  const engine::sha1_hash hash_only = client_test::FakeTorrentControl::Hash(11);
  Connect(parts);
  {
    auto core = Make();
    core->OnCreate();
    ASSERT_NE(core->Database(), nullptr);
    ASSERT_TRUE(core->Adder().AddTorrentFile((dir / "s.torrent").string(), false));
    ASSERT_TRUE(core->Adder().AddTorrentByHash(client::Utf8ToWide(Hex(hash_only)), L"http://127.0.0.1:5/announce",
                                               client::Utf8ToWide(Down())));
    // Before the run ends: both started, so a crash restarts them.
    EXPECT_EQ(Column("status", file_hash), "2");
    EXPECT_EQ(Column("status", hash_only), "2");
    EXPECT_EQ(Column("destination", file_hash), Down());
    EXPECT_EQ(Column("name", file_hash), "s.bin");
  }
  ASSERT_TRUE(raw->execute("UPDATE torrent_data SET name='../../evil' WHERE info_hash='" + Hex(hash_only) + "'"));

  client_test::FakeEngineParts next_parts;
  next_parts.real_load = true;
  Connect(next_parts);
  client_test::CoreHost next_host;
  client::MainWindowCore next(profile, next_host, next_parts, ui);
  next.OnCreate();
  ASSERT_EQ(next.List().Count(), 2u);
  std::vector<std::wstring> paths;
  for (const auto& torrent : next.List()) {
    EXPECT_TRUE(torrent->IsStarted());
    paths.push_back(torrent->Path());
  }
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::wstring>{client::Utf8ToWide((Torrents() / (Hex(hash_only) + ".torrent")).string()),
                                              client::Utf8ToWide((Torrents() / "s.bin").string())}));
  client_test::FakeTorrentControl& engine = next_parts.session->torrents;
  EXPECT_TRUE(engine.At(file_hash).metadata);
  EXPECT_EQ(engine.At(file_hash).save_path.string(), Down());
  EXPECT_FALSE(engine.At(hash_only).metadata);
  ASSERT_EQ(engine.At(hash_only).trackers.size(), 1u);
  EXPECT_EQ(engine.At(hash_only).trackers[0].url, "http://127.0.0.1:5/announce");
}

}  // namespace
