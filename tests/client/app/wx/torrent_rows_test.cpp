// The torrents' rows in the main window: one chart per torrent, laid out
// and scrolled, repainted only when something shown changes; the row's
// menu and hover hint; a removal from the row's menu while another message
// for the torrent is still queued.

#include "client/common/wx/CHinweisText.h"
#include "client/dialogs/wx/CPeerInfoDialog.h"
#include "client/app/wx/CTorrentAnzeige.h"
#include "client/dialogs/wx/CTorrentDetailDialog.h"
#include "platform/profile.h"
#include "tests/client/app/fake_engine_parts.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/weakref.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <cwctype>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using client::TorrentStatus;
using client_test::FakeTorrentControl;

namespace {

struct RowsFixture : ::testing::Test {
  fs::path dir;
  platform::profile profile{""};
  client_test::FakeEngineParts parts;
  client::ScriptedUiServices ui;
  CTorrentAnzeige* window = nullptr;

  void SetUp() override {
    dir = fs::temp_directory_path() / ("qf_rows_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "Torrents");
    profile = platform::profile(dir / "Quillfern.ini");
    platform::profile::set_application_file(dir / "Quillfern.ini");
    profile.WriteProfileString("Configuration", "Torrents", (dir / "Torrents").string());
    profile.WriteProfileInt("Configuration", "MaxActiveTorrent", 2);
    profile.WriteProfileInt("Configuration", "Intervall", 200);
    // a downloads (half done, two hours left at 1000 B/s), b seeds for
    // ever, c was paused by the user, d waits in the queue.
    for (const char* name : {"a.torrent", "b.torrent", "c.torrent", "d.torrent"})
      std::ofstream(dir / "Torrents" / name) << "x";
    parts.loader = [this](client::TorrentItem& item) {
      const wchar_t n = item.FileName()[0];
      client_test::FakeTorrent fake;
      fake.status.num_peers = 3;
      if (n == L'a') {
        fake.status.state = engine::downloading;
        fake.status.progress = 0.5f;
        fake.status.total_wanted = 14400000;
        fake.status.download_payload_rate = 1000;
        fake.status.download_rate = 30000;
        fake.status.upload_rate = 1500;
        item.SetStatus(TorrentStatus::Downloading);
      } else if (n == L'b') {
        fake.status.state = engine::seeding;
        fake.status.progress = 1;
        fake.status.upload_rate = 9000;
        item.SetStatus(TorrentStatus::Seeding);
        item.SetSeedingTime(0, true);
      } else if (n == L'c') {
        item.UserPause();
      } else {
        item.SetStatus(TorrentStatus::Queued);
      }
      item.Attach(parts.session->torrents.Put(FakeTorrentControl::Hash(n), fake));
      item.Chart().SetName(std::wstring(L"Torrent ") + static_cast<wchar_t>(std::towupper(n)) + L" of the test");
      return true;
    };
  }
  void TearDown() override {
    if (window) Close();
    platform::profile::set_application_file({});
    fs::remove_all(dir);
  }

  void Open(int width, int height) {
    // The pointer out of the way: no hover but the test's own.
    gui_test::RunAndPump({"xdotool", "mousemove", "0", "0"});
    window = new CTorrentAnzeige(profile, &parts);
    ASSERT_TRUE(window->Create({40, 40, 40 + width, 40 + height}));
    window->Show();
    window->Rows().ui = &ui;
  }
  void Close() {
    wxWeakRef<CTorrentAnzeige> ref(window);
    window->Close();
    EXPECT_TRUE(gui_test::PumpUntil([&] { return !ref; }));
    window = nullptr;
  }
  CTorrentDiagramm* Row(wchar_t n) {
    for (CTorrentDiagramm* row : window->Rows().Rows())
      if (row->Torrent() && row->Torrent()->FileName()[0] == n) return row;
    return nullptr;
  }
  // Waits until every row served `ticks` more ticks.
  bool TicksPass(int ticks) {
    std::vector<std::pair<CTorrentDiagramm*, int>> start;
    for (CTorrentDiagramm* row : window->Rows().Rows()) start.push_back({row, row->TickCount()});
    return gui_test::PumpUntil([&] {
      for (auto& [row, at] : start)
        if (row->TickCount() < at + ticks) return false;
      return true;
    });
  }
  client_test::FakeTorrent& Fake(wchar_t n) { return parts.session->torrents.At(FakeTorrentControl::Hash(n)); }
};

TEST_F(RowsFixture, EveryTorrentGetsAChartInListOrder) {
  QF_REQUIRE_DISPLAY();
  Open(560, 340);
  ASSERT_EQ(window->Rows().Rows().size(), 4u);
  ASSERT_TRUE(TicksPass(2));
  const client::ChartLogic& a = Row(L'a')->Chart();
  EXPECT_EQ(a.Text(client::ChartGauge::Progress), L"50.0%");
  EXPECT_EQ(a.Text(client::ChartGauge::Time), L"2:00:00");
  EXPECT_EQ(a.Text(client::ChartGauge::Download), L"29");
  EXPECT_EQ(a.Text(client::ChartGauge::Upload), L"1.5");
  EXPECT_EQ(Row(L'b')->Chart().Text(client::ChartGauge::Progress), L"Seeding");
  EXPECT_EQ(Row(L'c')->Chart().Text(client::ChartGauge::Progress), L"Paused");
  EXPECT_EQ(Row(L'd')->Chart().Text(client::ChartGauge::Progress), L"Queued");
  // Three tiles on the first line of a client area 532 px wide.
  EXPECT_EQ(Row(L'a')->GetPosition(), wxPoint(0, 0));
  EXPECT_EQ(Row(L'b')->GetPosition(), wxPoint(170, 0));
  EXPECT_EQ(Row(L'c')->GetPosition(), wxPoint(340, 0));
  EXPECT_EQ(Row(L'd')->GetPosition(), wxPoint(0, 104));
  EXPECT_EQ(Row(L'a')->GetSize(), wxSize(166, 100));
  gui_test::PumpFor(std::chrono::milliseconds(200));
  gui_test::Screenshot(window, "torrent_rows");

  // Nothing shown changes: no row paints.
  gui_test::PumpFor(std::chrono::milliseconds(300));
  std::vector<int> paints;
  for (wchar_t n : {L'a', L'b', L'c', L'd'}) paints.push_back(Row(n)->PaintCount());
  ASSERT_TRUE(TicksPass(4));
  std::vector<int> after;
  for (wchar_t n : {L'a', L'b', L'c', L'd'}) after.push_back(Row(n)->PaintCount());
  EXPECT_EQ(after, paints);

  // A new value paints that row only.
  Fake(L'a').status.progress = 0.75f;
  ASSERT_TRUE(gui_test::PumpUntil([&] { return Row(L'a')->PaintCount() > paints[0]; }));
  EXPECT_EQ(Row(L'a')->Chart().Text(client::ChartGauge::Progress), L"75.0%");
  EXPECT_EQ(Row(L'c')->PaintCount(), paints[2]);

  // Simple view: strips across the area.
  window->Rows().SetSimpleDisplay(true);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return Row(L'a')->Chart().ShapeIsRow(); }));
  EXPECT_EQ(Row(L'b')->GetRect(), wxRect(2, 26, window->Model().Width() - 6, 22));
  gui_test::PumpFor(std::chrono::milliseconds(200));
  gui_test::Screenshot(window, "torrent_rows_simple");
}

