// The real program started without a locale (LANG unset, as the fixture
// starts it) with .torrent paths whose bytes are no ASCII: a UTF-8 name and
// one that is no UTF-8 at all. Both are added, at start and when a later
// start hands its path over.

#include "program_support.h"

namespace fs = std::filesystem;
using namespace program_test;

namespace {

TEST_F(ProgramFixture, PathsAreTakenByTheirBytesWithoutALocale) {
  QF_REQUIRE_DISPLAY();
  const fs::path cafe = dir / "caf\xC3\xA9.torrent";
  WriteTorrent(cafe, "cafe");
  const fs::path latin1 = dir / "\xE9t\xE9.torrent";
  WriteTorrent(latin1, "ete");
  const fs::path log = dir / "first.log";
  const pid_t first = Start({cafe.string()}, log, dir / "work");
  ASSERT_TRUE(test_support::wait_until([&] { return fs::exists(DataFolder() / "caf\xC3\xA9.torrent"); }))
      << ReadFile(log);

  const pid_t second = Start({latin1.string()}, dir / "second.log", dir / "work");
  EXPECT_EQ(WaitExit(second), 0);
  // The copy's name is text the list file can hold.
  const fs::path latin1_copy = DataFolder() / "\xEF\xBF\xBDt\xEF\xBF\xBD.torrent";
  EXPECT_TRUE(test_support::wait_until([&] { return fs::exists(latin1_copy); })) << ReadFile(log);
  EXPECT_TRUE(test_support::wait_until([] { return ShootMainWindow("quillfern_locale_paths"); }));
  EXPECT_EQ(ReadFile(log).find("Could not copy"), std::string::npos) << ReadFile(log);

  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitExit(first), 0);
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", DataFolder() / "caf\xC3\xA9.torrent"));
  EXPECT_TRUE(InListFile(DataFolder() / "TorrentQueue.txt", latin1_copy));
}

}  // namespace
