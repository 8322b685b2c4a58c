#include "client/common/tick.h"
#include "client/app/main_window_core.h"
#include "client/files/utf16_ini_file.h"
#include "client/base/wide_text.h"
#include "core_test_support.h"
#include "dht/dht_service.h"
#include "engine/net/socket.h"
#include "fake_engine_parts.h"
#include "platform/profile.h"
#include "tests/support/wait.h"
#include "tests/client/torrents/torrent_test_support.h"
#include "tests/client/net/upnp_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using client_test::FakeEngineParts;

namespace {

using client_test::CoreFixture;

TEST_F(CoreFixture, StartSessionOrderAndApplySettingsOrder) {
  Put("MaxUploadsPerTorrent", 3);
  Put("MaxActiveTorrent", 5);
  Put("MaxConnections", 77);
  Put("MaxUploadRate", 1000);
  auto core = Make();
  core->OnCreate();
  ASSERT_NE(core->Session(), nullptr);
  const std::vector<std::string> expected = {
      "make_session -QF130n-",  // 1, 3, 0, 55
      "http Quillfern 20 3 1048576",
      "ip_filter",
      "network 1500-1504",
      "upload 2048",
      "download -1",
      "severity 1",
      "connections 77",
      "uploads 15",
      "disable_extensions",
      "extension 0",
      "extension 3",
      "extension 1",
      "extension 2",
      "half_open 7",
  };
  EXPECT_EQ(parts.log, expected);
  EXPECT_EQ(core->SteeredUploadLimit(), 4096);

  // Again after the options dialog.
  parts.log.clear();
  Put("MaxUploadRate", 20000);
  Put("MinPort", 1600);
  core->LoadSettings();
  core->ApplySettings();
  EXPECT_EQ(parts.log.at(0), "network 1600-1504");
  EXPECT_EQ(parts.log.at(1), "upload 20000");
  EXPECT_EQ(core->SteeredUploadLimit(), 15800);

  // A round the network step stops applies no limits.
  parts.network->ok = false;
  parts.log.clear();
  core->ApplySettings();
  EXPECT_EQ(parts.log, std::vector<std::string>{"network 1600-1504"});
}

TEST_F(CoreFixture, WithoutThePlatformFlagNoHalfOpenLimit) {
  auto core = Make(false);
  core->OnCreate();
  EXPECT_EQ(LimitCalls().back(), "extension 2");
}

TEST_F(CoreFixture, UploadSlotsSaturate) {
  Put("MaxUploadsPerTorrent", 100000);
  Put("MaxActiveTorrent", 100000);
  auto core = Make();
  core->OnCreate();
  EXPECT_NE(std::find(parts.log.begin(), parts.log.end(), "uploads 2147483647"), parts.log.end());
}

TEST_F(CoreFixture, FailedEngineStartLeavesNothingBehind) {
  parts.setup = [](client_test::RecordingSession& s) { s.throw_on_http = true; };
  auto core = Make();
  core->OnCreate();
  EXPECT_EQ(core->Session(), nullptr);
  EXPECT_EQ(core->IpFilter(), nullptr);
  EXPECT_EQ(core->Dht(), nullptr);
  // The session made before the failure is gone (its threads with it).
  EXPECT_EQ(parts.session, nullptr);
  EXPECT_NE(std::find(parts.log.begin(), parts.log.end(), "~session"), parts.log.end());
  // The window runs on: the caption without transfer figures.
  EXPECT_EQ(core->Tick().caption, L"Quillfern 0/4");
  core->ApplySettings();  // nothing without an engine
  core->Shutdown();

  FakeEngineParts refusing;
  refusing.throw_on_make = true;
  client::MainWindowCore second(profile, host, refusing, ui);
  EXPECT_FALSE(second.StartSession());
  EXPECT_EQ(second.Session(), nullptr);
}

TEST_F(CoreFixture, ShutdownOrderAndValuesWritten) {
  Put("Intervall", 0);
  Put("Last Destination", std::string("/films/"));
  auto core = Make();
  core->OnCreate();
  EXPECT_EQ(core->Interval(), 10);
  const fs::path list_file = core->ListFile();
  const fs::path filter_file = core->IpFilterFile();
  EXPECT_FALSE(fs::exists(filter_file));
  bool list_saved_before_session_stopped = false;
  bool filter_saved_before_session_stopped = true;
  bool settings_written_before_session_stopped = true;
  parts.session->on_destroy = [&] {
    list_saved_before_session_stopped = fs::exists(list_file);
    filter_saved_before_session_stopped = fs::exists(filter_file);
    settings_written_before_session_stopped = profile.GetProfileInt("Configuration", "Simple Display", -7) != -7;
  };
  parts.log.clear();
  core->Shutdown();
  EXPECT_TRUE(list_saved_before_session_stopped);
  EXPECT_FALSE(filter_saved_before_session_stopped);
  EXPECT_FALSE(settings_written_before_session_stopped);
  EXPECT_TRUE(fs::exists(filter_file));
  const std::vector<std::string> expected = {"~session", "disable_mappings"};
  EXPECT_EQ(parts.log, expected);
  EXPECT_EQ(core->Session(), nullptr);
  EXPECT_EQ(core->IpFilter(), nullptr);

  EXPECT_EQ(profile.GetProfileInt("Configuration", "Intervall", -1), 10);
  EXPECT_EQ(profile.GetProfileString("Configuration", "Torrents"), (dir / "Torrents").string() + "/");
  EXPECT_EQ(profile.GetProfileString("Configuration", "Last Destination"), "/films/");
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Show Diagram", -1), 0);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Last Priority", -1), 1);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Simple Display", -1), 0);

  client::Utf16IniFile ini;
  ASSERT_TRUE(ini.Load(list_file));
  EXPECT_EQ(ini.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");

  core->Shutdown();  // once
  EXPECT_EQ(parts.log, expected);
}

