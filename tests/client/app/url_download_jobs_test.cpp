// The main window's network jobs: the private download folder, the link
// and update-check routes of the core, and their end at shut-down.

#include "client/app/main_window_core.h"
#include "client/net/url_download_jobs.h"
#include "fake_engine_parts.h"
#include "platform/profile.h"
#include "tests/client/net/http_test_server.h"
#include "tests/client/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <future>
#include <mutex>

namespace fs = std::filesystem;
using client_test::http_test_server;

namespace {

TEST(UrlDownloadJobs, PrivateFolderMadeOnceAndRemovedAtClose) {
  client::UrlDownloadJobs jobs;
  const fs::path folder = jobs.Folder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder, jobs.Folder());
  EXPECT_EQ(folder.parent_path(), fs::temp_directory_path());
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, ::getuid());
  std::ofstream(folder / "left.torrent") << "x";
  fs::create_directory(folder / "sub");

  jobs.Close();
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_TRUE(jobs.Closed());
  EXPECT_EQ(jobs.Workers(), nullptr);
  EXPECT_TRUE(jobs.Folder().empty());  // none after the close
}

// The core on stand-in engine parts, with a host that keeps posted work
// for the test thread.
struct Host : client::MainWindowHost {
  std::mutex mutex;
  std::vector<std::function<void()>> posted;
  std::vector<std::wstring> status;
  void PostToGui(std::function<void()> work) override {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(std::move(work));
  }
  // Runs what was posted so far, on the calling thread.
  std::size_t RunPosted() {
    std::vector<std::function<void()>> work;
    {
      std::lock_guard<std::mutex> lock(mutex);
      work.swap(posted);
    }
    for (auto& w : work) w();
    return work.size();
  }
  bool Logged(std::wstring_view tail) {
    RunPosted();
    return std::any_of(status.begin(), status.end(), [&](const std::wstring& s) { return s.ends_with(tail); });
  }
  void StatusTextChanged(const std::wstring& text) override { status.push_back(text); }
  void SetCaption(const std::wstring&) override {}
  bool CreateTorrentRow(client::TorrentItem&) override { return true; }
  void RowsChanged() override {}
  std::optional<client::SaveFolderChoice> AskSaveFolder(const client::SaveFolderRequest&) override {
    return std::nullopt;
  }
};

struct CoreNetJobs : ::testing::Test {
  client_test::temp_folder dir{"qf_netjobs_"};
  platform::profile profile{dir / "Quillfern.ini"};
  Host host;
  client_test::FakeEngineParts parts;
  client::ScriptedUiServices ui;
  std::unique_ptr<client::MainWindowCore> core;

  void SetUp() override {
    profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
    profile.WriteProfileInt("Configuration", "DHTPort", 0);
  }
  void Make() {
    core = std::make_unique<client::MainWindowCore>(profile, host, parts, ui);
    core->SetClock([] { return std::time_t(0); });
  }
};

TEST_F(CoreNetJobs, UpdateCheckAsksTheProfilesUrlAndLogsTheAnswer) {
  http_test_server server([](const std::string& path, http_test_server::connection& c) {
    if (path == "/qf/currentversion.txt") c.reply("200 OK", "", "1.3.0.61\nNew chart\n");
  });
  profile.WriteProfileString("Configuration", "Update URL", server.url("/qf/currentversion.txt"));
  Make();
  core->OnCreate();
  core->CheckForUpdate();
  EXPECT_TRUE(client_test::wait_until([&] { return host.Logged(L"Quillfern Version 1.3.0 Build 61 is available. (New chart)"); }));
  ASSERT_EQ(server.requests().size(), 1u);
}

TEST_F(CoreNetJobs, LinksAreTakenOnceTheWindowIsMadeAndEndAtShutDown) {
  std::atomic<bool> client_closed{false};
  http_test_server server([&](const std::string& path, http_test_server::connection& c) {
    if (path == "/fine.torrent") {
      c.reply("200 OK", "", "not bencoded");
      return;
    }
    c.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(1000, 'x'));
    client_closed = c.wait_closed();  // the rest never comes
  });
  Make();
  EXPECT_FALSE(core->OpenTorrentUrl(server.url("/early.torrent")));  // no window yet
  core->OnCreate();
  const fs::path folder = core->Adder().download_folder;
  ASSERT_TRUE(fs::is_directory(folder));
  EXPECT_NE(folder, fs::temp_directory_path());

  // A finished download is handed to the adder, which deletes it when done.
  ASSERT_TRUE(core->OpenTorrentUrl(server.url("/fine.torrent")));
  ASSERT_TRUE(client_test::wait_until([&] { return host.Logged(L"Download finished, 0 KBytes"); }));
  ASSERT_TRUE(client_test::wait_until([&] {
    host.RunPosted();
    return fs::directory_iterator(folder) == fs::directory_iterator();
  }));

  // A stalled one is aborted by the shut-down, which does not wait for the
  // server; nothing is posted afterwards, and the folder goes.
  ASSERT_TRUE(core->OpenTorrentUrl(server.url("/stalled.torrent")));
  ASSERT_TRUE(client_test::wait_until([&] { return host.Logged(L"Downloading ... 1000/100000 bytes"); }));
  auto closing = std::async(std::launch::async, [&] { core->Shutdown(); });
  ASSERT_EQ(closing.wait_for(test_support::default_deadline), std::future_status::ready);
  host.RunPosted();
  EXPECT_EQ(host.RunPosted(), 0u);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(core->OpenTorrentUrl(server.url("/late.torrent")));
  core->CheckForUpdate();  // nothing runs
  EXPECT_TRUE(client_test::wait_until([&] { return client_closed.load(); }));
  EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
