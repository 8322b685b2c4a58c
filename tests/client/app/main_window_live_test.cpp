// The main window's live parts without a display: its menus, the removal
// of a torrent and its wait for the engine, a stopped torrent, minimising
// to the tray, the frame's buttons and thumb, the progression charts, the
// downloads log and an alert whose handling fails.

#include "client/common/paths.h"
#include "client/common/tick.h"
#include "client/app/frame_mouse.h"
#include "client/files/log_files.h"
#include "client/app/main_menu.h"
#include "client/app/main_timer.h"
#include "client/app/progression_chart.h"
#include "client/torrents/remove_sequence.h"
#include "client/app/tray_state.h"
#include "engine/session/alert_types.h"
#include "tests/client/temp_folder.h"
#include "tests/client/timer_test_support.h"
#include "tests/client/torrents/torrent_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using namespace client_test;
using client::FrameHit;

namespace {

// --- menus

std::vector<std::string> Texts(const std::vector<client::MenuItem>& items) {
  std::vector<std::string> texts;
  for (const auto& item : items) texts.push_back(item.id == 0 ? "-" : item.text);
  return texts;
}

TEST(MainMenu, EntriesFollowTheWindowsState) {
  client::MainMenuState state;
  auto items = client::MainMenuItems(state);
  EXPECT_EQ(Texts(items), (std::vector<std::string>{"Add Torrent File", "Add Torrent Hash", "-", "Make Torrent", "-",
                                                    "Pause All", "-", "Options", "Progression", "Simple View",
                                                    "Check for Update"}));
  for (const auto& item : items) {
    // wx keeps 4999..5999 for its stock ids.
    EXPECT_TRUE(item.id < 4999 || item.id > 5999) << item.text;
    EXPECT_EQ(item.is_default, item.id == client::main_menu::kMakeTorrent);
    EXPECT_FALSE(item.checked);
  }

  state = {true, true, true, true};
  items = client::MainMenuItems(state);
  EXPECT_EQ(Texts(items), (std::vector<std::string>{"Add Torrent File", "Add Torrent Hash", "-", "Make Torrent", "-",
                                                    "Pause All", "-", "Options", "Clear ban list", "Progression",
                                                    "Diagram View", "Check for Update", "Dump DHT tables"}));
  EXPECT_EQ(items[8].id, client::main_menu::kClearBanList);
  EXPECT_EQ(items[9].id, client::main_menu::kProgression);
  EXPECT_TRUE(items[9].checked);
  EXPECT_EQ(items[10].id, client::main_menu::kViewToggle);
  EXPECT_EQ(items.back().id, client::main_menu::kDumpDhtTables);

  const auto tray = client::TrayMenuItems();
  EXPECT_EQ(Texts(tray), (std::vector<std::string>{"Options", "Close"}));
  EXPECT_EQ(tray[0].id, client::tray_menu::kOptions);
  EXPECT_EQ(tray[1].id, client::tray_menu::kClose);
}

TEST(MainMenu, TheTorrentChooserStartsInTheLastSourceFolder) {
  temp_folder dir{"qf_menu_"};
  platform::profile profile(dir / "Quillfern.ini");
  // The default names no folder here: the home folder serves.
  EXPECT_EQ(client::LastTorrentSource(profile), client::HomeFolder());
  const std::string chosen = (dir / "sub" / "a.torrent").string();
  std::filesystem::create_directories(dir / "sub");
  client::RememberTorrentSource(profile, chosen);
  EXPECT_EQ(profile.GetProfileString("Configuration", "Last Torrent Source"), (dir / "sub").string() + "/");
  EXPECT_EQ(client::LastTorrentSource(profile), (dir / "sub").string() + "/");
}

// --- tray

TEST(TrayState, WithoutATrayTheWindowIsOnlyIconised) {
  client::TrayState tray;
  EXPECT_EQ(tray.Minimise(false), client::MinimiseAction::Iconise);
  EXPECT_FALSE(tray.MinimisedToTray());
  EXPECT_FALSE(tray.Restore());

  EXPECT_EQ(tray.Minimise(true), client::MinimiseAction::HideToTray);
  EXPECT_TRUE(tray.MinimisedToTray());
  tray.SetIconPresent(true);
  EXPECT_TRUE(tray.Restore());  // the icon goes
  EXPECT_FALSE(tray.MinimisedToTray());
  EXPECT_FALSE(tray.Restore());  // once
}

TEST(TrayState, TipsAreCutTo127Characters) {
  EXPECT_EQ(client::TrayTipText(std::wstring(127, L'x')).size(), 127u);
  EXPECT_EQ(client::TrayTipText(std::wstring(128, L'x')), std::wstring(127, L'x'));
  EXPECT_EQ(client::TrayTipText(L"short"), L"short");
}

// --- removal and stop

struct ReleasingDht : FakeDht {
  std::vector<engine::sha1_hash> released;
  void ReleaseInfoHash(const engine::sha1_hash& h) override { released.push_back(h); }
};

class RemoveSequenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    queue.SetMaxActive(1);
    FakeTorrent running;
    running.paused = false;
    t1 = Add(1, client::TorrentStatus::Downloading, running);
    t1->Start(false);
    t2 = Add(2, client::TorrentStatus::Queued);
    queue.OnTorrentStarted();
  }
  client::TorrentItem* Add(int n, int status, FakeTorrent engine_torrent = {}) {
    auto item = MakeTorrent(fake, events, n, status, std::move(engine_torrent));
    client::TorrentItem* raw = item.get();
    list.Add(std::move(item));
    return raw;
  }
  bool Running(int n) { return !fake.At(FakeTorrentControl::Hash(n)).paused; }

  client::FakeTick tick{0xFFFFF000};  // the wait spans the clock's wrap
  FakeTorrentControl fake;
  RecordingEvents events;
  client::CTorrentListe list;
  std::vector<std::wstring> log;
  client::TorrentQueue queue{list, [this](std::wstring line) { log.push_back(line); }};
  ReleasingDht dht;
  int rows_changed = 0;
  client::RemoveSequence removals{{list, queue, [this] { return &fake; }, [this] { return &dht; },
                                   [] { return false; }, [] { return false; }, [this] { ++rows_changed; },
                                   [this](std::wstring line) { log.push_back(line); }}};
  client::TorrentItem* t1 = nullptr;
  client::TorrentItem* t2 = nullptr;
};

