// The real Quillfern program as a user meets it: every entry of the main
// window's context menu, and OK and Cancel of every dialog, through real
// clicks and keys (xdotool) on the program's own windows. Each path checks
// what it should leave behind (a row, the list file, the profile, a dialog
// gone) and leaves a picture in build/screenshots/.

#include "client/dialogs/make_torrent_model.h"
#include "client/torrents/wx/CHashTorrentHinzufuegen.h"
#include "client/torrents/wx/CZielordnerDialog.h"
#include "client/base/wx/dialog_buttons.h"
#include "program_support.h"
#include "tests/client/net/http_test_server.h"
#include "tests/engine/session/swarm_fixture.h"

#include <wx/button.h>
#include <wx/sizer.h>

#include <cstdlib>
#include <functional>
#include <optional>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

// The main window covers 20,20 to 420,220; its client area starts below
// the 24 pixels of the caption. The first row's tile lies below the info
// box; the last text lines of the client area lie below the rows.
constexpr int kWindowLeft = 20;
constexpr int kWindowTop = 20;
constexpr int kRowX = kWindowLeft + 9 + 83, kRowY = kWindowTop + 24 + 86;
constexpr int kFreeX = kWindowLeft + 250, kFreeY = kWindowTop + 24 + 146;

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

void Keys(const std::string& keys) { EXPECT_EQ(Shell("xdotool key --delay 40 " + keys), 0) << keys; }
void Type(const std::string& text) { EXPECT_EQ(Shell("xdotool type --delay 15 '" + text + "'"), 0) << text; }
void ClickScreen(int x, int y, int button = 1) {
  EXPECT_EQ(Shell("xdotool mousemove --sync " + std::to_string(x) + " " + std::to_string(y) + " click " +
                std::to_string(button)),
            0);
}

struct Geometry {
  int x = 0, y = 0, width = 0, height = 0;
};

std::optional<Geometry> GeometryOf(const std::string& window) {
  const std::string text = Output("xdotool getwindowgeometry --shell " + window + " 2>/dev/null");
  Geometry g;
  int found = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const int value = std::atoi(line.c_str() + eq + 1);
    if (key == "X") g.x = value, ++found;
    if (key == "Y") g.y = value, ++found;
    if (key == "WIDTH") g.width = value, ++found;
    if (key == "HEIGHT") g.height = value, ++found;
  }
  if (found != 4) return std::nullopt;
  return g;
}

// The picture of a rectangle of the screen.
bool Shoot(const Geometry& g, const std::string& name) {
  std::vector<std::uint8_t> rgb;
  if (g.width <= 0 || g.height <= 0 || !gui_test::CaptureRootRect(g.x, g.y, g.width, g.height, rgb)) return false;
  wxImage image(g.width, g.height, false);
  std::copy(rgb.begin(), rgb.end(), image.GetData());
  return image.SaveFile((gui_test::ScreenshotFolder() / (name + ".png")).string(), wxBITMAP_TYPE_PNG);
}

// Whether the screen's rectangle is the same in two captures a moment
// apart (drawn, not drawing).
bool Settled(const Geometry& g) {
  std::vector<std::uint8_t> first, second;
  if (!gui_test::CaptureRootRect(g.x, g.y, g.width, g.height, first)) return false;
  std::this_thread::sleep_for(100ms);
  return gui_test::CaptureRootRect(g.x, g.y, g.width, g.height, second) && first == second;
}

// Where control `id` of `dialog` has its middle, from the dialog's bottom
// right corner (or its top left): the test makes the dialog with the same
// toolkit, theme and fonts as the program, so the program's stands alike.
wxPoint FromCorner(wxDialog* dialog, int id, bool top_left = false) {
  const wxRect r = dialog->FindWindow(id)->GetRect();
  const wxPoint middle(r.x + r.width / 2, r.y + r.height / 2);
  return top_left ? middle : middle - wxPoint(dialog->GetClientSize().x, dialog->GetClientSize().y);
}
// The foot of OK and Cancel that most dialogs have.
std::pair<wxPoint, wxPoint> OkCancelFoot() {
  wxDialog dialog(nullptr, wxID_ANY, "foot");
  auto* content = new wxBoxSizer(wxVERTICAL);
  content->Add(200, 100);
  LayOutWithOkCancel(&dialog, content, 1, 2);
  return {FromCorner(&dialog, 1), FromCorner(&dialog, 2)};
}

