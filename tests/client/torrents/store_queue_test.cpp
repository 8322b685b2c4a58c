// The queue of what waits for the store's server, alone: what it logs, the
// order in which removals are carried out, and the waiting file it keeps
// between runs.

#include "client/torrents/store_queue.h"

#include "client/base/wide_text.h"
#include "client/files/utf16_ini_file.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

using client::StoreQueue;
using client::Utf16IniFile;

namespace {

const std::string kA = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
const std::string kB = "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB";
const std::string kC = "0123456789ABCDEF0123456789ABCDEF01234567";

class WaitingQueue : public ::testing::Test {
 protected:
  // Fills the list-file section of a torrent of this run, as a torrent
  // saves itself.
  bool Section(const std::string& hash, Utf16IniFile& list, std::wstring& path) {
    if (hash == kB) return false;  // not in the list any more
    path = client::Utf8ToWide((folder.path() / ("[x] " + hash.substr(0, 3) + ".torrent")).string());
    const std::u16string section = client::EscapeSectionName(client::WideToUtf16(path));
    list.Set(section, u"Priority", u"2");
    list.Set(section, u"Destination", u"/down/");
    return true;
  }
  bool Write(StoreQueue& queue) {
    return queue.Write(file, [this](const std::string& hash, Utf16IniFile& list, std::wstring& path) {
      return Section(hash, list, path);
    });
  }