TEST_F(RemoveSequenceTest, ARunningTorrentGivesItsSlotOnlyOnceTheEngineDroppedIt) {
  fake.At(FakeTorrentControl::Hash(1)).removal_polls = 3;
  EXPECT_TRUE(removals.Remove(*t1, client::TorrentStatus::Downloading));
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(rows_changed, 1);
  ASSERT_EQ(dht.released.size(), 1u);
  EXPECT_EQ(dht.released[0], FakeTorrentControl::Hash(1));
  EXPECT_TRUE(fake.At(FakeTorrentControl::Hash(1)).removing);
  EXPECT_FALSE(Running(2));  // not before the engine let go
  EXPECT_EQ(queue.ActiveCount(), 0u);  // the count is that of the rows shown

  tick.Advance(20);
  EXPECT_TRUE(removals.Poll());
  EXPECT_FALSE(Running(2));
  tick.Advance(20);
  EXPECT_FALSE(removals.Poll());  // the third look finds it gone
  EXPECT_TRUE(Running(2));
  EXPECT_EQ(queue.ActiveCount(), 1u);
  EXPECT_FALSE(removals.Waiting());
}

TEST_F(RemoveSequenceTest, AnEngineThatKeepsTheTorrentHoldsTheQueueOnlyUntilTheTimeOut) {
  fake.At(FakeTorrentControl::Hash(1)).removal_polls = -1;  // never goes
  EXPECT_TRUE(removals.Remove(*t1, client::TorrentStatus::Downloading));
  tick.Advance(client::kRemoveWaitMs - 1);
  EXPECT_TRUE(removals.Poll());
  EXPECT_FALSE(Running(2));
  tick.Advance(1);
  EXPECT_FALSE(removals.Poll());
  EXPECT_TRUE(Running(2));
}

TEST_F(RemoveSequenceTest, AnAddOfATorrentBeingRemovedIsCarriedOutOnceTheEngineLetGo) {
  fake.At(FakeTorrentControl::Hash(1)).removal_polls = 3;
  EXPECT_TRUE(removals.Remove(*t1, client::TorrentStatus::Downloading));
  std::vector<std::string> done;
  EXPECT_TRUE(removals.AfterRemoval(FakeTorrentControl::Hash(1), [&] {
    // After the queue had its turn, the engine without the torrent.
    done.push_back(Running(2) && !fake.is_valid(FakeTorrentControl::Hash(1)) ? "added" : "too early");
  }));
  EXPECT_FALSE(removals.AfterRemoval(FakeTorrentControl::Hash(2), [&] { done.push_back("other"); }));
  EXPECT_TRUE(removals.Poll());
  EXPECT_TRUE(done.empty());
  EXPECT_FALSE(removals.Poll());
  EXPECT_EQ(done, std::vector<std::string>{"added"});
  // Once over, nothing waits for that torrent any more.
  EXPECT_FALSE(removals.AfterRemoval(FakeTorrentControl::Hash(1), [&] { done.push_back("again"); }));
  EXPECT_FALSE(removals.Poll());
  EXPECT_EQ(done.size(), 1u);
}