TEST_F(CoreFixture, SessionOnlyModeRestoresNothingAndWritesNoList) {
  Put("This Session Only", 1);
  fs::create_directories(dir / "Torrents");
  std::ofstream(dir / "Torrents" / "a.torrent") << "d4:infod4:name1:aee";
  parts.loader = [](client::TorrentItem&) { return true; };
  auto core = Make();
  core->OnCreate();
  EXPECT_FALSE(core->RestoreTorrents());
  EXPECT_TRUE(parts.loaded.empty());
  core->Shutdown();
  EXPECT_FALSE(fs::exists(core->ListFile()));
  EXPECT_FALSE(fs::exists(core->IpFilterFile()));
}

TEST_F(CoreFixture, RestoreStartsUpToTheMostActiveAndQueuesTheRest) {
  Put("MaxActiveTorrent", 2);
  fs::create_directories(dir / "Torrents");
  for (const char* name :
       {"a.torrent", "b.TORRENT", "c.torrent", "d.torrent", "e.torrent", "notes.txt", "f.torrent.part"})
    std::ofstream(dir / "Torrents" / name) << "x";
  client_test::FakeTorrentControl* engine = nullptr;
  int n = 0;
  std::vector<double> rate_scales;
  std::vector<std::uint32_t> seeding_times;
  parts.loader = [&](client::TorrentItem& item) {
    const std::wstring name = item.FileName();
    if (name == L"d.torrent") return false;  // does not load: dropped
    rate_scales.push_back(item.RateScaleUp());
    seeding_times.push_back(item.Goal().time);
    item.Attach(parts.session->torrents.Put(client_test::FakeTorrentControl::Hash(++n)));
    engine = &parts.session->torrents;
    if (name == L"a.torrent") item.SetStatus(client::TorrentStatus::Queued);
    if (name == L"b.TORRENT") item.SetStatus(client::TorrentStatus::Downloading);
    if (name == L"c.torrent") {
      item.SetStatus(client::TorrentStatus::Seeding);
      item.SetSeedingGoal({client::SeedingMode::ByRatio, item.Goal().time, 1.5, item.Goal().peer_ratio});
    }
    if (name == L"e.torrent") {
      item.SetStatus(client::TorrentStatus::Seeding);
      item.SetSeedingGoal({client::SeedingMode(9), item.Goal().time, item.Goal().ratio, item.Goal().peer_ratio});
    }
    return true;
  };
  auto core = Make();
  core->OnCreate();
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(parts.loaded.size(), 5u);  // the five .torrent files, whatever their case
  ASSERT_EQ(core->List().Count(), 4u);
  EXPECT_EQ(host.rows, 4);
  std::vector<std::wstring> started;
  for (const auto& t : core->List())
    if (t->IsStarted()) started.push_back(t->FileName());
  // b and c run at once (Downloading, Seeding); a waits in the queue.
  EXPECT_EQ(started, (std::vector<std::wstring>{L"b.TORRENT", L"c.torrent"}));
  EXPECT_EQ(core->Queue().ActiveCount(), 2u);
  EXPECT_EQ(core->Tick().caption, L"Quillfern 2/2 - 0/0MB");
  EXPECT_NE(core->StatusText().find(L"unknown seeding mode for e.torrent"), std::wstring::npos);
  for (const auto& t : core->List()) EXPECT_EQ(t->Session(), &parts.session->torrents);
  // Each started from the defaults: the global maxima, the seeding time.
  EXPECT_EQ(rate_scales, std::vector<double>(4, 10240));
  EXPECT_EQ(seeding_times, std::vector<std::uint32_t>(4, 7200000u));
}

