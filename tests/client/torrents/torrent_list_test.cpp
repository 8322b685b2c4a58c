#include "client/torrents/CTorrentListe.h"

#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "tests/engine/storage/storage_test_support.h"
#include "torrent_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <system_error>

using client::CTorrentListe;
using client::TorrentItem;
using client::TorrentStatus;
using client::Utf16IniFile;
using namespace client_test;

namespace {

class List : public ::testing::Test {
 protected:
  TorrentItem* Add(int n, FakeTorrent t = {}) {
    auto item = MakeTorrent(fake, events, n, TorrentStatus::Queued, std::move(t));
    TorrentItem* raw = item.get();
    list.Add(std::move(item));
    return raw;
  }
  std::vector<TorrentItem*> Walk() {
    std::vector<TorrentItem*> out;
    for (TorrentItem* t = list.First(); t; t = list.Next()) out.push_back(t);
    return out;
  }
  FakeTorrent Running() {
    FakeTorrent t;
    t.paused = false;
    return t;
  }

  FakeTorrentControl fake;
  RecordingEvents events;
  CTorrentListe list;
};

TEST_F(List, RemovingClosesUpInOrderAndDestroysTheWindow) {
  TorrentItem* first = Add(1);
  TorrentItem* second = Add(2);
  TorrentItem* third = Add(3);
  RecordingView view;
  second->SetView(&view);
  EXPECT_EQ(Walk(), (std::vector<TorrentItem*>{first, second, third}));

  EXPECT_TRUE(list.Remove(second, false));
  EXPECT_EQ(view.destroyed, 1);
  EXPECT_EQ(Walk(), (std::vector<TorrentItem*>{first, third}));
  EXPECT_FALSE(list.Contains(second));
  EXPECT_FALSE(list.Remove(second, false));

  // Removing the current torrent in a walk goes on with the next one.
  TorrentItem* fourth = Add(4);
  EXPECT_EQ(list.First(), first);
  EXPECT_TRUE(list.Remove(first, false));
  EXPECT_EQ(list.Next(), third);
  EXPECT_EQ(list.Next(), fourth);
  EXPECT_EQ(list.Next(), nullptr);
}

TEST_F(List, RemovingWithFilesDeletesTheTorrentsFiles) {
  storage_test::temp_dir dir;
  const std::string path = dir / "x.torrent";
  storage_test::write_text(path, "d");
  storage_test::write_text(path + ".ResumeData", "d");
  auto item = std::make_unique<TorrentItem>(std::wstring(path.begin(), path.end()), L"x", events);
  TorrentItem* raw = item.get();
  list.Add(std::move(item));
  EXPECT_TRUE(list.Remove(raw, true));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".ResumeData"));
}

TEST_F(List, FindByHash) {
  list.Add(std::make_unique<TorrentItem>(L"/no/handle.torrent", L"none", events));
  Add(1);
  TorrentItem* second = Add(2);
  EXPECT_EQ(list.FindByHash(FakeTorrentControl::Hash(2)), second);
  EXPECT_EQ(list.FindByHash(FakeTorrentControl::Hash(9)), nullptr);
  // A torrent without an engine torrent has no info-hash to match.
  EXPECT_EQ(list.FindByHash(engine::sha1_hash()), nullptr);
}

TEST_F(List, PauseAllGoesOnPastATorrentTheEngineLost) {
  Add(1, Running());
  FakeTorrent gone = Running();
  gone.gone = true;
  Add(2, gone);
  Add(3, Running());
  EXPECT_TRUE(list.PauseAll());
  EXPECT_TRUE(fake.At(FakeTorrentControl::Hash(1)).paused);
  EXPECT_TRUE(fake.At(FakeTorrentControl::Hash(3)).paused);
}

TEST_F(List, ReannounceAllAsksForRunningDownloadsOnly) {
  FakeTorrent failing = Running();
  failing.failing = {"force_reannounce"};
  Add(1, failing);
  Add(2);  // paused
  FakeTorrent seed = Running();
  seed.seed = true;
  Add(3, seed);
  EXPECT_FALSE(list.ReannounceAll());
  Add(4, Running());
  EXPECT_TRUE(list.ReannounceAll());
  EXPECT_EQ(fake.At(FakeTorrentControl::Hash(4)).reannounces, 1);
  EXPECT_EQ(fake.At(FakeTorrentControl::Hash(2)).reannounces, 0);
  EXPECT_EQ(fake.At(FakeTorrentControl::Hash(3)).reannounces, 0);
}