TEST_F(RemoveSequenceTest, AnAddKeptForAnEngineThatKeepsTheTorrentRunsAtTheTimeOut) {
  fake.At(FakeTorrentControl::Hash(1)).removal_polls = -1;  // never goes
  EXPECT_TRUE(removals.Remove(*t1, client::TorrentStatus::Downloading));
  int adds = 0;
  EXPECT_TRUE(removals.AfterRemoval(FakeTorrentControl::Hash(1), [&] { ++adds; }));
  tick.Advance(client::kRemoveWaitMs - 1);
  EXPECT_TRUE(removals.Poll());
  EXPECT_EQ(adds, 0);
  tick.Advance(1);
  EXPECT_FALSE(removals.Poll());
  EXPECT_EQ(adds, 1);
}

TEST_F(RemoveSequenceTest, APausedTorrentGoesAtOnceAndLeavesTheCountAsItWas) {
  queue.SetMaxActive(2);
  // Torrent 2 is paused and gone from the engine at once.
  EXPECT_FALSE(removals.Remove(*t2, client::TorrentStatus::Queued));
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(queue.ActiveCount(), 1u);
  EXPECT_FALSE(removals.Waiting());
}

TEST_F(RemoveSequenceTest, StoppedTorrentsReleaseTheirHashOrLogTheirFailure) {
  removals.Stopped(*t1, client::TorrentStatus::Seeding);
  ASSERT_EQ(dht.released.size(), 1u);
  removals.Stopped(*t1, client::TorrentStatus::Error);
  EXPECT_EQ(log.back(), L"t1.torrent failed");
  EXPECT_EQ(dht.released.size(), 1u);
  // A count at 0 stays 0; the queue refills, without the stopped torrent.
  fake.At(FakeTorrentControl::Hash(1)).paused = true;
  queue.ResetActive();
  removals.Stopped(*t1, client::TorrentStatus::Paused);
  EXPECT_TRUE(Running(2));
  EXPECT_FALSE(Running(1));
}

// --- frame buttons, thumb, moving and resizing

