// The real programs ended by SIGTERM while a window of theirs works on its
// own: Quillfern with a torrent's peers window open in a live swarm (the
// window ticks through the torrent's handle while the engine stops), and
// Tintwright with its "Failed to Create" box open.

#include "program_support.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/engine/tracker/tracker_test_server.h"


namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

// Longer than any clean end takes, even under a sanitizer; a program that
// hangs never gets there.
constexpr auto kEndDeadline = 20s;

// Three engine seeds on 127.0.0.2-4, with upload limits low enough that
// the program is still downloading from them round after round, and a
// tracker on 127.0.0.1 that the program announces to. The seeds dial the
// program at the port it announced, as peers that heard of it there do.
struct LiveSwarm {
  swarm_fixture::scratch_dir folder{"qf_live_swarm_"};
  engine::torrent_metainfo info;
  engine::entry resume;
  std::vector<std::unique_ptr<engine::session>> seeds;
  std::unique_ptr<tracker_test::scripted_server> tracker;

  // The .torrent the program gets; empty when the payload's first check
  // failed.
  fs::path Start() {
    info = swarm_fixture::make_torrent(folder.path, "live", {{"a.bin", 24 << 20}, {"b.bin", 8 << 20}}, 1 << 18);
    {
      engine::session checker(engine::fingerprint("QF", 1, 0, 0, 0));
      const engine::torrent_handle h = checker.add_torrent(info, folder.path);
      if (!test_support::wait_until([&] { return h.is_valid() && h.is_seed(); })) return {};
      resume = h.build_resume_data();
    }
    // The "stopped" announces get no answer: the engine waits for them at
    // the end, and the program's windows have their ticks due meanwhile.
    tracker = std::make_unique<tracker_test::scripted_server>(false, [](const std::string& request, int) {
      if (request.find("event=stopped") != std::string::npos) return std::string();
      const std::string body = "d8:intervali1800e5:peers0:e";
      return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    // The info dictionary's bytes as they are, so that the info-hash is the
    // seeds' one.
    const std::string announce = "http://127.0.0.1:" + std::to_string(tracker->port()) + "/announce";
    const std::string bytes = "d8:announce" + std::to_string(announce.size()) + ":" + announce + "4:info" +
                              info.info_dictionary_bytes() + "e";
    const fs::path file = folder.path / "live.torrent";
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

  // Fresh seeds (from the resume data, without a check) that know nothing
  // of earlier runs of the program.
  bool Seed() {
    seeds.clear();
    for (int host = 2; host <= 4; ++host) {
      auto seed = swarm_fixture::make_session(host);
      seed->set_upload_rate_limit(128 << 10);
      const engine::torrent_handle h = seed->add_torrent(info, folder.path, resume);
      if (!test_support::wait_until([&] { return h.is_valid() && h.is_seed(); })) return false;
      h.resume();
      seeds.push_back(std::move(seed));
    }
    return true;
  }

  // The port of the first "started" announce from the `from`-th request on;
  // 0 while there is none.
  std::uint16_t AnnouncedPort(std::size_t from) const {
    const std::vector<std::string> requests = tracker->requests();
    for (std::size_t i = from; i < requests.size(); ++i) {
      const std::size_t at = requests[i].find("&port=");
      if (at != std::string::npos && requests[i].find("event=started") != std::string::npos)
        return std::uint16_t(std::stoi(requests[i].substr(at + 6)));
    }
    return 0;
  }

  void Dial(std::uint16_t port) {
    for (const auto& seed : seeds)
      for (const engine::torrent_handle& h : seed->get_torrents()) h.connect_peer(engine::address(127, 0, 0, 1, port));
  }

  // The seeds' connections that are past connecting.
  int Connections() const {
    int n = 0;
    for (const auto& seed : seeds) {
      for (const engine::torrent_handle& h : seed->get_torrents()) {
        std::vector<engine::peer_info> peers;
        h.get_peer_info(peers);
        for (const engine::peer_info& p : peers) n += !(p.flags & engine::peer_info::connecting);
      }
    }
    return n;
  }
};

// Picks "View Peers" from the row's menu: second from the bottom, third
// once the torrent has a log ("View Log" comes between). The log may come
// between the menu and the look at it: then the pick misses and is made
// again.
bool OpenPeersWindow(pid_t pid, const fs::path& torrent_log, std::string& window) {
  // The row lies below the info box at the top left of the client area.
  constexpr int kRowX = 112, kRowY = 130;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!OpenMenu(pid, kRowX, kRowY)) return false;
    Keys("Up", fs::exists(torrent_log) ? 3 : 2);
    Xdo({"key", "Return"});
    if (test_support::wait_until(
            [&] { return !(window = VisibleWindows(pid, "^live.torrent - Quillfern Peer Info$")).empty(); }, 5s))
      return true;
  }
  return false;
}

// The peers window lists a peer: its first row (below the column heads) has
// dark pixels of text in it.
bool PeerListed(const std::string& window) {
  int x = 0, y = 0, width = 0, height = 0;
  if (!WindowGeometry(window, x, y, width, height)) return false;
  constexpr int kWidth = 200, kHeight = 14;
  std::vector<std::uint8_t> rgb;
  if (!gui_test::CaptureRootRect(x + 16, y + 40, kWidth, kHeight, rgb)) return false;
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    if (rgb[i] < 96 && rgb[i + 1] < 96 && rgb[i + 2] < 96) return true;
  return false;
}

TEST_F(ProgramFixture, SigtermWithAPeersWindowOpenEndsAndSaves) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  LiveSwarm swarm;
  const fs::path torrent = swarm.Start();
  ASSERT_FALSE(torrent.empty()) << "the payload did not check";
  const fs::path list = DataFolder() / "TorrentQueue.txt";
  const fs::path copy = DataFolder() / "live.torrent";
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(swarm.Seed());
    const std::size_t asked = swarm.tracker->requests().size();
    std::error_code ec;
    const auto before = fs::file_time_type::clock::now() - 1h;
    if (fs::exists(list)) fs::last_write_time(list, before, ec);
    const fs::path log = dir / ("live " + std::to_string(round) + ".log");
    const pid_t pid = Start(round == 0 ? std::vector<std::string>{torrent.string()} : std::vector<std::string>{}, log,
                            dir / "work");
    ASSERT_TRUE(MainWindowShown(pid)) << ReadFile(log);
    std::uint16_t port = 0;
    ASSERT_TRUE(test_support::wait_until([&] { return (port = swarm.AnnouncedPort(asked)) != 0; })) << ReadFile(log);
    swarm.Dial(port);
    ASSERT_TRUE(test_support::wait_until([&] { return swarm.Connections() > 0; })) << ReadFile(log);

