// The main window in this process: start-up with the real engine, the
// one-shot main timer, the caption, closing; and a window whose engine
// does not start.

#include "client/app/wx/CTorrentAnzeige.h"
#include "platform/profile.h"
#include "tests/client/app/fake_engine_parts.h"
#include "tests/gui_support/gui_harness.h"

#include <wx/weakref.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct MainWindowFixture : ::testing::Test {
  fs::path dir;
  platform::profile profile{""};

  void SetUp() override {
    dir = fs::temp_directory_path() / ("qf_main_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    profile = platform::profile(dir / "Quillfern.ini");
    platform::profile::set_application_file(dir / "Quillfern.ini");
    Put("Torrents", (dir / "Torrents").string());
    Put("MinPort", 0);  // any free port
    Put("MaxPort", 0);
    Put("DHTPort", 0);
    Put("Intervall", 40);
  }
  void TearDown() override {
    platform::profile::set_application_file({});
    fs::remove_all(dir);
  }
  void Put(const char* key, int value) { profile.WriteProfileInt("Configuration", key, value); }
  void Put(const char* key, const std::string& value) { profile.WriteProfileString("Configuration", key, value); }

  // Closes the window as the user would and waits until it is gone.
  static void CloseAndWait(CTorrentAnzeige* window) {
    wxWeakRef<CTorrentAnzeige> ref(window);
    window->Close();
    EXPECT_TRUE(gui_test::PumpUntil([&] { return !ref; }));
  }
};

TEST_F(MainWindowFixture, StartsTicksAndClosesWithItsSettingsWritten) {
  QF_REQUIRE_DISPLAY();
  auto* window = new CTorrentAnzeige(profile);
  ASSERT_TRUE(window->Create({30, 40, 530, 340}));
  window->Show();
  ASSERT_NE(window->Core().Session(), nullptr);
  EXPECT_TRUE(window->Core().Session()->is_listening());

  // The first tick after 1000 ms, then one every "Intervall" (one-shot,
  // re-armed by each tick).
  EXPECT_TRUE(window->MainTimer().IsOneShot());
  EXPECT_EQ(window->MainTimer().GetInterval(), CTorrentAnzeige::kFirstTickMs);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= 3; }));
  EXPECT_TRUE(window->MainTimer().IsOneShot());
  EXPECT_EQ(window->MainTimer().GetInterval(), 40);
  EXPECT_EQ(window->GetTitle(), "Quillfern 0/4 - 0/0MB - DHT 0/0");
  EXPECT_EQ(window->Model().title, L"Quillfern 0/4 - 0/0MB - DHT 0/0");

  const wxImage shot = gui_test::CaptureUntil(window, [](const wxImage& image) {
    return gui_test::PixelAt(image, image.GetWidth() / 2, image.GetHeight() / 2) != gui_test::Rgb8{0, 0, 0};
  });
  ASSERT_TRUE(shot.IsOk());
  gui_test::Screenshot(window, "quillfern_main_window");
  EXPECT_EQ(shot.GetWidth(), 500);
  EXPECT_EQ(shot.GetHeight(), 300);

  CloseAndWait(window);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Left", -1), 30);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Top", -1), 40);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Right", -1), 530);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Bottom", -1), 340);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Intervall", -1), 40);
  EXPECT_TRUE(fs::exists(dir / "Torrents" / "TorrentQueue.txt"));
  EXPECT_TRUE(fs::exists(dir / "Torrents" / "IpAddress.FilterData"));
}

TEST_F(MainWindowFixture, RunsWithoutAnEngineThatFailsToStart) {
  QF_REQUIRE_DISPLAY();
  client_test::FakeEngineParts parts;
  parts.throw_on_make = true;
  auto* window = new CTorrentAnzeige(profile, &parts);
  ASSERT_TRUE(window->Create({30, 40, 530, 340}));
  window->Show();
  EXPECT_EQ(window->Core().Session(), nullptr);
  ASSERT_TRUE(gui_test::PumpUntil([&] { return window->TickCount() >= 2; }));
  EXPECT_EQ(window->GetTitle(), "Quillfern 0/4");
  CloseAndWait(window);
  EXPECT_EQ(profile.GetProfileInt("Configuration", "Pos Left", -1), 30);
}

}  // namespace