class FrameMouseTest : public ::testing::Test {
 protected:
  void SetUp() override { model.ResizeWindow(300, 200); }
  client::Point Centre(const client::Rect& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
  FrameHit Hit(client::Point p) { return client::HitTestFrame(model.layout, model.thumb_top, p, mouse.DraggingThumb()); }

  client::FrameModel model;
  client::FrameMouse mouse;
};

TEST_F(FrameMouseTest, ButtonsActOnlyWhenReleasedWhereTheyWerePressed) {
  const client::Point close = Centre(model.layout.close_button);
  const client::Point minimise = Centre(model.layout.minimise_button);
  ASSERT_EQ(Hit(close), FrameHit::Close);
  ASSERT_EQ(Hit(minimise), FrameHit::MinButton);

  EXPECT_TRUE(mouse.LeftDown(FrameHit::Close, close, model).redraw);
  EXPECT_TRUE(mouse.ClosePressed());
  EXPECT_TRUE(model.close_hot);
  EXPECT_TRUE(mouse.LeftUp(FrameHit::Close, model).close);
  EXPECT_FALSE(mouse.ClosePressed());

  // Pressed, moved off: released elsewhere, nothing happens.
  mouse.LeftDown(FrameHit::Close, close, model);
  EXPECT_TRUE(mouse.Motion(FrameHit::Caption, {40, 12}, model, 0).redraw);
  EXPECT_FALSE(mouse.ClosePressed());
  EXPECT_FALSE(model.close_hot);
  auto up = mouse.LeftUp(FrameHit::Close, model);
  EXPECT_FALSE(up.close);

  mouse.LeftDown(FrameHit::MinButton, minimise, model);
  up = mouse.LeftUp(FrameHit::MinButton, model);
  EXPECT_TRUE(up.minimise);
  EXPECT_FALSE(up.close);
  // Pressing close and releasing on minimise does neither.
  mouse.LeftDown(FrameHit::Close, close, model);
  up = mouse.LeftUp(FrameHit::MinButton, model);
  EXPECT_FALSE(up.minimise || up.close);
}

TEST_F(FrameMouseTest, CaptionMovesAndBordersResize) {
  EXPECT_TRUE(mouse.LeftDown(FrameHit::Caption, {40, 12}, model).begin_move);
  for (FrameHit edge : {FrameHit::Left, FrameHit::Right, FrameHit::Top, FrameHit::Bottom, FrameHit::TopLeft,
                        FrameHit::TopRight, FrameHit::BottomLeft, FrameHit::BottomRight}) {
    const auto r = mouse.LeftDown(edge, {0, 0}, model);
    EXPECT_TRUE(r.begin_resize);
    EXPECT_EQ(r.edge, edge);
  }
  const auto client = mouse.LeftDown(FrameHit::Client, {100, 100}, model);
  EXPECT_FALSE(client.begin_move || client.begin_resize);

  const client::Rect start{100, 100, 400, 300};
  EXPECT_EQ(client::DraggedWindowRect(FrameHit::Caption, start, {5, -7}), (client::Rect{105, 93, 405, 293}));
  EXPECT_EQ(client::DraggedWindowRect(FrameHit::BottomRight, start, {20, 30}), (client::Rect{100, 100, 420, 330}));
  EXPECT_EQ(client::DraggedWindowRect(FrameHit::Left, start, {-10, 50}), (client::Rect{90, 100, 400, 300}));
  // Never smaller than the frame around the smallest client area.
  EXPECT_EQ(client::DraggedWindowRect(FrameHit::TopLeft, start, {1000, 1000}), (client::Rect{364, 259, 400, 300}));
  EXPECT_EQ(client::DraggedWindowRect(FrameHit::Right, start, {-1000, 0}), (client::Rect{100, 100, 136, 300}));
}

TEST_F(FrameMouseTest, TheThumbFollowsADragWithinItsTrackAndTheRowsAtMostEvery50Ms) {
  const client::Rect track = model.layout.scroll_track;
  const client::Point thumb = Centre(model.Thumb());
  ASSERT_EQ(Hit(thumb), FrameHit::VScroll);
  mouse.LeftDown(FrameHit::VScroll, thumb, model);
  EXPECT_TRUE(mouse.DraggingThumb());
  EXPECT_TRUE(model.thumb_pressed);
  // While dragging, every point counts as the thumb.
  EXPECT_EQ(Hit({1, 1}), FrameHit::VScroll);

  auto r = mouse.Motion(FrameHit::VScroll, {thumb.x, thumb.y + 30}, model, 1000);
  EXPECT_EQ(model.thumb_top, track.top + 30);
  EXPECT_TRUE(r.relayout);
  r = mouse.Motion(FrameHit::VScroll, {thumb.x, thumb.y + 40}, model, 1049);
  EXPECT_EQ(model.thumb_top, track.top + 40);
  EXPECT_FALSE(r.relayout);
  r = mouse.Motion(FrameHit::VScroll, {thumb.x, thumb.y + 10000}, model, 1050);
  EXPECT_EQ(model.thumb_top, track.bottom - client::kThumbHeight);
  EXPECT_TRUE(r.relayout);
  mouse.Motion(FrameHit::VScroll, {thumb.x, -10000}, model, 2000);
  EXPECT_EQ(model.thumb_top, track.top);
  r = mouse.LeftUp(FrameHit::VScroll, model);
  EXPECT_TRUE(r.relayout);
  EXPECT_FALSE(mouse.DraggingThumb());
  EXPECT_FALSE(model.thumb_pressed);

  // The right button drags the thumb too, and nothing else.
  EXPECT_FALSE(mouse.RightDown(FrameHit::Caption, {40, 12}, model).redraw);
  mouse.RightDown(FrameHit::VScroll, Centre(model.Thumb()), model);
  EXPECT_TRUE(mouse.DraggingThumb());
}

// --- progression charts

TEST(ProgressionChart, SampleHeightsStayWithinTheChartWhateverTheScale) {
  EXPECT_EQ(client::ProgressionSampleHeight(50, 100), 50);
  EXPECT_EQ(client::ProgressionSampleHeight(99.9f, 1000), 9);
  EXPECT_EQ(client::ProgressionSampleHeight(5000, 100), 100);
  // "MaxDownloadRate" -1 (unlimited) and a 0 scale.
  EXPECT_EQ(client::ProgressionSampleHeight(3000, -1), 0);
  EXPECT_EQ(client::ProgressionSampleHeight(3000, 0), 100);
  EXPECT_EQ(client::ProgressionSampleHeight(0, 0), 0);
  EXPECT_EQ(client::ProgressionSampleHeight(std::numeric_limits<float>::quiet_NaN(), 100), 0);
  EXPECT_EQ(client::ProgressionSampleHeight(std::numeric_limits<float>::infinity(), 100), 100);

  const auto scales = client::ProgressionScales(100, 10240, -1);
  EXPECT_EQ(scales, (std::array<double, 5>{100, 10240, -1, 3000, 3000}));

  const client::ProgressionPlacement place = client::PlaceProgression(400, 300);
  EXPECT_EQ(place.baseline - place.top, 100);
  EXPECT_LT(place.baseline, 300 - 2 * client::kTextLineHeight);
  std::array<float, client::kProgressionSamples> samples{};
  samples.back() = 1500;
  const auto line = client::ProgressionPolyline(samples, 3000, place);
  ASSERT_EQ(line.size(), 200u);
  EXPECT_EQ(line.front(), (client::Point{place.series_left, place.baseline}));
  EXPECT_EQ(line.back(), (client::Point{place.series_left + 199, place.baseline - 50}));
}

// --- log files

TEST(LogFiles, ANewFileGetsTheMarkAndLaterLinesAreAppended) {
  temp_folder dir{"qf_logs_"};
  const auto file = dir / std::string(client::kDownloadsLogFileName);
  ASSERT_TRUE(client::AppendLogLine(file, L"Tue - a"));
  ASSERT_TRUE(client::AppendLogLine(file, L"b\u00e4"));
  const std::string bytes = temp_folder::read(file);
  static const char kBytes[] = "\xFF\xFE" "T\0u\0e\0 \0-\0 \0a\0\r\0\n\0" "b\0\xE4\0\r\0\n\0";
  const std::string expected(kBytes, sizeof kBytes - 1);
  EXPECT_EQ(bytes, expected);

  // In place: a second name for the file sees the new line (a rewrite
  // would leave it the old file), and an emoji is one surrogate pair.
  std::filesystem::create_hard_link(file, dir / "second name");
  ASSERT_TRUE(client::AppendLogLine(file, L"😀"));
  static const char kMore[] = "\x3D\xD8\x00\xDE\r\0\n\0";
  EXPECT_EQ(temp_folder::read(dir / "second name"), expected + std::string(kMore, sizeof kMore - 1));
  EXPECT_FALSE(client::AppendLogLine(dir / "no folder" / "x.log.txt", L"x"));
}

// --- an alert whose handling fails

struct FailingSink : RecordingSink {
  int failures = 1;
  void AppendTorrentLog(client::TorrentItem& t, const std::wstring& line) override {
    if (failures-- > 0) throw std::runtime_error("disk full");
    RecordingSink::AppendTorrentLog(t, line);
  }
};

TEST(MainTimerAlerts, AFailingAlertCostsOnlyItself) {
  client::FakeTick tick{1000};
  FakeTorrentControl fake;
  RecordingEvents events;
  client::CTorrentListe list;
  list.Add(MakeTorrent(fake, events, 1, client::TorrentStatus::Downloading));
  FailingSink sink;
  client::MainTimer timer{list, sink};
  FakeSession session;
  const auto handle = engine::torrent_handle(nullptr, FakeTorrentControl::Hash(1));
  session.Post<engine::tracker_alert>(handle, 1, 404, "first");
  session.Post<engine::tracker_alert>(handle, 1, 404, "second");
  client::MainTimerInput input;
  input.session = &session;
  input.local_address = "0.0.0.0";
  const client::MainTimerResult result = timer.Tick(input);
  // The fault is logged with its text.
  EXPECT_EQ(sink.log, (std::vector<std::wstring>{L"first", L"Unexpected error in the handling of an alert: disk full",
                                                 L"second"}));
  ASSERT_EQ(sink.torrent_log.size(), 1u);
  EXPECT_EQ(sink.torrent_log[0].second, L"[stamp] - second");
  EXPECT_TRUE(session.alerts.empty());
  // The rest of the tick ran.
  EXPECT_FALSE(timer.ListeningLine().empty());
  ASSERT_TRUE(result.caption);
}

}  // namespace