// A torrent of the data folder that does not load keeps its section of the
// list file; the torrents that did load write theirs over it.
TEST_F(CoreFixture, SectionsOfTorrentsThatDidNotLoadAreKept) {
  fs::create_directories(dir / "Torrents");
  const std::string a = (dir / "Torrents" / "a.torrent").string();
  const std::string b = (dir / "Torrents" / "b.torrent").string();
  std::ofstream(a) << "x";
  std::ofstream(b) << "x";
  auto section = [](const std::string& path) {
    return client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(path)));
  };
  client::Utf16IniFile ini;
  ini.StartListFile();
  ini.Set(section(a), u"Priority", u"2");
  ini.Set(section(b), u"Priority", u"0");
  ASSERT_TRUE(ini.Save(dir / "Torrents" / "TorrentQueue.txt"));
  parts.loader = [&](client::TorrentItem& item) {
    if (item.FileName() == L"a.torrent") return false;
    item.Attach(parts.session->torrents.Put(client_test::FakeTorrentControl::Hash(1)));
    item.SetPriority(client::TorrentPriority::Normal);
    return true;
  };
  auto core = Make();
  core->OnCreate();
  ASSERT_EQ(core->List().Count(), 1u);
  core->Shutdown();
  client::Utf16IniFile after;
  ASSERT_TRUE(after.Load(dir / "Torrents" / "TorrentQueue.txt"));
  EXPECT_EQ(after.GetString(section(a), u"Priority"), u"2");  // kept
  EXPECT_EQ(after.GetString(section(b), u"Priority"), u"1");  // written
  EXPECT_EQ(after.GetString(u"Quillfern", u"Tarrow"), u"Velmorathine");
}

// The adder follows the settings and the engine, and its last choice of
// folder and priority is what the shut-down writes.
TEST_F(CoreFixture, AdderFollowsSettingsAndEngine) {
  Put("ASDMode", 0);
  Put("ASDSingle", std::string("/films"));
  Put("Last Priority", 2);
  Put("MaxUploadRate", 30000);
  auto core = Make();
  client::TorrentAdder& adder = core->Adder();
  EXPECT_EQ(adder.session, nullptr);
  core->OnCreate();
  EXPECT_EQ(adder.data_folder, core->DataFolderPath());
  EXPECT_EQ(adder.session, &parts.session->torrents);
  EXPECT_EQ(adder.auto_save.mode, 0u);
  EXPECT_EQ(adder.auto_save.single, "/films/");
  EXPECT_EQ(adder.priority, 2);
  EXPECT_EQ(adder.rate_scale_up, 30000);
  adder.destination = "/chosen/";
  adder.priority = 0;
  core->Shutdown();
  EXPECT_EQ(adder.session, nullptr);
  EXPECT_EQ(profile.GetProfileString("Configuration", "Last Destination"), "/chosen/");
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Last Priority", -1), 0);
}