TEST_F(RowsFixture, TheThumbScrollsTheRowsAndAShortWindowKeepsRunning) {
  QF_REQUIRE_DISPLAY();
  Open(220, 300);  // one tile per line, four lines
  ASSERT_TRUE(TicksPass(1));
  TorrentRowWindows& rows = window->Rows();
  EXPECT_EQ(Row(L'd')->GetPosition(), wxPoint(0, 312));
  const int track_top = window->Model().layout.scroll_track.top;
  EXPECT_EQ(window->Model().thumb_top, track_top);
  rows.Scroll(client::ScrollCode::PageDown);
  EXPECT_EQ(window->Model().thumb_top, track_top + 104);
  EXPECT_LT(Row(L'a')->GetPosition().y, 0);
  for (int i = 0; i < 10; ++i) rows.Scroll(client::ScrollCode::PageDown);
  // At the end of the track the last row is fully in view.
  const int visible = rows.VisibleHeight();
  // The last tile's bottom is 4 px (the gap below it) above the end.
  EXPECT_EQ(Row(L'd')->GetRect().GetBottom() + 1, visible - 4);
  // Only the rows in sight are shown; one scrolled out still ticks.
  for (wchar_t n : {L'a', L'b', L'c', L'd'}) {
    const wxRect r = Row(n)->GetRect();
    EXPECT_EQ(Row(n)->IsShown(), r.GetBottom() >= 0 && r.GetTop() < visible) << char(n);
  }
  EXPECT_FALSE(Row(L'a')->IsShown());
  const int ticks_out_of_sight = Row(L'a')->TickCount();
  ASSERT_TRUE(TicksPass(1));
  EXPECT_GT(Row(L'a')->TickCount(), ticks_out_of_sight);
  gui_test::PumpFor(std::chrono::milliseconds(200));
  gui_test::Screenshot(window, "torrent_rows_scrolled");

  // Dragging the thumb with the mouse: up by 30 px.
  const client::Rect thumb = window->Model().Thumb();
  const wxPoint grab = window->ClientToScreen({(thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2});
  const int before = window->Model().thumb_top;
  gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(grab.x), std::to_string(grab.y)});
  gui_test::RunAndPump({"xdotool", "mousedown", "1"});
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->Model().thumb_pressed; }));
  for (int dy : {10, 20, 30})
    gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(grab.x), std::to_string(grab.y - dy)});
  gui_test::RunAndPump({"xdotool", "mouseup", "1"});
  EXPECT_TRUE(gui_test::PumpUntil([&] { return window->Model().thumb_top == before - 30; }));
  EXPECT_EQ(rows.LastLayout().thumb_top, before - 30);

  // Too short for a single line, thumb or text: the rows still tick.
  window->SetSize(60, 40);
  ASSERT_TRUE(TicksPass(2));
  window->SetSize(20, 20);
  ASSERT_TRUE(TicksPass(2));
}