struct UserPaths : ProgramFixture {
  pid_t pid = -1;
  fs::path log;

  fs::path ListFile() const { return DataFolder() / "TorrentQueue.txt"; }

  void StartProgram(const std::vector<std::string>& args = {}) {
    log = dir / "program.log";
    pid = Start(args, log, dir / "work");
    ASSERT_TRUE(test_support::wait_until([&] { return !Windows(pid).empty(); })) << ReadFile(log);
    // The first tick has put its figures into the caption.
    ASSERT_TRUE(test_support::wait_until([&] {
      return !Output("xdotool search --all --pid " + std::to_string(pid) + " --name '^Quillfern .*MB' 2>/dev/null").empty();
    })) << ReadFile(log);
  }
  void Close() {
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0) << ReadFile(log);
  }

  // The shown window of the program whose caption matches `name`; of
  // several, the largest (a row's hint bears the program's name too).
  std::string Shown(const std::string& name) const {
    std::istringstream ids(
        Output("xdotool search --all --onlyvisible --pid " + std::to_string(pid) + " --name '" + name +
               "' 2>/dev/null"));
    std::string largest;
    int largest_area = 0;
    for (std::string id; std::getline(ids, id);) {
      const auto g = GeometryOf(id);
      if (g && g->width * g->height > largest_area) largest = id, largest_area = g->width * g->height;
    }
    return largest;
  }
  // Waits for that window and gives it the keyboard; its picture once it
  // is drawn.
  std::string WaitShown(const std::string& name, const std::string& picture) {
    std::string id;
    EXPECT_TRUE(test_support::wait_until([&] { return !(id = Shown(name)).empty(); })) << name << "\n"
                                                                                        << ReadFile(log);
    if (id.empty()) return id;
    // Placed and sized (a message box grows to its text after it shows),
    // and drawn.
    std::optional<Geometry> g;
    EXPECT_TRUE(test_support::wait_until([&] {
      const auto before = GeometryOf(id);
      if (!before || before->width <= 1 || !Settled(*before)) return false;
      g = GeometryOf(id);
      return g && g->x == before->x && g->y == before->y && g->width == before->width && g->height == before->height;
    }));
    Shell("xdotool windowfocus --sync " + id);
    if (g) {
      EXPECT_TRUE(Shoot(*g, picture));
    }
    return id;
  }
  // A click at `offset` from the bottom right corner (or the top left) of
  // the window.
  void ClickIn(const std::string& window, wxPoint offset, bool top_left = false) {
    const auto g = GeometryOf(window);
    ASSERT_TRUE(g);
    ClickScreen(g->x + (top_left ? 0 : g->width) + offset.x, g->y + (top_left ? 0 : g->height) + offset.y);
  }
  bool Gone(const std::string& name) const {
    return test_support::wait_until([&] { return Shown(name).empty(); });
  }

  // A right click on the free client area, then the `downs`-th entry of
  // the menu (separators are skipped).
  void MenuEntry(int downs, const std::string& picture = "") {
    const Geometry area{kFreeX, kFreeY, 120, 60};
    std::vector<std::uint8_t> before, now;
    ASSERT_TRUE(gui_test::CaptureRootRect(area.x, area.y, area.width, area.height, before));
    ClickScreen(area.x, area.y, 3);
    // The menu covers the corner below and right of the pointer.
    ASSERT_TRUE(test_support::wait_until([&] { return MenuShown(pid) && Settled(area); }));
    // The pointer leaves the menu: no entry is chosen by it.
    Shell("xdotool mousemove --sync 2 2");
    std::string keys;
    for (int i = 0; i < downs; ++i) keys += " Down";
    Keys(keys);
    if (!picture.empty()) {
      const Geometry menu{area.x - 4, area.y - 4, 240, 330};
      EXPECT_TRUE(test_support::wait_until([&] { return Settled(menu); }));
      EXPECT_TRUE(Shoot(menu, picture));
    }
    Keys("Return");
  }

  // The profile's value as the program wrote it.
  std::string Setting(const char* key) const { return Profile().GetProfileString("Configuration", key); }
  int SettingInt(const char* key) const { return Profile().GetProfileInt("Configuration", key, -12345); }

  // A value of the torrent's section in the list file.
  std::optional<std::u16string> Listed(const fs::path& torrent, const char16_t* key) const {
    client::Utf16IniFile ini;
    if (!ini.Load(ListFile())) return std::nullopt;
    return ini.Get(client::EscapeSectionName(client::WideToUtf16(client::Utf8ToWide(torrent.string()))), key);
  }
};