  std::vector<std::wstring> log;
  StoreQueue queue{[this](const std::wstring& line) { log.push_back(line); }};
  client_test::temp_folder folder{"qf_store_queue_"};
  std::filesystem::path file = folder.path() / std::string(client::kWaitingFileName);
};

TEST_F(WaitingQueue, ATorrentWaitsOnceAndIsLoggedBackInTheStore) {
  queue.SaveFailed(kA, L"a.torrent", L"Can't connect");
  queue.SaveFailed(kA, L"a.torrent", L"Can't connect");
  EXPECT_TRUE(queue.SaveWaits(kA));
  EXPECT_EQ(log, std::vector<std::wstring>{L"a.torrent waits for the store: Can't connect"});
  queue.Saved(kA, L"a.torrent");
  EXPECT_FALSE(queue.SaveWaits(kA));
  EXPECT_EQ(log.back(), L"a.torrent is in the store again");
  // A save that never waited says nothing.
  queue.Saved(kB, L"b.torrent");
  EXPECT_EQ(log.size(), 2u);
  EXPECT_TRUE(queue.Empty());
}

TEST_F(WaitingQueue, RemovalsAreCarriedOutInTheirOrderOnceTheServerAnswers) {
  queue.SaveFailed(kA, L"a.torrent", L"");
  queue.RemovalWaits(kA, L"a.torrent");
  EXPECT_FALSE(queue.SaveWaits(kA));  // removed: nothing of it is written any more
  queue.RemovalWaits(kB, L"b.torrent");
  queue.RemovalWaits(kC, L"c.torrent");
  // kC is added again and saved: its removal no longer applies.
  queue.Saved(kC, L"c.torrent");
  EXPECT_FALSE(queue.RemovalWaits(kC));
  log.clear();

  std::vector<std::string> finished;
  bool away = true;
  const StoreQueue::Finish finish = [&](const std::string& hash, std::wstring& error) {
    if (away) {
      error = L"server has gone away";
      return false;
    }
    finished.push_back(hash);
    return true;
  };
  EXPECT_FALSE(queue.CarryOutRemovals(finish));
  EXPECT_EQ(log, (std::vector<std::wstring>{L"the removal of a.torrent waits for the store: server has gone away",
                                            L"the removal of b.torrent waits for the store"}));
  EXPECT_FALSE(queue.CarryOutRemovals(finish));
  EXPECT_EQ(log.size(), 2u);  // said once
  away = false;
  EXPECT_TRUE(queue.CarryOutRemovals(finish));
  EXPECT_EQ(finished, (std::vector<std::string>{kA, kB}));
  EXPECT_EQ(log.back(), L"the removal of b.torrent reached the store");
  EXPECT_EQ(log.size(), 4u);
  EXPECT_TRUE(queue.Empty());

  // One carried out at once is not logged at all.
  log.clear();
  queue.RemovalWaits(kA, L"a.torrent");
  EXPECT_TRUE(queue.CarryOutRemovals(finish));
  EXPECT_TRUE(log.empty());
}

TEST_F(WaitingQueue, WhatWaitsAtTheEndIsReadBackAtTheNextStart) {
  queue.SaveFailed(kA, L"a.torrent", L"");
  queue.SaveFailed(kB, L"b.torrent", L"");  // gone from the list meanwhile
  queue.RemovalWaits(kC, L"c [1].torrent");
  ASSERT_TRUE(Write(queue));

  // The file has the list file's format: the signature, a section per
  // torrent, the removals.
  Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(file));
  EXPECT_TRUE(ini.HasListSignature());
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::u16string>{u"Quillfern", client::AsciiToUtf16(kA), u"Removals"}));
  EXPECT_EQ(ini.GetString(client::AsciiToUtf16(kA), u"Priority"), u"2");
  EXPECT_EQ(ini.GetString(u"Removals", client::AsciiToUtf16(kC)), u"c [1].torrent");

  std::vector<std::wstring> next_log;
  StoreQueue next([&](const std::wstring& line) { next_log.push_back(line); });
  ASSERT_TRUE(next.Read(file));
  EXPECT_TRUE(next.RemovalWaits(kC));
  ASSERT_EQ(next.Kept().size(), 1u);
  const client::KeptTorrent* kept = next.FindKept(kA);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->path, client::Utf8ToWide((folder.path() / "[x] AAA.torrent").string()));
  // The section as the list file names it (by its path, escaped).
  const std::u16string section = client::EscapeSectionName(client::WideToUtf16(kept->path));
  EXPECT_EQ(kept->section.GetString(section, u"Destination"), u"/down/");
  EXPECT_FALSE(kept->section.Get(section, u"Path").has_value());

  // The removal that waited is logged when the store takes it.
  EXPECT_TRUE(next.CarryOutRemovals([](const std::string&, std::wstring&) { return true; }));
  EXPECT_EQ(next_log, std::vector<std::wstring>{L"the removal of c [1].torrent reached the store"});

  // Not loaded in this run (its server away): written back as it was.
  ASSERT_TRUE(next.Write(file, {}));
  StoreQueue third(nullptr);
  ASSERT_TRUE(third.Read(file));
  ASSERT_NE(third.FindKept(kA), nullptr);
  EXPECT_FALSE(third.RemovalWaits(kC));

  // Loaded: it waits as one of this run's, and goes once saved; with
  // nothing left the file goes.
  third.Loaded(kA, L"AAA.torrent");
  EXPECT_TRUE(third.Kept().empty());
  EXPECT_TRUE(third.SaveWaits(kA));
  third.Saved(kA, L"AAA.torrent");
  ASSERT_TRUE(third.Write(file, {}));
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(WaitingQueue, ADamagedWaitingFileIsSetAsideAndWhatCouldBeReadWaits) {
  queue.SaveFailed(kA, L"a.torrent", L"");
  queue.RemovalWaits(kC, L"c.torrent");
  ASSERT_TRUE(Write(queue));
  // Cut short in its last line.
  std::string bytes;
  {
    std::ifstream in(file, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 6);

  log.clear();
  StoreQueue next([&](const std::wstring& line) { log.push_back(line); });
  EXPECT_TRUE(next.Read(file));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(L"damaged"), std::wstring::npos);
  EXPECT_TRUE(std::filesystem::exists(file.string() + ".damaged"));
  EXPECT_NE(next.FindKept(kA), nullptr);
  // The next write starts a file of its own.
  ASSERT_TRUE(next.Write(file, {}));
  Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(file));
  EXPECT_TRUE(ini.HasListSignature());

  // A missing file: nothing waits.
  std::filesystem::remove(file);
  StoreQueue fresh(nullptr);
  EXPECT_TRUE(fresh.Read(file));
  EXPECT_TRUE(fresh.Empty());
}

}  // namespace