class ListFile : public List {
 protected:
  std::u16string Get(const std::wstring& path, std::u16string_view key) {
    const std::u16string section = client::EscapeSectionName(std::u16string(path.begin(), path.end()));
    return ini.GetString(section, key, u"<none>");
  }
  void ExpectKeys(const std::wstring& path, const std::vector<std::pair<std::u16string, std::u16string>>& keys) {
    for (const auto& [key, value] : keys)
      EXPECT_EQ(Get(path, key), value) << std::string(key.begin(), key.end());
  }
  storage_test::temp_dir dir;
  std::filesystem::path file = dir.path() / "TorrentQueue.txt";
  Utf16IniFile ini;
};

TEST_F(ListFile, SaveWritesTheSignatureThenEveryTorrentInOrder) {
  auto odd = std::make_unique<TorrentItem>(L"/data/[a]=b.torrent", L"odd", events);
  odd->SetSession(&fake);
  odd->Attach(fake.Put(FakeTorrentControl::Hash(7), Running()));
  odd->SetPriority(client::TorrentPriority::High);
  odd->SetStatus(TorrentStatus::Seeding);
  list.Add(std::move(odd));
  FakeTorrent gone;
  gone.gone = true;
  Add(1, gone);  // cannot be written: skipped
  FakeTorrent t = Running();
  t.status.total_payload_download = 50;
  t.status.total_payload_upload = 7;
  TorrentItem* item = Add(2, t);
  item->SetEarlierTotals(0, 1000);
  client_test::ChangeGoal(*item, [](auto& goal) { goal.ratio = 1.5; });
  item->SetBitCometUdp(true);

  ASSERT_TRUE(list.Save(file));
  const std::string bytes = storage_test::read_text(file);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  const std::string head = "[Quillfern]\r\nTarrow=Velmorathine\r\n[/data/<a>*b.torrent]\r\n";
  std::string head16;
  for (char c : head) head16 += {c, '\0'};
  EXPECT_EQ(bytes.substr(2, head16.size()), head16);

  ASSERT_TRUE(ini.Load(file));
  // Paused first, so the seed is stored as a seed.
  EXPECT_TRUE(fake.At(FakeTorrentControl::Hash(7)).paused);
  EXPECT_EQ(Get(L"/data/[a]=b.torrent", u"Status"), u"3");
  EXPECT_EQ(Get(L"/data/[a]=b.torrent", u"Priority"), u"2");
  EXPECT_EQ(Get(client_test::TorrentPath(1), u"Priority"), u"<none>");
  ExpectKeys(client_test::TorrentPath(2), {{u"Status", u"1"},
                                           {u"Destination", u"/downloads/"},
                                           {u"Done", u"false"},
                                           {u"SeedingRatio", u"1.500000"},
                                           {u"Seeding", u"4294967295"},
                                           {u"Downloaded", u"1050"},
                                           {u"Uploaded", u"7"},
                                           {u"HasMetadata", u"true"},
                                           {u"BitCometUdpProtocol", u"true"}});
}

TEST_F(ListFile, ATorrentKnownByHashOnlyStoresItsTracker) {
  FakeTorrent t;
  t.metadata = false;
  t.trackers = {{"http://tracker.test/announce", 2}};
  Add(1, t)->SetEarlierTotals(9, 0);
  ASSERT_TRUE(list.Save(file));
  ASSERT_TRUE(ini.Load(file));
  ExpectKeys(client_test::TorrentPath(1), {{u"HasMetadata", u"false"},
                                           {u"HashInfoTracker", u"http://tracker.test/announce"},
                                           {u"HashInfoTier", u"2"},
                                           {u"Uploaded", u"9"},
                                           {u"BitCometUdpProtocol", u"<none>"}});
}