// Entries of the menu, counted from the top (separators do not count):
// with a filter and a DHT node.
enum Entry {
  kAddTorrentFile = 1,
  kAddTorrentHash,
  kMakeTorrent,
  kPauseAll,
  kOptions,
  kClearBanList,
  kProgression,
  kViewToggle,
  kCheckForUpdate,
  kDumpDhtTables,
};

TEST_F(UserPaths, TheMenuEntriesThatActAtOnce) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  // A ban of an earlier run, saved at its shut-down.
  fs::create_directories(DataFolder());
  std::ofstream(DataFolder() / "IpAddress.FilterData", std::ios::binary) << "3.0.0.0 - 3.0.0.255, 1,\r\n";
  client_test::http_test_server server([](const std::string& path, client_test::http_test_server::connection& c) {
    if (path == "/currentversion.txt") c.reply("200 OK", "", "1.3.0.9999\r\nBetter peers\r\n");
    if (path.starts_with("/ann?")) c.reply("200 OK", "", "d8:intervali1800e5:peers0:e");
  });
  const auto announced = [&](const std::string& event) {
    for (const std::string& request : server.requests())
      if (request.starts_with("GET /ann?") && request.find("event=" + event) != std::string::npos) return true;
    return false;
  };
  Profile().WriteProfileString("Configuration", "Update URL", server.url("/currentversion.txt"));
  // A DHT node of its own, for "Dump DHT tables".
  std::uint16_t dht_port = 0;
  ::close(client_test::loopback_listener(dht_port));
  Profile().WriteProfileInt("Configuration", "DHTPort", dht_port);
  // A torrent that announces to the test.
  const fs::path torrent = dir / "work" / "a film.torrent";
  const std::string tracker = server.url("/ann");
  std::ofstream(torrent, std::ios::binary) << "d8:announce" << tracker.size() << ":" << tracker
                                           << "4:infod6:lengthi1000e4:name6:a film12:piece lengthi16384e6:pieces20:"
                                           << std::string(20, 'x') << "ee";
  StartProgram({torrent.string()});
  ASSERT_TRUE(test_support::wait_until([&] { return announced("started"); })) << ReadFile(log);

  MenuEntry(kCheckForUpdate, "main_menu_program");
  EXPECT_TRUE(test_support::wait_until([&] {
    return ReadFile(log).find("Quillfern Version 1.3.0 Build 9999 is available. (Better peers)") != std::string::npos;
  })) << ReadFile(log);

  MenuEntry(kDumpDhtTables);
  const fs::path dumps = dir / "config/Quillfern/dht_logs";
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(dumps / "nodes.txt"); }));
  EXPECT_TRUE(fs::exists(dumps / "info_hashs.txt"));

  MenuEntry(kProgression);
  MenuEntry(kViewToggle);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("main_menu_progression_simple_view"); }));
  // Pause All: the torrent leaves its tracker.
  MenuEntry(kPauseAll);
  EXPECT_TRUE(test_support::wait_until([&] { return announced("stopped"); })) << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("main_menu_pause_all"); }));
  MenuEntry(kClearBanList);
  Close();
  EXPECT_EQ(SettingInt("Show Diagram"), 1);
  EXPECT_EQ(SettingInt("Simple Display"), 1);
  // The bans went, those of the earlier run as well.
  const std::string filter = ReadFile(DataFolder() / "IpAddress.FilterData");
  EXPECT_NE(filter.find("\r\n0.0.0.0 - 255.255.255.255, 128,\r\n"), std::string::npos) << filter;
  EXPECT_EQ(filter.find("3.0.0."), std::string::npos) << filter;
}