TEST(MainWindowTexts, NoFreePortAndLogLine) {
  EXPECT_EQ(client::NoFreePortText(1500, 1504), L"Quillfern - no available port between 1500 to 1504");
  const std::wstring line = client::LogLineText(0, L"hello");
  EXPECT_TRUE(line.ends_with(L" - hello"));
  EXPECT_GT(line.size(), std::wstring(L" - hello").size());
}

// The real engine: a session that listens on a port the kernel picks, and
// a clean stop.
TEST_F(CoreFixture, RealEngineStartsListensAndStops) {
  Put("MinPort", 0);
  Put("MaxPort", 0);
  platform::profile::set_application_file(dir / "app.ini");
  client::RealEngineParts real;
  {
    client::MainWindowCore core(profile, host, real, ui);
    core.OnCreate();
    ASSERT_NE(core.Session(), nullptr);
    EXPECT_TRUE(core.Session()->is_listening());
    EXPECT_GT(core.Session()->listen_port(), 0);
    ASSERT_NE(core.Dht(), nullptr);
    EXPECT_EQ(core.Dht()->GetPort(), 0);  // DHTPort 0: not started
    const client::MainTimerResult tick = core.Tick();
    EXPECT_EQ(tick.caption, L"Quillfern 0/4 - 0/0MB - DHT 0/0");
    EXPECT_FALSE(tick.query_external_address);  // no port mapping
    EXPECT_NE(core.Timer().ListeningLine().find(L"listening on 0.0.0.0:"), std::wstring::npos);
  }  // shuts down
  platform::profile::set_application_file({});
  EXPECT_TRUE(fs::exists(dir / "Torrents" / "TorrentQueue.txt"));
  EXPECT_TRUE(fs::exists(dir / "Torrents" / "IpAddress.FilterData"));
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Intervall", -1), 500);
}

// Every port of the range is taken: the round stops with the text in the
// status line and the caption, and the window runs on with its engine.
TEST_F(CoreFixture, RealEngineWithoutAFreePort) {
  engine::socket taken(engine::socket::tcp);
  taken.listen(engine::address("0.0.0.0", 0), 1);
  const unsigned port = taken.local_address().port;
  Put("MinPort", static_cast<int>(port));
  Put("MaxPort", static_cast<int>(port));
  platform::profile::set_application_file(dir / "app.ini");
  client::RealEngineParts real;
  {
    client::MainWindowCore core(profile, host, real, ui);
    core.OnCreate();
    const std::wstring text = client::NoFreePortText(port, port);
    EXPECT_EQ(core.StatusText(), text);
    ASSERT_FALSE(host.captions.empty());
    EXPECT_EQ(host.captions.back(), text);
    ASSERT_NE(core.Session(), nullptr);
    EXPECT_FALSE(core.Session()->is_listening());
  }
  platform::profile::set_application_file({});
}

