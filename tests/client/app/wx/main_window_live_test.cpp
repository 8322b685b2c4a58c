// The main window's live surface on a real X server: the context menu, the
// log line, the progression charts, minimising with and without a tray,
// and the frame's buttons and caption under real mouse input.

#include "client/app/main_menu.h"
#include "client/app/wx/CTorrentAnzeige.h"
#include "platform/profile.h"
#include "tests/client/app/fake_engine_parts.h"
#include "tests/client/temp_folder.h"
#include "tests/gui_support/fake_tray.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/timer.h>
#include <wx/weakref.h>

#include <string>
#include <thread>

namespace {

// A window over stand-ins for the engine.
class MainWindowLive : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::profile::set_application_file(dir / "Quillfern.ini");
    profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
    profile.WriteProfileInt("Configuration", "DHTPort", 0);
    profile.WriteProfileInt("Configuration", "Intervall", 40);
  }
  void TearDown() override {
    if (window) CloseAndWait();
    platform::profile::set_application_file({});
  }
  // With the real engine when `real_engine`.
  void Open(bool real_engine = false) {
    window = new CTorrentAnzeige(profile, real_engine ? nullptr : &parts);
    ASSERT_TRUE(window->Create({40, 40, 560, 400}));
    window->Show();
    ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= 1; }));
  }
  void CloseAndWait() {
    window->Close();
    EXPECT_TRUE(gui_test::PumpUntil([&] { return !window; }));
  }
  // The window's picture once `ok` holds for it.
  wxImage Picture(const std::function<bool(const wxImage&)>& ok) { return gui_test::CaptureUntil(window, ok); }
  // A point of the window (relative to its top-left corner) on the screen.
  wxPoint OnScreen(const client::Rect& r) const {
    return window->ClientToScreen(wxPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  }
  int Mouse(const std::vector<std::string>& steps) {
    std::vector<std::string> command = {"xdotool"};
    command.insert(command.end(), steps.begin(), steps.end());
    return gui_test::RunAndPump(command);
  }

  client_test::temp_folder dir{"qf_live_"};
  platform::profile profile{dir / "Quillfern.ini"};
  client_test::FakeEngineParts parts;
  wxWeakRef<CTorrentAnzeige> window;
};

bool Bright(const gui_test::Rgb8& c) { return c.r > 200 && c.g > 200 && c.b > 200; }
// The notice box's fill (inactive button colour, yellow by default).
bool NoticeYellow(const gui_test::Rgb8& c) { return c.r > 200 && c.g > 200 && c.b < 60; }

TEST_F(MainWindowLive, TheContextMenuOpensAtTheClickAndClosesWithEscape) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  Open();
  // While the menu is up (it runs its own loop), a timer takes the picture
  // and closes it.
  wxImage shot;
  wxTimer timer;
  const wxPoint at(30, 20);
  const wxPoint in_menu = window->ClientArea()->GetPosition() + at + wxPoint(12, 12);
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    shot = gui_test::CaptureUntil(window, [&](const wxImage& image) {
      return Bright(gui_test::PixelAt(image, in_menu.x, in_menu.y));
    });
    gui_test::Screenshot(window, "quillfern_main_menu");
    gui_test::RunAndPump({"xdotool", "key", "Escape"});
  });
  timer.StartOnce(100);
  window->ShowContextMenu(at);
  ASSERT_TRUE(shot.IsOk());
  EXPECT_TRUE(Bright(gui_test::PixelAt(shot, in_menu.x, in_menu.y)));
  // Gone again: the client area shows through.
  const wxImage after = Picture([&](const wxImage& image) { return !Bright(gui_test::PixelAt(image, in_menu.x, in_menu.y)); });
  EXPECT_FALSE(Bright(gui_test::PixelAt(after, in_menu.x, in_menu.y)));
}

TEST_F(MainWindowLive, TheMenuFollowsTheStateAndClearingTheBansEmptiesTheFilter) {
  QF_REQUIRE_DISPLAY();
  std::filesystem::create_directories(dir / "Torrents");
  dir.put("Torrents/IpAddress.FilterData", "3.0.0.0-3.0.0.255,1,\r\n");
  Open();
  client::ScriptedUiServices ui;
  window->UseMenuUi(ui);
  ui.menu_answers = {client::main_menu::kClearBanList};
  const engine::ip_filter* before = window->Core().IpFilter();
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(before->export_filter().size(), 3u);
  window->ShowContextMenu({10, 10});
  ASSERT_EQ(ui.menus_shown.size(), 1u);
  EXPECT_EQ(ui.menus_shown[0][8].text, "Clear ban list");  // there is a filter
  EXPECT_EQ(ui.menus_shown[0].back().text, "Check for Update");  // no DHT node
  // Nothing is asked: the bans go, those the file held as well.
  EXPECT_TRUE(ui.Messages().empty());
  ASSERT_NE(window->Core().IpFilter(), nullptr);
  EXPECT_EQ(window->Core().IpFilter()->export_filter(), engine::ip_filter().export_filter());
}