TEST_F(UserPaths, AddTorrentFileHashMakeTorrentAndOptionsDialogs) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  const fs::path source = dir / "work" / "picked.torrent";
  WriteTorrent(source, "picked");
  // Ports the options dialog accepts.
  std::uint16_t port = 0;
  ::close(client_test::loopback_listener(port));
  Profile().WriteProfileInt("Configuration", "MinPort", port);
  Profile().WriteProfileInt("Configuration", "MaxPort", port);
  Profile().WriteProfileString("Configuration", "Last Torrent Source", (dir / "work").string() + "/");
  StartProgram();

  // "Add Torrent File": Cancel adds nothing; a file typed in and opened is
  // added, and its folder is where the chooser starts next time.
  MenuEntry(kAddTorrentFile);
  WaitShown("^Add Torrent File$", "add_torrent_file_program");
  Keys("Escape");
  EXPECT_TRUE(Gone("^Add Torrent File$"));
  MenuEntry(kAddTorrentFile);
  WaitShown("^Add Torrent File$", "add_torrent_file_program");
  Keys("ctrl+l");
  Type(source.string());
  Keys("Return");
  EXPECT_TRUE(Gone("^Add Torrent File$"));
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "picked.torrent"); })) << ReadFile(log);

  // "Add Torrent Hash": Cancel adds nothing.
  MenuEntry(kAddTorrentHash);
  const std::string hash_dialog = WaitShown("^Add Torrent - Quillfern$", "add_torrent_hash_program");
  wxPoint hash_ok, hash_cancel;
  {
    client::ScriptedUiServices ui;
    CHashTorrentHinzufuegen like(nullptr, platform::profile(dir / "like.ini"), &ui);
    hash_ok = FromCorner(&like, client::kIdHashOk);
    hash_cancel = FromCorner(&like, client::kIdHashCancel);
  }
  Type("00112233445566778899AABBCCDDEEFF00112233");
  ClickIn(hash_dialog, hash_cancel);
  EXPECT_TRUE(Gone("^Add Torrent - Quillfern$"));
  // OK with a hash, a tracker and a folder: a row with a placeholder file.
  MenuEntry(kAddTorrentHash);
  WaitShown("^Add Torrent - Quillfern$", "add_torrent_hash_program");
  Type("00112233445566778899AABBCCDDEEFF00112233");
  Keys("Tab");
  Type("http://127.0.0.1:1/announce");
  Keys("Tab");
  Type((dir / "downloads").string() + "/");
  ClickIn(Shown("^Add Torrent - Quillfern$"), hash_ok);
  EXPECT_TRUE(Gone("^Add Torrent - Quillfern$"));
  const fs::path placeholder = DataFolder() / "00112233445566778899AABBCCDDEEFF00112233.Torrent";
  EXPECT_TRUE(test_support::wait_until([&] { return ReadFile(placeholder) == "Quillfern: temporary"; }))
      << ReadFile(log);
  EXPECT_EQ(Setting("HTH Tracker Url"), "http://127.0.0.1:1/announce");
  EXPECT_EQ(Setting("HTH Save Path"), (dir / "downloads").string() + "/");
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("add_torrent_hash_row_program"); }));
  // A hash that is none: the failure is told.
  MenuEntry(kAddTorrentHash);
  WaitShown("^Add Torrent - Quillfern$", "add_torrent_hash_program");
  Type("not a hash");
  Keys("Return");
  EXPECT_TRUE(Gone("^Add Torrent - Quillfern$"));
  const std::string box = WaitShown("^Quillfern$", "add_torrent_hash_failed_program");
  Keys("Return");
  EXPECT_TRUE(test_support::wait_until([&] { return Shown("^Quillfern$") != box; }));

  // "Make Torrent": the comment typed in is kept by OK; Cancel closes too.
  for (const bool ok : {true, false}) {
    MenuEntry(kMakeTorrent);
    const std::string make = WaitShown("^Make Torrent$", ok ? "make_torrent_program" : "make_torrent_cancel_program");
    const auto m = GeometryOf(make);
    ASSERT_TRUE(m);
    // Its controls stand where its dialog units put them.
    auto at = [&](int control) {
      for (const client::DialogControl& c : client::MakeTorrentControls())
        if (c.id == control)
          return std::pair{m->x + (c.place.left + c.place.right) / 2 * m->width / client::kMakeTorrentDialogSize.cx,
                           m->y + (c.place.top + c.place.bottom) / 2 * m->height / client::kMakeTorrentDialogSize.cy};
      return std::pair{0, 0};
    };
    const auto [comment_x, comment_y] = at(client::kIdComment);
    ClickScreen(comment_x, comment_y);
    Keys("ctrl+a");
    Type(ok ? "made by hand" : "typed before Cancel");
    const auto [button_x, button_y] = at(ok ? client::kIdOk : client::kIdCancel);
    ClickScreen(button_x, button_y);
    EXPECT_TRUE(Gone("^Make Torrent$"));
    // Both keep the dialog's settings.
    EXPECT_TRUE(test_support::wait_until([&] { return Setting("Torrent Comment") == (ok ? "made by hand" : "typed before Cancel"); }));
  }
  // "Options": OK keeps the upload limit typed into its first field,
  // Cancel does not.
  const auto [foot_ok, foot_cancel] = OkCancelFoot();
  for (const bool ok : {true, false}) {
    MenuEntry(kOptions);
    const std::string options = WaitShown("^Options - Quillfern$", ok ? "options_program" : "options_cancel_program");
    Keys("ctrl+a");
    Type(ok ? "77" : "99");
    ClickIn(options, ok ? foot_ok : foot_cancel);
    EXPECT_TRUE(Gone("^Options - Quillfern$"));
    EXPECT_EQ(SettingInt("MaxUploadRate"), 77 * 1024);
  }

  Close();
  EXPECT_TRUE(InListFile(ListFile(), DataFolder() / "picked.torrent"));
  EXPECT_TRUE(InListFile(ListFile(), placeholder));
  EXPECT_EQ(Setting("Last Torrent Source"), (dir / "work").string() + "/");
}