TEST_F(RowsFixture, RemovedFromItsMenuWhileItsStopIsStillQueued) {
  QF_REQUIRE_DISPLAY();
  Open(560, 340);
  ASSERT_TRUE(TicksPass(1));
  CTorrentDiagramm* a = Row(L'a');
  wxWeakRef<CTorrentDiagramm> a_ref(a);
  EXPECT_EQ(window->Core().Queue().ActiveCount(), 2u);

  // "Remove" from the menu, then "Pause" before the main window had a
  // chance to handle the removal.
  ui.menu_answers = {client::torrent_menu::kRemove};
  wxMouseEvent click(wxEVT_RIGHT_DOWN);
  click.SetPosition(wxPoint(83, 50));
  click.SetEventObject(a);
  a->GetEventHandler()->ProcessEvent(click);
  ASSERT_EQ(ui.menus_shown.size(), 1u);
  EXPECT_TRUE(a->Chart().Highlight());
  a->RunMenuCommand(client::torrent_menu::kPause);
  EXPECT_TRUE(Fake(L'a').paused);
  EXPECT_TRUE(a_ref);  // nothing happened yet

  ASSERT_TRUE(gui_test::PumpUntil([&] { return !a_ref; }));
  EXPECT_EQ(window->Rows().Rows().size(), 3u);
  EXPECT_FALSE(fs::exists(dir / "Torrents" / "a.torrent"));
  // The stop freed a's slot: d runs now.
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !Fake(L'd').paused; }));
  EXPECT_EQ(window->Core().Queue().ActiveCount(), 2u);
  EXPECT_EQ(Row(L'd')->GetPosition(), wxPoint(340, 0));
  ASSERT_TRUE(TicksPass(2));
  gui_test::Screenshot(window, "torrent_rows_after_remove");

  // A removal queued before a right click arrives while the row's menu is
  // open (the menu runs its own event loop): the row goes once the menu
  // closed, and the chosen command is not run.
  struct MenuLoopUi : client::ScriptedUiServices {
    std::function<void()> loop;
    int PopupMenu(const std::vector<client::MenuItem>&, int, int) override {
      loop();
      return client::torrent_menu::kResume;
    }
  } menu_loop;
  CTorrentDiagramm* c = Row(L'c');
  wxWeakRef<CTorrentDiagramm> c_ref(c);
  menu_loop.loop = [&] { gui_test::PumpUntil([&] { return c->Torrent() == nullptr; }); };
  window->Rows().ui = &menu_loop;
  window->Core().RemoveTorrent(*c->Torrent(), TorrentStatus::Paused);
  wxMouseEvent right(wxEVT_RIGHT_DOWN);
  right.SetPosition(wxPoint(83, 50));
  right.SetEventObject(c);
  c->GetEventHandler()->ProcessEvent(right);
  EXPECT_FALSE(c_ref);
  EXPECT_EQ(window->Rows().Rows().size(), 2u);
  window->Rows().ui = &ui;

  // "Properties" and "View Peers" go to the main window's hooks.
  std::vector<std::wstring> asked;
  window->Rows().show_properties = [&](client::TorrentItem& t) { asked.push_back(L"properties " + t.FileName()); };
  window->Rows().show_peers = [&](client::TorrentItem& t) { asked.push_back(L"peers " + t.FileName()); };
  Row(L'b')->RunMenuCommand(client::torrent_menu::kProperties);
  Row(L'b')->RunMenuCommand(client::torrent_menu::kViewPeers);
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"properties b.torrent", L"peers b.torrent"}));

  // The shut-down stops every row's timer before the engine goes.
  std::vector<bool> running_at_engine_stop;
  parts.session->on_destroy = [&, then = parts.session->on_destroy] {
    for (CTorrentDiagramm* row : window->Rows().Rows()) running_at_engine_stop.push_back(row->TickArmed());
    then();
  };
  window->Shutdown();
  EXPECT_EQ(running_at_engine_stop, std::vector<bool>(2, false));
  // After it the rows leave the torrents alone: the engine is gone.
  wxMouseEvent move(wxEVT_MOTION);
  move.SetPosition(wxPoint(83, 50));
  move.SetEventObject(Row(L'b'));
  Row(L'b')->GetEventHandler()->ProcessEvent(move);
  EXPECT_FALSE(Row(L'b')->Chart().Highlight());
  Row(L'b')->RunMenuCommand(client::torrent_menu::kReannounce);
}