TEST_F(MainWindowLive, WorkersPostToTheApplicationAndWorkForAGoneWindowIsDropped) {
  QF_REQUIRE_DISPLAY();
  profile.WriteProfileInt("Configuration", "MinPort", 0);  // any free port
  profile.WriteProfileInt("Configuration", "MaxPort", 0);
  Open(true);
  std::thread worker([core = &window->Core()] {
    core->PostBanPeer(engine::address(10, 1, 2, 3, 0), false);
    core->PostBanPeer(engine::address(10, 9, 9, 9, 0), true);
    core->PostLogLine(L"from a worker");
  });
  worker.join();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Core().StatusText().ends_with(L" - from a worker"); }));
  const auto ranges = window->Core().IpFilter()->export_filter();
  ASSERT_EQ(ranges.size(), 5u);
  EXPECT_EQ(ranges[1].first, engine::address(10, 1, 2, 3, 0));
  EXPECT_EQ(ranges[1].last, engine::address(10, 1, 2, 3, 0));
  EXPECT_EQ(ranges[3].first, engine::address(10, 9, 9, 1, 0));
  EXPECT_EQ(ranges[3].last, engine::address(10, 9, 9, 255, 0));

  // Posted, then the window goes before the work comes up: nothing runs.
  bool ran = false;
  window->Core().PostToGui([&] { ran = true; });
  CloseAndWait();
  gui_test::PumpFor(std::chrono::milliseconds(50));
  EXPECT_FALSE(ran);
}

TEST_F(MainWindowLive, ARemovalWaitsOnATimerWhileTheMainTimerGoesOn) {
  QF_REQUIRE_DISPLAY();
  profile.WriteProfileInt("Configuration", "MaxActiveTorrent", 1);
  Open();
  client_test::FakeTorrentControl& fake = parts.session->torrents;
  auto add = [&](int n, bool running) {
    auto item = std::make_unique<client::TorrentItem>(L"/none/t" + std::to_wstring(n) + L".torrent", L"t",
                                                      window->Core());
    item->SetSession(&fake);
    client_test::FakeTorrent engine;
    engine.paused = !running;
    item->Attach(fake.Put(client_test::FakeTorrentControl::Hash(n), engine));
    if (running) item->Start(false);
    item->SetStatus(running ? client::TorrentStatus::Downloading : client::TorrentStatus::Queued);
    client::TorrentItem* raw = item.get();
    window->Core().List().Add(std::move(item));
    return raw;
  };
  client::TorrentItem* running = add(1, true);
  client::TorrentItem* queued = add(2, false);
  window->Core().Queue().OnTorrentStarted();
  fake.At(client_test::FakeTorrentControl::Hash(1)).removal_polls = -1;  // the engine keeps it
  running->RequestRemoval();
  running->UserPause();  // its stop is queued behind the removal
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Core().List().Count() == 1; }));
  EXPECT_TRUE(window->Core().RemovalsPending());
  const int ticks = window->TickCount();
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= ticks + 3; }));
  EXPECT_TRUE(window->Core().RemovalsPending());
  EXPECT_FALSE(queued->IsActive());
  // The engine lets go: the queued torrent gets the slot.
  fake.torrents.erase(client_test::FakeTorrentControl::Hash(1));
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !window->Core().RemovalsPending(); }));
  EXPECT_TRUE(queued->IsActive());
}

TEST_F(MainWindowLive, TheLatestLogLineShowsAsTheNoticeAndTheListeningLineAboveIt) {
  QF_REQUIRE_DISPLAY();
  Open();
  window->Core().AddLogLine(L"tracker: announce ok");
  EXPECT_NE(window->Model().notice_text.find(L" - tracker: announce ok"), std::wstring::npos);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Model().status_line.starts_with(L"listening on "); }));
  const client::Rect notice = client::NoticeLine(window->Model().Width(), window->Model().Height());
  const wxPoint origin = window->ClientArea()->GetPosition();
  const wxImage shot = Picture([&](const wxImage& image) {
    for (int x = notice.left; x < notice.left + 40; ++x)
      if (NoticeYellow(gui_test::PixelAt(image, origin.x + x, origin.y + notice.top + 7))) return true;
    return false;
  });
  gui_test::Screenshot(window, "quillfern_log_line");
  bool yellow = false;
  for (int x = notice.left; x < notice.left + 40; ++x)
    yellow = yellow || NoticeYellow(gui_test::PixelAt(shot, origin.x + x, origin.y + notice.top + 7));
  EXPECT_TRUE(yellow);
}

