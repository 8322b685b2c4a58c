#include "client/torrents/command_line.h"
#include "client/app/first_window_rect.h"
#include "platform/profile.h"
#include "tests/platform/instance_harness.h"

#include <gtest/gtest.h>

using client::CommandLineToHandOver;
using client::TorrentPathFromCommandLine;

namespace {

TEST(CommandLineRule, TorrentPathsAndEverythingElse) {
  EXPECT_EQ(TorrentPathFromCommandLine("\"/home/ann/My Files/a b.torrent\""), "/home/ann/My Files/a b.torrent");
  EXPECT_EQ(TorrentPathFromCommandLine("/x/a\"b\".torrent"), "/x/ab.torrent");  // every quote goes
  EXPECT_EQ(TorrentPathFromCommandLine(".torrent"), ".torrent");                // exactly 8 characters
  EXPECT_EQ(TorrentPathFromCommandLine("\".torrent\""), ".torrent");
  EXPECT_FALSE(TorrentPathFromCommandLine("/x/A.TORRENT"));  // case counts
  EXPECT_FALSE(TorrentPathFromCommandLine("/x/a.Torrent"));
  EXPECT_FALSE(TorrentPathFromCommandLine("torrent"));
  EXPECT_FALSE(TorrentPathFromCommandLine(""));
  EXPECT_FALSE(TorrentPathFromCommandLine("\"\""));
  EXPECT_FALSE(TorrentPathFromCommandLine("/x/a.torrent.part"));

  const char* argv[] = {"Quillfern", "/data/My", "Film.torrent"};
  EXPECT_EQ(client::JoinArguments(3, argv), "/data/My Film.torrent");
  EXPECT_EQ(client::JoinArguments(1, argv), "");
}

// The arguments as main got them, bytes as they are: a path that is no
// text in the locale (or no UTF-8 at all) is kept whole.
TEST(CommandLineRule, ArgumentsAreKeptByTheirBytes) {
  const char* argv[] = {"Quillfern", "/data/caf\xC3\xA9", "\xE9t\xE9.torrent"};
  client::KeepProgramArguments(3, argv);
  ASSERT_TRUE(client::KeptCommandLine());
  EXPECT_EQ(*client::KeptCommandLine(), "/data/caf\xC3\xA9 \xE9t\xE9.torrent");
  EXPECT_EQ(TorrentPathFromCommandLine(*client::KeptCommandLine()), "/data/caf\xC3\xA9 \xE9t\xE9.torrent");
  EXPECT_EQ(CommandLineToHandOver("\xE9.torrent", "/home/caf\xE9"), "/home/caf\xE9/\xE9.torrent");
}

TEST(CommandLineRule, HandOverMakesRelativeTorrentPathsAbsolute) {
  EXPECT_EQ(CommandLineToHandOver("\"sub dir/a.torrent\"", "/home/ann"), "/home/ann/sub dir/a.torrent");
  EXPECT_EQ(CommandLineToHandOver("a.torrent", "/home/ann/"), "/home/ann/a.torrent");
  EXPECT_EQ(CommandLineToHandOver("\"/abs/a.torrent\"", "/home/ann"), "/abs/a.torrent");
  EXPECT_EQ(CommandLineToHandOver("notes.txt", "/home/ann"), "notes.txt");  // not ours to touch
  EXPECT_EQ(CommandLineToHandOver("", "/home/ann"), "");
}

using InstanceHandOver = instance_harness::InstanceTest;

// A later start in another folder: what the first instance gets names the
// same file, quotes gone and the blank kept.
TEST_F(InstanceHandOver, RelativePathArrivesAbsolute) {
  platform::single_instance first("Quillfern", base);
  ASSERT_EQ(first.start(""), platform::single_instance::outcome::first);
  std::filesystem::create_directories(base / "work dir");
  const pid_t second = instance_harness::Fork([&] {
    if (::chdir((base / "work dir").c_str()) != 0) return 99;
    platform::single_instance instance("Quillfern", base);
    const std::string text = CommandLineToHandOver("\"New Folder/my file.torrent\"",
                                                   std::filesystem::current_path().string());
    return static_cast<int>(instance.start(text));
  });
  EXPECT_EQ(instance_harness::WaitExit(second), static_cast<int>(platform::single_instance::outcome::handed_over));
  const auto got = instance_harness::ReceiveUntil(first, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(TorrentPathFromCommandLine(got[0].command_line),
            (base / "work dir" / "New Folder" / "my file.torrent").string());
}

using StartUpProfile = instance_harness::InstanceTest;

TEST_F(StartUpProfile, FirstWindowRect) {
  platform::profile profile(base / "Quillfern.ini");
  const client::WindowRect fresh = client::FirstWindowRect(profile);
  EXPECT_EQ(fresh.left, 20);
  EXPECT_EQ(fresh.top, 20);
  EXPECT_EQ(fresh.right, 420);
  EXPECT_EQ(fresh.bottom, 220);
  profile.WriteProfileInt("Configuration", "Pos Right", 10);
  profile.WriteProfileInt("Configuration", "Pos Bottom", 39);
  profile.WriteProfileInt("Configuration", "Pos Left", -5);
  const client::WindowRect clamped = client::FirstWindowRect(profile);
  EXPECT_EQ(clamped.right, 40);
  EXPECT_EQ(clamped.bottom, 40);
  EXPECT_EQ(clamped.left, -5);
  profile.WriteProfileInt("Configuration", "Pos Bottom", 40);
  EXPECT_EQ(client::FirstWindowRect(profile).bottom, 40);
}

}  // namespace