TEST_F(RowsFixture, TheRowsMenuOpensThePropertiesAndThePeersDialogs) {
  QF_REQUIRE_DISPLAY();
  Open(560, 340);
  ASSERT_TRUE(TicksPass(1));

  // "Properties": the modal detail dialog over the main window, closed as
  // soon as it was seen.
  std::wstring properties_title;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::function<void()> look = [&] {
    for (wxWindow* w : wxTopLevelWindows)
      if (auto* dialog = dynamic_cast<CTorrentDetailDialog*>(w); dialog && dialog->IsModal()) {
        gui_test::PumpUntil([&] { return dialog->IsShownOnScreen(); });
        gui_test::PumpFor(std::chrono::milliseconds(200));
        properties_title = dialog->GetTitle().ToStdWstring();
        gui_test::Screenshot(dialog, "torrent_row_properties");
        EXPECT_EQ(dialog->GetParent(), window);
        dialog->EndModal(wxID_CANCEL);
        return;
      }
    if (std::chrono::steady_clock::now() < give_up) wxTheApp->CallAfter(look);
  };
  wxTheApp->CallAfter(look);
  Row(L'a')->RunMenuCommand(client::torrent_menu::kProperties);
  EXPECT_FALSE(properties_title.empty());

  // "View Peers": the torrent's peers dialog, titled after the torrent.
  Row(L'b')->RunMenuCommand(client::torrent_menu::kViewPeers);
  CPeerInfoDialog* peers = nullptr;
  for (wxWindow* w : wxTopLevelWindows)
    if (auto* dialog = dynamic_cast<CPeerInfoDialog*>(w)) peers = dialog;
  ASSERT_NE(peers, nullptr);
  EXPECT_EQ(peers->GetTitle(), wxString(L"b.torrent - Quillfern Peer Info"));
  EXPECT_EQ(peers->GetParent(), window);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return peers->IsShownOnScreen(); }));
  gui_test::PumpFor(std::chrono::milliseconds(200));
  gui_test::Screenshot(peers, "torrent_row_peers");
  // Asked again, the same dialog comes back.
  Row(L'b')->RunMenuCommand(client::torrent_menu::kViewPeers);
  int count = 0;
  for (wxWindow* w : wxTopLevelWindows)
    if (dynamic_cast<CPeerInfoDialog*>(w)) ++count;
  EXPECT_EQ(count, 1);
}