TEST_F(UserPaths, AddTorrentHashGetsTheMetadataAndTheFilesFromASeed) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  // A seed of the engine's own on 127.0.0.2, which the tracker names.
  const fs::path seed_dir = dir / "seed";
  const std::vector<swarm_fixture::file_spec> files = {{"a.bin", 300000}, {"b.bin", 70000}};
  const engine::torrent_metainfo info = swarm_fixture::make_torrent(seed_dir, "payload", files, 16384);
  const auto seed = swarm_fixture::make_session(2);
  ASSERT_TRUE(seed->is_listening());
  seed->add_torrent(info, seed_dir).resume();
  ASSERT_TRUE(test_support::wait_until([&] { return swarm_fixture::is_seed(*seed, info.info_hash()); }));
  const std::uint16_t seed_port = seed->listen_port();
  client_test::http_test_server tracker([seed_port](const std::string& path,
                                                    client_test::http_test_server::connection& c) {
    if (!path.starts_with("/announce?")) return;
    const std::string peer = {char(127), char(0), char(0), char(2), char(seed_port >> 8), char(seed_port & 255)};
    c.reply("200 OK", "", "d8:intervali60e5:peers6:" + peer + "e");
  });
  std::string hex;
  for (const std::uint8_t byte : info.info_hash()) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += {kDigits[byte >> 4], kDigits[byte & 15]};
  }
  StartProgram();

  MenuEntry(kAddTorrentHash);
  WaitShown("^Add Torrent - Quillfern$", "add_torrent_hash_seed_program");
  Type(hex);
  Keys("Tab");
  Type(tracker.url("/announce"));
  Keys("Tab");
  Type((dir / "downloads").string() + "/");
  Keys("Return");
  EXPECT_TRUE(Gone("^Add Torrent - Quillfern$"));
  // The metadata comes from the seed through the extension, then the files.
  EXPECT_TRUE(test_support::wait_until(
      [&] { return swarm_fixture::same_files(seed_dir / "payload", dir / "downloads" / "payload", files); }, 180s))
      << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("add_torrent_hash_seeded_program"); }));
  Close();
}