// With port forwarding the DHT node starts only once the router answered,
// long after the settings were applied: the engine is linked to it then, and
// the port it tells peers is the node's.
TEST_F(CoreFixture, TheEngineIsLinkedToTheDhtNodeAMappingRoundStarted) {
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  socklen_t length = sizeof any;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&any), &length);
  ::close(probe);
  const std::uint16_t dht_port = ntohs(any.sin_port);
  Put("MinPort", 0);
  Put("MaxPort", 0);
  Put("DHTPort", dht_port);
  Put("UPnPPortForwarding", 1);
  platform::profile::set_application_file(dir / "app.ini");

  // The router's answers come through the window's queue, from the worker.
  struct Host : client_test::CoreHost {
    std::mutex mutex;
    void PostToGui(std::function<void()> work) override {
      std::lock_guard lock(mutex);
      posted.push_back(std::move(work));
    }
    void RunPosted() {
      std::vector<std::function<void()>> now;
      {
        std::lock_guard lock(mutex);
        now.swap(posted);
      }
      for (auto& work : now) work();
    }
  } gui;
  struct Parts : client::RealEngineParts {
    std::shared_ptr<upnp_test::FakeRouter> router = std::make_shared<upnp_test::FakeRouter>();
    std::unique_ptr<client::NetworkStep> MakeNetworkStep(client::NetworkStep::Host& host) override {
      client::NetworkSetup::Options o;
      o.read_interfaces = [] {
        return std::optional<std::vector<client::InterfaceAddress>>({{"lo", true, 0x7F000001, true, true}});
      };
      o.make_mapper = [r = router] { return std::make_unique<upnp_test::FakeUpnpMapper>(r); };
      o.pause = [](unsigned) {};
      return std::make_unique<client::RouterNetworkStep>(host, std::move(o));
    }
  } real;
  {
    client::MainWindowCore core(profile, gui, real, ui);
    core.OnCreate();
    ASSERT_NE(core.Dht(), nullptr);
    EXPECT_EQ(core.Dht()->GetPort(), 0);  // waits for the mapping round
    EXPECT_EQ(core.DhtLink(), nullptr);
    EXPECT_TRUE(test_support::wait_until([&] {
      gui.RunPosted();
      return core.DhtLink() != nullptr;
    }));
    EXPECT_EQ(core.Dht()->GetPort(), dht_port);
    ASSERT_NE(core.DhtLink(), nullptr);
    EXPECT_EQ(core.DhtLink()->dht_port(), dht_port);
    const auto calls = real.router->TakeCalls();
    EXPECT_NE(std::find(calls.begin(), calls.end(),
                        "add UDP " + std::to_string(dht_port) + " -> 127.0.0.1:" + std::to_string(dht_port) +
                            " Quillfern"),
              calls.end());

  }
  platform::profile::set_application_file({});
}

}  // namespace

// --- the torrents' messages: queued, by info-hash, a stale one dropped

struct MessageFixture : CoreFixture {
  std::unique_ptr<client::MainWindowCore> core;
  client_test::FakeTorrentControl* engine = nullptr;

  // Torrents a, b, c; a runs, b and c wait in the queue; one may run.
  void SetUp() override {
    CoreFixture::SetUp();
    Put("MaxActiveTorrent", 1);
    fs::create_directories(dir / "Torrents");
    for (const char* name : {"a.torrent", "b.torrent", "c.torrent"}) std::ofstream(dir / "Torrents" / name) << "x";
    int n = 0;
    parts.loader = [&](client::TorrentItem& item) {
      item.Attach(parts.session->torrents.Put(client_test::FakeTorrentControl::Hash(++n)));
      item.SetStatus(n == 1 ? client::TorrentStatus::Downloading : client::TorrentStatus::Queued);
      engine = &parts.session->torrents;
      return true;
    };
    core = Make();
    core->OnCreate();
    ASSERT_EQ(core->List().Count(), 3u);
    host.posted.clear();
  }
  client::TorrentItem& Torrent(const wchar_t* name) {
    for (const auto& t : core->List())
      if (t->FileName() == name) return *t;
    throw std::runtime_error("no such torrent");
  }
  bool Has(const wchar_t* name) {
    for (const auto& t : core->List())
      if (t->FileName() == name) return true;
    return false;
  }
  // Runs what was queued, including what that queues, in order.
  void RunPosted() {
    while (!host.posted.empty()) {
      auto work = std::move(host.posted.front());
      host.posted.erase(host.posted.begin());
      work();
    }
  }
  bool Running(const wchar_t* name) { return !engine->At(Torrent(name).Handle().info_hash()).paused; }
};

TEST_F(MessageFixture, AStopIsHandledWhenItArrivesNotWhenItIsSent) {
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
  Torrent(L"a.torrent").UserPause();
  // Queued: nothing happened yet.
  ASSERT_EQ(host.posted.size(), 1u);
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
  EXPECT_FALSE(Running(L"b.torrent"));
  RunPosted();
  // The slot went to b, the best queued torrent other than a.
  EXPECT_TRUE(Running(L"b.torrent"));
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);

  // A torrent that fails: its name and " failed" in the log.
  core->TorrentStopped(Torrent(L"b.torrent"), client::TorrentStatus::Error);
  RunPosted();
  EXPECT_NE(core->StatusText().find(L"b.torrent failed"), std::wstring::npos);
}