TEST_F(RowsFixture, TheHintShowsAfterTheMouseRestsAndGoesWhenItLeaves) {
  QF_REQUIRE_DISPLAY();
  // With the progression charts below the rows, fed quickly.
  profile.WriteProfileInt("Configuration", "Show Diagram", 1);
  profile.WriteProfileInt("Configuration", "Intervall", 10);
  parts.setup = [](client_test::RecordingSession& s) {
    s.status_figures.num_peers = 40;
    s.status_figures.upload_rate = 6000;
    s.status_figures.download_rate = 50000;
  };
  Open(560, 400);
  ASSERT_TRUE(TicksPass(1));
  // 300 ticks fill the charts: 3 s on a quiet machine, many more under a
  // sanitizer on a busy one.
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= 300; }, std::chrono::minutes(2)));
  CTorrentDiagramm* b = Row(L'b');
  auto send = [&](wxEventType type, wxPoint at) {
    wxMouseEvent event(type);
    event.SetPosition(at);
    event.SetEventObject(b);
    b->GetEventHandler()->ProcessEvent(event);
  };
  send(wxEVT_MOTION, {80, 50});
  send(wxEVT_MOTION, {81, 50});
  EXPECT_FALSE(CHinweisText::Global().IsShown());
  ASSERT_TRUE(gui_test::PumpUntil([] { return CHinweisText::Global().IsShown(); }));
  EXPECT_TRUE(b->Chart().Highlight());
  // The file name, then what the torrent's metadata tells.
  EXPECT_TRUE(CHinweisText::Global().GetText().StartsWith(L"\u25BA b.torrent\n\u25BA Created: "));
  gui_test::Screenshot(window, "torrent_row_hint");
  send(wxEVT_LEAVE_WINDOW, {200, 50});
  EXPECT_FALSE(CHinweisText::Global().IsShown());
  EXPECT_FALSE(b->Chart().Highlight());
}

}  // namespace

namespace {

// The row's real menu over a row on which the pointer rests: the hint goes
// when the menu opens and does not come back while it is open, so it never
// covers "Pause" or "Resume".
TEST_F(RowsFixture, NoHintLiesOverTheRowsMenu) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  Open(560, 340);
  ASSERT_TRUE(TicksPass(1));
  window->Rows().ui = nullptr;  // the menu the user sees
  CTorrentDiagramm* c = Row(L'c');
  const wxPoint on_row = c->ClientToScreen({83, 50});
  gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(on_row.x), std::to_string(on_row.y)});
  gui_test::RunAndPump({"xdotool", "mousemove", "--sync", std::to_string(on_row.x + 1), std::to_string(on_row.y)});
  ASSERT_TRUE(gui_test::PumpUntil([] { return CHinweisText::Global().IsShown(); }));
  gui_test::Screenshot(window, "torrent_row_hint_before_menu");

  // Looked at from a timer, which also runs in the menu's own loop: the
  // menu is open, no hint for a while longer than the hover wait, then
  // Escape closes it (also when the menu never came).
  struct Looker : wxTimer {
    std::function<void()> look;
    void Notify() override { look(); }
  } looker;
  bool menu_seen = false, hint_in_menu = false, closing = false;
  pid_t escape = -1;
  std::chrono::steady_clock::time_point opened;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  looker.look = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (closing) return;
    if (c->MenuOpen()) {
      if (!menu_seen) opened = now;
      menu_seen = true;
      hint_in_menu = hint_in_menu || CHinweisText::Global().IsShown();
    }
    const bool looked_long_enough =
        menu_seen && now - opened > std::chrono::milliseconds(3 * client::HoverTracker::kHoverMs);
    if (!looked_long_enough && now < give_up) return;
    if (menu_seen) {
      const wxRect r = window->GetScreenRect();
      std::vector<std::uint8_t> rgb;
      if (gui_test::CaptureRootRect(r.x, r.y, r.width + 200, r.height + 200, rgb)) {
        wxImage image(r.width + 200, r.height + 200, false);
        std::copy(rgb.begin(), rgb.end(), image.GetData());
        image.SaveFile((gui_test::ScreenshotFolder() / "torrent_row_menu_without_hint.png").string(),
                       wxBITMAP_TYPE_PNG);
      }
    }
    closing = true;
    looker.Stop();
    char xdotool[] = "xdotool", key[] = "key", esc[] = "Escape";
    char* argv[] = {xdotool, key, esc, nullptr};
    posix_spawnp(&escape, argv[0], nullptr, nullptr, argv, environ);
  };
  looker.Start(20);
  gui_test::RunAndPump({"xdotool", "click", "3"});
  if (escape > 0) ::waitpid(escape, nullptr, 0);
  EXPECT_TRUE(menu_seen);
  EXPECT_FALSE(hint_in_menu);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return !c->MenuOpen(); }));
  EXPECT_FALSE(CHinweisText::Global().IsShown());
}

}  // namespace