    std::string peers_window;
    ASSERT_TRUE(OpenPeersWindow(pid, DataFolder() / "live.torrent.log.txt", peers_window)) << ReadFile(log);
    peers_window = peers_window.substr(0, peers_window.find('\n'));
    // It ticks with the torrent's peers in it.
    ASSERT_TRUE(test_support::wait_until([&] { return PeerListed(peers_window); })) << ReadFile(log);
    if (round == 0) {
      EXPECT_TRUE(ShootWindow("sigterm_with_peers_window", peers_window));
    }

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    ASSERT_EQ(WaitExit(pid, kEndDeadline), 0) << ReadFile(log);
    EXPECT_GT(fs::last_write_time(list, ec), before);
    EXPECT_TRUE(InListFile(list, copy)) << ReadFile(log);
  }
}

TEST_F(ProgramFixture, TintwrightEndsCleanlyOnSigtermOverItsBox) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  // The scheme folder lies under a file: it cannot be made.
  const fs::path blocker = dir / "a file";
  std::ofstream(blocker) << "x";
  platform::profile(dir / "config/Tintwright/Tintwright.ini")
      .WriteProfileString("Configuration", "ColorSchemePath", (blocker / "schemes").string() + "/");
  program = kProgram.parent_path().parent_path() / "scheme_editor" / "Tintwright";
  const fs::path log = dir / "tintwright.log";
  const pid_t pid = Start({}, log, dir / "work");
  constexpr const char* kTitle = "^Quillfern Color Scheme Editor$";
  std::string editor;
  ASSERT_TRUE(test_support::wait_until([&] { return !(editor = VisibleWindows(pid, kTitle)).empty(); }))
      << ReadFile(log);
  editor = editor.substr(0, editor.find('\n'));
  // "Save": a click into the folder's edit along the bottom, then two tabs
  // (">>", "Save") and space; again while the box does not come (the
  // dialog may not take input yet). The box bears the editor's title.
  std::string box;
  auto box_shown = [&] {
    std::istringstream ids(VisibleWindows(pid, kTitle));
    for (std::string id; std::getline(ids, id);)
      if (id != editor) box = id;
    return !box.empty();
  };
  for (int attempt = 0; attempt < 3 && !box_shown(); ++attempt) {
    int x = 0, y = 0, width = 0, height = 0;
    ASSERT_TRUE(WindowGeometry(editor, x, y, width, height));
    Xdo({"mousemove", std::to_string(x + width * 35 / 100), std::to_string(y + height - 31), "click", "1"});
    Keys("Tab", 2);
    Xdo({"key", "space"});
    test_support::wait_until(box_shown, 10s);
  }
  ASSERT_FALSE(box.empty()) << ReadFile(log);
  EXPECT_TRUE(ShootWindow("tintwright_sigterm_with_failed_to_create", box));

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(pid, kEndDeadline), 0) << ReadFile(log);
}

}  // namespace