TEST_F(MessageFixture, PauseAllThenResumingEachCountsTheTorrentsThatRun) {
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
  core->PauseAll();
  EXPECT_FALSE(Running(L"a.torrent"));
  EXPECT_EQ(core->Queue().ActiveCount(), 0u);
  EXPECT_EQ(core->Tick().caption.value_or(L"").substr(0, 14), L"Quillfern 0/1 ");
  // "Resume" on each row, as its menu does it.
  for (const wchar_t* name : {L"a.torrent", L"b.torrent"}) {
    ASSERT_TRUE(Torrent(name).UserResume());
  }
  RunPosted();
  EXPECT_TRUE(Running(L"a.torrent"));
  EXPECT_TRUE(Running(L"b.torrent"));
  EXPECT_EQ(core->Queue().ActiveCount(), 2u);
  EXPECT_EQ(core->Queue().ActiveCount(), core->Queue().CountActive());
  EXPECT_EQ(core->Tick().caption.value_or(L"").substr(0, 14), L"Quillfern 2/1 ");
}

TEST_F(MessageFixture, AStopQueuedBehindARemovalFindsNoTorrentAndFreesTheSlot) {
  client::TorrentItem& a = Torrent(L"a.torrent");
  const engine::sha1_hash hash = a.Handle().info_hash();
  const client::TorrentItem* gone = &a;
  a.RequestRemoval();
  a.UserPause();  // its stop message waits behind the removal
  ASSERT_EQ(host.posted.size(), 2u);
  RunPosted();
  EXPECT_FALSE(Has(L"a.torrent"));
  EXPECT_FALSE(fs::exists(dir / "Torrents" / "a.torrent"));  // its files went too
  EXPECT_EQ(engine->torrents.count(hash), 0u);               // and its engine torrent
  // a was paused when the removal came, so the stop freed its slot.
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);
  EXPECT_TRUE(Running(L"b.torrent"));

  // A later message for the removed torrent finds nothing; the address
  // alone does not name a torrent whose hash differs.
  client::TorrentItem& b = Torrent(L"b.torrent");
  EXPECT_EQ(core->FindPosted(gone, hash), nullptr);
  EXPECT_EQ(core->FindPosted(&b, hash), nullptr);
  EXPECT_EQ(core->FindPosted(&b, b.Handle().info_hash()), &b);
}

TEST_F(MessageFixture, ARemovalWaitsForTheEngineWithATimeOut) {
  client::FakeTick tick;
  client::TorrentItem& a = Torrent(L"a.torrent");
  engine->At(a.Handle().info_hash()).removal_polls = 3;
  a.RequestRemoval();
  RunPosted();
  EXPECT_FALSE(Has(L"a.torrent"));
  // Until the engine drops it, its slot stays taken.
  EXPECT_TRUE(core->RemovalsPending());
  EXPECT_FALSE(Running(L"b.torrent"));
  for (int i = 0; i < 10 && core->PollRemovals(); ++i) {
  }
  EXPECT_FALSE(core->RemovalsPending());
  EXPECT_TRUE(Running(L"b.torrent"));
  EXPECT_EQ(core->Queue().ActiveCount(), 1u);

  // An engine that never lets go: after the time-out the next one runs.
  client::TorrentItem& b = Torrent(L"b.torrent");
  engine->At(b.Handle().info_hash()).removal_polls = -1;
  b.RequestRemoval();
  RunPosted();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(core->PollRemovals());
  EXPECT_FALSE(Running(L"c.torrent"));
  tick.Advance(client::kRemoveWaitMs);
  EXPECT_FALSE(core->PollRemovals());
  EXPECT_TRUE(Running(L"c.torrent"));

  // After the shut-down nothing queued is handled.
  Torrent(L"c.torrent").RequestRemoval();
  core->Shutdown();
  RunPosted();
  EXPECT_EQ(core->List().Count(), 1u);
}
