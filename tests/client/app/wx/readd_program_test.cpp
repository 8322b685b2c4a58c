// The real Quillfern program: a torrent removed from its row's menu is
// handed to the program again (as a later start does), two seconds later
// and then at once, while the engine still holds it (it lets go at its next
// second tick, when its "stopped" announce goes out to a tracker that takes
// it and never answers). The add is carried out once the removal is over:
// the torrent has one row, the caption counts the rows, the list file has
// it once, and it can be paused and removed again; handed over once more
// just before the program ends, it is in the saved list. Without peers, and with
// a seed of the test's own that the program downloads from.

#include "engine/session/session.h"
#include "engine/session/torrent_handle.h"
#include "engine/wire/fingerprint.h"
#include "program_support.h"
#include "tests/engine/tracker/tracker_test_server.h"
#include "tests/engine/tracker/tracker_torrent_files.h"

#include <arpa/inet.h>

#include <regex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace program_test;

namespace {

// The seed of the runs with peers listens here.
constexpr const char* kSeedAddress = "127.0.0.2";

// The rows' tiles: the first at client (0, 36), the second beside it, 170
// px on (window coordinates: the client area lies 9 px right of and 24 px
// below the window's corner).
constexpr int kTileX = 9 + 83, kTileY = 24 + 36 + 50, kTileStep = 170;

struct ReAddProgram : ProgramFixture {
  pid_t pid = -1;
  fs::path source;
  std::unique_ptr<tracker_test::scripted_server> tracker;
  std::unique_ptr<engine::session> seed;
  // The main window's picture (window coordinates) before any row.
  wxImage empty;

  // A tracker on 127.0.0.1 that answers every announce with the seed (when
  // there is one) and takes a "stopped" without ever answering it.
  void StartTracker(std::uint16_t seed_port) {
    tracker = std::make_unique<tracker_test::scripted_server>(false, [seed_port](const std::string& request, int) {
      if (request.find("event=stopped") != std::string::npos) return std::string();
      std::string peers;
      if (seed_port != 0) {
        in_addr ip{};
        ::inet_pton(AF_INET, kSeedAddress, &ip);
        peers.append(reinterpret_cast<const char*>(&ip), 4);
        peers += char(seed_port >> 8);
        peers += char(seed_port & 0xff);
      }
      const std::string body = "d8:intervali1800e5:peers" + std::to_string(peers.size()) + ":" + peers + "e";
      return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
  }
  std::size_t StoppedAnnounces() const {
    const auto requests = tracker->requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [](const std::string& r) {
      return r.find("event=stopped") != std::string::npos;
    }));
  }

  // The payload and its .torrent (made by mktorrent), announcing to the
  // tracker; with a seed, the seed runs it, slowly enough that its
  // connection to the program lasts the test.
  void MakeTorrent(bool with_seed) {
    const fs::path folder = dir / "seed";
    fs::create_directories(folder);
    tracker_test::write_payload((folder / "payload.bin").string(), 4 << 20);
    std::uint16_t seed_port = 0;
    if (with_seed) {
      seed = std::make_unique<engine::session>(engine::fingerprint("QF", 0, 9, 0, 0));
      ASSERT_TRUE(seed->listen_on({0, 0}, kSeedAddress));
      seed_port = seed->listen_port();
      seed->set_upload_rate_limit(16384);
    }
    StartTracker(seed_port);
    source = dir / "work" / "payload.torrent";
    ASSERT_FALSE(tracker_test::make_torrent((folder / "payload.bin").string(),
                                            "http://127.0.0.1:" + std::to_string(tracker->port()) + "/announce",
                                            source.string())
                     .empty());
    if (seed) {
      const std::string bytes = ReadFile(source);
      engine::torrent_handle h = seed->add_torrent(engine::torrent_metainfo(bytes.data(), bytes.size()), folder);
      h.resume();
      ASSERT_TRUE(test_support::wait_until([&] { return h.is_valid() && h.is_seed(); }));
    }
  }

  std::string Caption() const { return WindowNames(pid); }
  bool CaptionCounts(const std::string& counts) const { return CountsShown(pid, counts); }
  std::string Log() const { return ReadFile(dir / "program.log"); }

