// What the torrents tell the main window arrives later, on the GUI thread,
// naming the torrent by address and info-hash: a stop queued behind the
// removal of its torrent finds nothing and is ignored. Finished downloads
// go to "Downloads.log.txt".

#include "client/app/main_window_core.h"
#include "fake_engine_parts.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct QueueingHost : client::MainWindowHost {
  std::vector<std::function<void()>> posted;
  int rows_changed = 0;
  int removals_waiting = 0;
  std::vector<std::wstring> status;
  void PostToGui(std::function<void()> work) override { posted.push_back(std::move(work)); }
  void StatusTextChanged(const std::wstring& text) override { status.push_back(text); }
  void SetCaption(const std::wstring&) override {}
  bool CreateTorrentRow(client::TorrentItem&) override { return true; }
  void RowsChanged() override { ++rows_changed; }
  std::optional<client::SaveFolderChoice> AskSaveFolder(const client::SaveFolderRequest&) override {
    return std::nullopt;
  }
  void RemovalsWaiting() override { ++removals_waiting; }
  void RunPosted() {
    auto work = std::move(posted);
    posted.clear();
    for (auto& w : work) w();
  }
};

class MainWindowEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
    profile.WriteProfileInt("Configuration", "DHTPort", 0);
    profile.WriteProfileInt("Configuration", "MaxActiveTorrent", 1);
    core = std::make_unique<client::MainWindowCore>(profile, host, parts, ui);
    core->OnCreate();
    ASSERT_NE(parts.session, nullptr);
  }
  client::TorrentItem* Add(int n, bool running) {
    client_test::FakeTorrentControl& fake = parts.session->torrents;
    auto item = std::make_unique<client::TorrentItem>(L"/none/t" + std::to_wstring(n) + L".torrent", L"t", *core);
    item->SetSession(&fake);
    client_test::FakeTorrent engine;
    engine.paused = !running;
    item->Attach(fake.Put(client_test::FakeTorrentControl::Hash(n), engine));
    if (running) item->Start(false);
    item->SetStatus(running ? client::TorrentStatus::Downloading : client::TorrentStatus::Queued);
    client::TorrentItem* raw = item.get();
    core->List().Add(std::move(item));
    return raw;
  }

  client_test::temp_folder dir{"qf_events_"};
  platform::profile profile{dir / "Quillfern.ini"};
  QueueingHost host;
  client_test::FakeEngineParts parts;
  client::ScriptedUiServices ui;
  std::unique_ptr<client::MainWindowCore> core;
};

TEST_F(MainWindowEvents, AStopQueuedBehindTheRemovalOfItsTorrentIsIgnored) {
  client::TorrentItem* running = Add(1, true);
  client::TorrentItem* queued = Add(2, false);
  core->Queue().OnTorrentStarted();
  running->RequestRemoval();
  running->UserPause();  // posts its stop behind the removal
  EXPECT_EQ(core->List().Count(), 2u);  // nothing happens during the calls
  ASSERT_EQ(host.posted.size(), 2u);
  host.RunPosted();
  EXPECT_EQ(core->List().Count(), 1u);
  EXPECT_EQ(host.rows_changed, 1);
  // The engine dropped it at once: the slot went to the queued torrent.
  EXPECT_EQ(host.removals_waiting, 0);
  EXPECT_FALSE(core->RemovalsPending());
  EXPECT_TRUE(queued->IsActive());
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
}

TEST_F(MainWindowEvents, ARemovalWaitsForTheEngineThroughTheHost) {
  client::TorrentItem* running = Add(1, true);
  parts.session->torrents.At(client_test::FakeTorrentControl::Hash(1)).removal_polls = 2;
  running->RequestRemoval();
  host.RunPosted();
  EXPECT_EQ(host.removals_waiting, 1);
  EXPECT_TRUE(core->RemovalsPending());
  EXPECT_FALSE(core->PollRemovals());
}

TEST_F(MainWindowEvents, LogLinesFromOtherThreadsArriveLater) {
  core->PostLogLine(L"from a worker");
  EXPECT_EQ(core->StatusText().find(L"from a worker"), std::wstring::npos);
  host.RunPosted();
  EXPECT_NE(core->StatusText().find(L" - from a worker"), std::wstring::npos);
}

TEST_F(MainWindowEvents, FinishedDownloadsAreLoggedInFileMode) {
  core->SetClock([] { return std::time_t(0); });
  core->AppendDownloadsLog(L"Big Buck Bunny");
  core->AppendDownloadsLog(L"Sintel");
  const std::string bytes = client_test::temp_folder::read(dir / "Torrents" / "Downloads.log.txt");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  // Each line: the stamp, " - ", the name, CR LF, in UTF-16LE.
  std::u16string text(reinterpret_cast<const char16_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  EXPECT_NE(text.find(u" - Big Buck Bunny\r\n"), std::u16string::npos);
  EXPECT_TRUE(text.ends_with(u" - Sintel\r\n"));
  EXPECT_EQ(text.find(u"\xFEFF", 1), std::u16string::npos);
}

}  // namespace