TEST_F(MainWindowLive, ProgressionChartsToggleFromTheMenu) {
  QF_REQUIRE_DISPLAY();
  profile.WriteProfileInt("Configuration", "Intervall", 10);
  profile.WriteProfileInt("Configuration", "MaxDownloadRate", 60000);
  Open();
  EXPECT_FALSE(window->Core().Startup().show_diagram);
  window->RunMainMenuCommand(client::main_menu::kProgression);
  EXPECT_TRUE(window->Core().Startup().show_diagram);
  // Traffic that changes at every sample (every 6th tick).
  engine::session_status& figures = parts.session->status_figures;
  const int start = window->TickCount();
  for (int sample = 0; sample < 50; ++sample) {
    figures.num_peers = 20 + (sample * 7) % 60;
    figures.upload_rate = static_cast<float>(2000 + (sample % 10) * 700);
    figures.download_rate = static_cast<float>(sample * 1100);
    ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= start + 6 * (sample + 1); }));
  }
  EXPECT_GT(window->Core().Timer().Charts()[0].back(), 0);
  gui_test::PumpFor(std::chrono::milliseconds(100));
  gui_test::Screenshot(window, "quillfern_progression");
  window->RunMainMenuCommand(client::main_menu::kViewToggle);
  EXPECT_TRUE(window->Core().Startup().simple_display);
  window->RunMainMenuCommand(client::main_menu::kProgression);
  CloseAndWait();
  // Both are kept for the next run.
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Show Diagram", -1), 0);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Simple Display", -1), 1);
}

TEST_F(MainWindowLive, WithoutATrayMinimisingOnlyIconises) {
  QF_REQUIRE_DISPLAY();
  Open();
  ASSERT_FALSE(QuillfernTrayIcon::TrayAvailable());
  window->Minimise();
  gui_test::PumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(window->IsShown());
  EXPECT_FALSE(window->Tray().MinimisedToTray());
  EXPECT_EQ(window->TrayIcon(), nullptr);
  window->RestoreFromTray();
  EXPECT_TRUE(window->IsShown());
  EXPECT_FALSE(window->IsIconized());
}

TEST_F(MainWindowLive, WithATrayMinimisingHidesBehindTheIconUntilItIsClicked) {
  QF_REQUIRE_DISPLAY();
  gui_test::FakeTrayOwner tray;
  if (!tray.Owned()) GTEST_FAIL() << "the tray selection is taken";
  Open();
  ASSERT_TRUE(QuillfernTrayIcon::TrayAvailable());
  window->Core().AddLogLine(std::wstring(200, L'x'));
  window->Minimise();
  EXPECT_FALSE(window->IsShown());
  EXPECT_TRUE(window->Tray().MinimisedToTray());
  ASSERT_NE(window->TrayIcon(), nullptr);
  EXPECT_TRUE(window->Tray().IconPresent());
  EXPECT_EQ(window->TrayIcon()->Tip().size(), 127u);
  // Ticks go on behind the icon, and its tip follows the status text.
  window->Core().AddLogLine(L"next");
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TrayIcon()->Tip().ends_with(L" - next"); }));
  EXPECT_TRUE(window->TrayIcon()->Tip().starts_with(L"Quillfern 0/4\n"));
  window->RestoreFromTray();
  EXPECT_TRUE(window->IsShown());
  EXPECT_FALSE(window->Tray().MinimisedToTray());
  EXPECT_EQ(window->TrayIcon(), nullptr);
  gui_test::PumpFor(std::chrono::milliseconds(200));
  gui_test::Screenshot(window, "quillfern_restored_from_tray");
}

TEST_F(MainWindowLive, FrameButtonsAndCaptionUnderRealInput) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  Open();
  gui_test::PumpFor(std::chrono::milliseconds(200));
  const client::FrameLayout& layout = window->Model().layout;

  // The caption drags the window.
  const wxPoint before = window->GetScreenPosition();
  const wxPoint grab = OnScreen({60, 10, 61, 14});
  ASSERT_EQ(Mouse({"mousemove", "--sync", std::to_string(grab.x), std::to_string(grab.y), "mousedown", "1"}), 0);
  for (int step = 1; step <= 4; ++step)
    Mouse({"mousemove", "--sync", std::to_string(grab.x + 15 * step), std::to_string(grab.y + 10 * step)});
  Mouse({"mouseup", "1"});
  EXPECT_TRUE(gui_test::PumpUntil([&] { return window->GetScreenPosition() == before + wxPoint(60, 40); }))
      << window->GetScreenPosition().x << "," << window->GetScreenPosition().y;

  // The minimise button (no tray here) keeps the window on the screen.
  const wxPoint minimise = OnScreen(window->Model().layout.minimise_button);
  Mouse({"mousemove", "--sync", std::to_string(minimise.x), std::to_string(minimise.y), "click", "1"});
  EXPECT_TRUE(window->IsShown());
  EXPECT_FALSE(window->Tray().MinimisedToTray());

  // Pressed on close, released elsewhere: nothing.
  const wxPoint close = OnScreen(layout.close_button);
  Mouse({"mousemove", "--sync", std::to_string(close.x), std::to_string(close.y), "mousedown", "1"});
  Mouse({"mousemove", "--sync", std::to_string(close.x - 80), std::to_string(close.y + 60), "mouseup", "1"});
  gui_test::PumpFor(std::chrono::milliseconds(100));
  ASSERT_TRUE(window);
  // A click on it closes the window.
  Mouse({"mousemove", "--sync", std::to_string(close.x), std::to_string(close.y), "click", "1"});
  EXPECT_TRUE(gui_test::PumpUntil([&] { return !window; }));
}

}  // namespace