TEST_F(UserPaths, SaveFolderDetailsAndPeersDialogsOfARow) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  // Every new torrent asks for its folder.
  Profile().WriteProfileInt("Configuration", "ASDMode", 2);
  const std::string downloads = (dir / "downloads").string() + "/";
  Profile().WriteProfileString("Configuration", "Last Destination", downloads);
  const fs::path torrent = dir / "work" / "a film.torrent";
  WriteTorrent(torrent, "a film");
  const fs::path copy = DataFolder() / "a film.torrent";
  StartProgram();
  const auto hand_over = [&] { EXPECT_EQ(WaitExit(Start({torrent.string()}, dir / "second.log", dir / "work")), 0); };

  // The folder dialog bears the torrent's name. Cancel: no torrent.
  wxPoint folder_ok, folder_cancel, high;
  {
    client::ScriptedUiServices ui;
    CZielordnerDialog like(nullptr, {L"a film", downloads, 1000, 1}, &ui);
    folder_ok = FromCorner(&like, client::kIdSaveFolderOk);
    folder_cancel = FromCorner(&like, client::kIdSaveFolderCancel);
    high = FromCorner(&like, client::kIdHighPriority, true);
  }
  hand_over();
  ClickIn(WaitShown("^a film$", "save_folder_program"), folder_cancel);
  EXPECT_TRUE(Gone("^a film$"));
  EXPECT_TRUE(test_support::wait_until([&] { return !fs::exists(copy); }));
  // High priority and OK: the row, with its priority.
  hand_over();
  const std::string folder_dialog = WaitShown("^a film$", "save_folder_program");
  ClickIn(folder_dialog, high, true);
  ClickIn(folder_dialog, folder_ok);
  EXPECT_TRUE(Gone("^a film$"));
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(copy); })) << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow("row_added_program"); }));
  // Its tracker cannot be reached: that is in its log, so the row's menu
  // offers "View Log".
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(copy.string() + ".log.txt"); }));

  // The row's menu, from its bottom: "Properties", "View Log", "View Peers".
  const auto row_entry = [&](int ups, const std::function<void()>& while_open = nullptr) {
    ClickScreen(kRowX, kRowY, 3);
    std::vector<std::uint8_t> menu;
    // The menu's light background below and right of the pointer, beside
    // its first entry.
    ASSERT_TRUE(test_support::wait_until([&] {
      return gui_test::CaptureRootRect(kRowX + 145, kRowY + 5, 1, 1, menu) && menu[0] > 200 &&
             menu[1] > 200 && menu[2] > 200 && Settled({kRowX, kRowY, 150, 200});
    }));
    Shell("xdotool mousemove --sync 2 2");
    if (while_open) while_open();
    std::string keys;
    for (int i = 0; i < ups; ++i) keys += " Up";
    Keys(keys + " Return");
  };
  const auto [foot_ok, foot_cancel] = OkCancelFoot();
  // Properties: Cancel keeps nothing, OK keeps the lists' column widths.
  row_entry(1);
  ClickIn(WaitShown("Properties", "torrent_details_program"), foot_cancel);
  EXPECT_TRUE(Gone("Properties"));
  EXPECT_EQ(SettingInt("TL01"), -12345);
  row_entry(1);
  ClickIn(WaitShown("Properties", "torrent_details_program"), foot_ok);
  EXPECT_TRUE(Gone("Properties"));
  EXPECT_TRUE(test_support::wait_until([&] { return SettingInt("TL01") == 295; }));

  // View Peers: Cancel hides the dialog and keeps nothing; OK keeps its
  // settings. Its buttons stand side by side in the middle of its foot.
  const auto peers_buttons = [&](const std::string& window) {
    wxDialog like(nullptr, wxID_ANY, "like");
    const wxButton button(&like, wxID_ANY, L"Cancel", wxDefaultPosition,
                          wxSize(like.ConvertDialogToPixels(wxSize(50, 0)).x, -1));
    const wxSize size = button.GetSize();
    const auto g = GeometryOf(window);
    const int left = (g->width - 2 * size.x - like.FromDIP(22)) / 2;
    const int y = g->height - like.FromDIP(11) - size.y / 2;
    return std::pair{wxPoint(left + size.x + like.FromDIP(22) + size.x / 2, y), wxPoint(left + size.x / 2, y)};
  };
  row_entry(3);
  std::string peers = WaitShown("Peer Info$", "peers_dialog_program");
  ClickIn(peers, peers_buttons(peers).second, true);
  EXPECT_TRUE(Gone("Peer Info$"));
  EXPECT_EQ(SettingInt("PI Remove Inactive"), -12345);
  row_entry(3);
  peers = WaitShown("Peer Info$", "peers_dialog_program");
  ClickIn(peers, peers_buttons(peers).first, true);
  EXPECT_TRUE(Gone("Peer Info$"));
  EXPECT_TRUE(test_support::wait_until([&] { return SettingInt("PI Remove Inactive") == 1; }));

  // View Log of a log that went while the menu was open: the user is told
  // why it does not open.
  row_entry(2, [&] { fs::remove(copy.string() + ".log.txt"); });
  const std::string box = WaitShown("^Quillfern$", "view_log_failed_program");
  Keys("Return");
  EXPECT_TRUE(test_support::wait_until([&] { return Shown("^Quillfern$") != box; }));

  Close();
  EXPECT_EQ(Listed(copy, u"Priority"), u"2");
  EXPECT_EQ(Listed(copy, u"Destination"), client::WideToUtf16(client::Utf8ToWide(downloads)));
}

}  // namespace