  static wxImage Shot() {
    std::vector<std::uint8_t> rgb;
    if (!gui_test::CaptureRootRect(20, 20, 400, 200, rgb)) return {};
    wxImage image(400, 200, false);
    std::copy(rgb.begin(), rgb.end(), image.GetData());
    return image;
  }
  // How many of the first two tiles show a row.
  int RowsShown() const {
    const wxImage now = Shot();
    if (!now.IsOk() || !empty.IsOk()) return -1;
    int rows = 0;
    for (int tile = 0; tile < 2; ++tile)
      if (gui_test::PixelAt(now, kTileX + tile * kTileStep, kTileY) !=
          gui_test::PixelAt(empty, kTileX + tile * kTileStep, kTileY))
        ++rows;
    return rows;
  }
  // The sections of the list file that name a copy of the torrent.
  int InListFile() const {
    std::string text = ReadFile(DataFolder() / "TorrentQueue.txt");
    std::erase(text, '\0');  // the ASCII of UTF-16LE
    static const std::regex section("\n\\[[^\n]*payload");
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), section), std::sregex_iterator()));
  }
  std::size_t LogCount(const std::string& line) const {
    const std::string log = Log();
    std::size_t n = 0;
    for (std::size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
  }
  // The entry `index` (from 1) of the first row's menu.
  void ChooseFromRowMenu(int index) {
    ASSERT_TRUE(PickFromMenu(pid, kClientX + 83, kClientY + 86, index)) << "no menu";
    ASSERT_TRUE(test_support::wait_until([&] { return !MenuShown(pid); })) << "the menu stays";
  }
  bool HandOver() { return WaitExit(Start({source.string()}, dir / "hand-over.log", dir / "work")) == 0; }
  // Its one row shows, counted by the caption (`counts`), and the list
  // file has it once.
  void ShownOnce(const std::string& counts) {
    ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts(counts) && RowsShown() == 1; }))
        << Caption() << Log();
    EXPECT_TRUE(test_support::wait_until([&] { return InListFile() == 1; })) << Log();
  }

  void RemovedAndAddedAgain(const std::string& name) {
    pid = Start({}, dir / "program.log", dir / "work");
    ASSERT_TRUE(MainWindowShown(pid)) << Log();
    ASSERT_TRUE(test_support::wait_until([&] { return CaptionCounts("0/4"); })) << Caption() << Log();
    ASSERT_TRUE(test_support::wait_until([&] {
      empty = Shot();
      return empty.IsOk() && RowsShown() == 0 && ShootMainWindow(name + "_empty");
    }));
    ASSERT_TRUE(HandOver());
    ShownOnce("1/4");
    ASSERT_FALSE(HasFatalFailure());

    // "Remove" is the third entry of a running torrent's menu. The user
    // hands the .torrent over again two seconds later; then at once, until
    // a hand-over came while the engine still held the removed torrent (it
    // lets go at its next second tick).
    const std::string kept = "payload.torrent is added again once its removal is done";
    for (int round = 0; round < 6 && (round < 2 || LogCount(kept) == 0); ++round) {
      SCOPED_TRACE(round);
      if (seed) {
        // The program downloads from the seed.
        const std::int64_t sent = seed->status().total_payload_upload;
        ASSERT_TRUE(test_support::wait_until(
            [&] { return seed->status().num_peers > 0 && seed->status().total_payload_upload > sent; }))
            << Log();
      }
      const std::size_t stopped = StoppedAnnounces();
      ChooseFromRowMenu(3);
      if (round == 0) {
        ASSERT_TRUE(test_support::wait_until([&] { return RowsShown() == 0; })) << Log();
        std::this_thread::sleep_for(2s);  // the user's pause, not a wait for the program
      }
      ASSERT_TRUE(HandOver());
      // The removal is over: the engine let go (its "stopped" went out) and
      // the torrent is back, as a new one, once.
      EXPECT_TRUE(test_support::wait_until([&] { return StoppedAnnounces() == stopped + 1; })) << Log();
      ShownOnce("1/4");
      ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_GE(LogCount(kept), 1u) << "no hand-over came while a removal ran\n" << Log();
    EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow(name + "_added_again"); }));

    // It pauses ("Pause" comes first while it runs) ...
    ChooseFromRowMenu(1);
    ShownOnce("0/4");
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow(name + "_paused"); }));
    // ... and goes ("Remove" is the fourth entry, after "Resume", while it
    // is paused): no row, no section.
    ChooseFromRowMenu(4);
    EXPECT_TRUE(test_support::wait_until([&] { return RowsShown() == 0 && InListFile() == 0; })) << Log();
    EXPECT_TRUE(CaptionCounts("0/4")) << Caption();
    EXPECT_TRUE(test_support::wait_until([&] { return ShootMainWindow(name + "_removed"); }));
    // The engine let go of it too: a later hand-over adds it as any new one.
    ASSERT_TRUE(HandOver());
    ShownOnce("1/4");
    EXPECT_EQ(LogCount("duplicate torrent"), 0u) << Log();
    // Removed, handed over at once and the program ends: an add kept for
    // the removal is carried out before the list is saved.
    const std::size_t kept_before = LogCount(kept);
    ChooseFromRowMenu(3);
    ASSERT_TRUE(HandOver());
    ASSERT_TRUE(test_support::wait_until([&] { return LogCount(kept) > kept_before || RowsShown() == 1; })) << Log();
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(WaitExit(pid), 0) << Log();
    EXPECT_EQ(InListFile(), 1) << Log();
  }
};

TEST_F(ReAddProgram, AddedAgainWhileItsRemovalWaitsForItsTracker) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  if (!tracker_test::mktorrent_available()) GTEST_FAIL() << "no mktorrent";
  MakeTorrent(false);
  ASSERT_FALSE(HasFatalFailure());
  RemovedAndAddedAgain("readd_no_peers");
}

TEST_F(ReAddProgram, AddedAgainWhileItsRemovalWaitsWithAPeerConnected) {
  QF_REQUIRE_DISPLAY();
  if (!gui_test::HaveXdotool()) GTEST_FAIL() << "no xdotool";
  if (!tracker_test::mktorrent_available()) GTEST_FAIL() << "no mktorrent";
  MakeTorrent(true);
  ASSERT_FALSE(HasFatalFailure());
  RemovedAndAddedAgain("readd_with_peer");
}

}  // namespace