TEST_F(ListFile, APeriodicSaveUpdatesUnfinishedTorrentsInPlace) {
  TorrentItem* downloading = Add(1, Running());
  TorrentItem* seeding = Add(2, Running());
  seeding->SetStatus(TorrentStatus::Seeding);
  ASSERT_TRUE(list.Save(file));
  ASSERT_TRUE(ini.Load(file));
  ASSERT_TRUE(ini.Set(u"Other", u"Key", u"kept"));
  ASSERT_TRUE(ini.Save(file));

  fake.At(FakeTorrentControl::Hash(1)).paused = false;
  fake.At(FakeTorrentControl::Hash(2)).paused = false;
  downloading->SetPriority(client::TorrentPriority::Low);
  seeding->SetPriority(client::TorrentPriority::Low);
  ASSERT_TRUE(list.SaveUnfinished(file));
  ASSERT_TRUE(ini.Load(file));
  EXPECT_EQ(Get(client_test::TorrentPath(1), u"Priority"), u"0");
  EXPECT_EQ(Get(client_test::TorrentPath(2), u"Priority"), u"1");
  EXPECT_EQ(ini.GetString(u"Other", u"Key"), u"kept");
  EXPECT_EQ(ini.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");
  // They keep running.
  EXPECT_FALSE(fake.At(FakeTorrentControl::Hash(1)).paused);
}

TEST_F(ListFile, ATorrentThatCannotBeSavedIsNamedWithTheReasonAndTheOthersAreSaved) {
  auto add = [&](int n, FakeTorrent t) {
    const std::wstring path = client::Utf8ToWide((dir.path() / ("t" + std::to_string(n) + ".torrent")).string());
    auto item = std::make_unique<TorrentItem>(path, L"t", events);
    item->SetSession(&fake);
    t.resume_data = engine::entry(engine::entry::dictionary_t);
    t.resume_data["file-format"] = std::string("quillfern resume file");
    item->Attach(fake.Put(FakeTorrentControl::Hash(n), std::move(t)));
    list.Add(std::move(item));
    return path;
  };
  const std::wstring first = add(1, Running());
  // A folder where its resume data goes: the file cannot be put in place.
  storage_test::write_text(dir.path() / "t1.torrent.ResumeData" / "inside", "x");
  FakeTorrent failing = Running();
  failing.failing = {"save_path"};  // the engine fails it
  add(2, failing);
  const std::wstring third = add(3, Running());

  for (const bool periodic : {false, true}) {
    events.log.clear();
    ASSERT_TRUE(periodic ? list.SaveUnfinished(file) : list.Save(file));
    ASSERT_EQ(events.log.size(), 2u);
    EXPECT_EQ(events.log[0].rfind(L"cannot save t2.torrent: ", 0), 0u) << events.log[0];
    EXPECT_GT(events.log[0].size(), std::wstring(L"cannot save t2.torrent: ").size());
    EXPECT_EQ(events.log[1], L"cannot save t1.torrent: cannot write the resume data (" +
                                 client::Utf8ToWide(std::generic_category().message(EISDIR)) + L")");
    ASSERT_TRUE(ini.Load(file));
    EXPECT_EQ(Get(first, u"HasMetadata"), u"true");
    EXPECT_EQ(Get(third, u"HasMetadata"), u"true");
    EXPECT_EQ(storage_test::read_text(dir.path() / "t3.torrent.ResumeData"), "d11:file-format21:quillfern resume filee");
  }
}

TEST_F(ListFile, AFolderInItsPlaceIsKeptAsideAndTheListWritten) {
  Add(1);
  // A folder where the file should be: it is kept aside as it is, never
  // written over, and the list is written in its place.
  storage_test::write_text(file / "inside", "old");
  std::vector<std::wstring> log;
  EXPECT_TRUE(list.Save(file, [&](const std::wstring& line) { log.push_back(line); }));
  std::filesystem::path aside = file;
  aside += ".damaged";
  EXPECT_EQ(storage_test::read_text(aside / "inside"), "old");
  EXPECT_EQ(log, std::vector<std::wstring>{L"the list file was damaged: kept as " + client::Utf8ToWide(aside.string())});
  client::Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(file));
  EXPECT_TRUE(ini.HasListSignature());
  EXPECT_TRUE(list.SaveUnfinished(file));

  // Where nothing can be written, that is reported and the file there left
  // as it was.
  const std::filesystem::path under_a_file = file / "TorrentQueue.txt";
  EXPECT_FALSE(list.Save(under_a_file));
  EXPECT_FALSE(list.SaveUnfinished(under_a_file));
  EXPECT_TRUE(ini.Load(file));
  EXPECT_TRUE(ini.HasListSignature());
}

}  // namespace
