#include "tests/platform/instance_harness.h"

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace instance_harness;
using platform::single_instance;
using outcome = single_instance::outcome;

namespace {

constexpr int kHandedOver = static_cast<int>(outcome::handed_over);

using SingleInstance = InstanceTest;

TEST_F(SingleInstance, LaterStartHandsOverItsCommandLineAndEnds) {
  single_instance first("Quillfern", base);
  ASSERT_EQ(first.start(""), outcome::first);
  ASSERT_GE(first.listen_fd(), 0);
  struct stat st{};
  ASSERT_EQ(::lstat(first.folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const std::string quoted = "\"/data/My Films/Big Buck Bunny.torrent\"";
  EXPECT_EQ(WaitExit(StartSecond(base, quoted)), kHandedOver);
  const auto got = ReceiveUntil(first, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].command_line, quoted);

  // A start without arguments only asks the first one to the front.
  EXPECT_EQ(WaitExit(StartSecond(base, "")), kHandedOver);
  const auto front = ReceiveUntil(first, 1);
  ASSERT_EQ(front.size(), 1u);
  EXPECT_EQ(front[0].command_line, "");
  EXPECT_FALSE(first.receiving());
}

TEST_F(SingleInstance, OverlongCommandLineHandsOverOnlyTheFrontRequest) {
  single_instance first("Quillfern", base);
  ASSERT_EQ(first.start(""), outcome::first);
  const std::string at_limit(255, 'a');
  std::string umlauts;  // 255 units in 510 bytes
  for (int i = 0; i < 255; ++i) umlauts += "\xC3\xBC";
  EXPECT_EQ(WaitExit(StartSecond(base, at_limit)), kHandedOver);
  EXPECT_EQ(WaitExit(StartSecond(base, umlauts)), kHandedOver);
  EXPECT_EQ(WaitExit(StartSecond(base, std::string(300, 'b'))), kHandedOver);
  EXPECT_EQ(WaitExit(StartSecond(base, umlauts + "\xC3\xBC")), kHandedOver);
  const auto got = ReceiveUntil(first, 4);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].command_line, at_limit);
  EXPECT_EQ(got[1].command_line, umlauts);
  EXPECT_EQ(got[2].command_line, "");
  EXPECT_EQ(got[3].command_line, "");
  EXPECT_EQ(single_instance::utf16_length("a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"), 5u);
}

TEST_F(SingleInstance, KilledFirstInstanceLeavesASocketTheNextStartTakesOver) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t killed = Fork([&] {
    ::close(ready[0]);
    platform::single_instance instance("Quillfern", base);
    const char role = static_cast<char>(instance.start(""));
    if (::write(ready[1], &role, 1) != 1) return 1;
    for (;;) ::pause();
  });
  ::close(ready[1]);
  char role = -1;
  ASSERT_EQ(::read(ready[0], &role, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(role, static_cast<char>(outcome::first));
  ::kill(killed, SIGKILL);
  EXPECT_EQ(WaitExit(killed), -1);

  single_instance next("Quillfern", base);
  ASSERT_TRUE(std::filesystem::exists(next.socket_path()));  // left behind
  ASSERT_EQ(next.start(""), outcome::first);
  EXPECT_EQ(WaitExit(StartSecond(base, "/after/kill.torrent")), kHandedOver);
  const auto got = ReceiveUntil(next, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].command_line, "/after/kill.torrent");
}

TEST_F(SingleInstance, RacingStartsLeaveExactlyOneFirstInstance) {
  constexpr int kRacers = 8;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> racers;
  for (int i = 0; i < kRacers; ++i) {
    racers.push_back(Fork([&, i] {
      ::close(go[1]);
      char c;
      (void)!::read(go[0], &c, 1);  // all of them start when the pipe closes
      platform::single_instance instance("Quillfern", base);
      const outcome o = instance.start("racer " + std::to_string(i));
      if (o != outcome::first) return static_cast<int>(o);
      // The first one stays until every other racer has handed over.
      return 100 + static_cast<int>(ReceiveUntil(instance, kRacers - 1).size());
    }));
  }
  ::close(go[0]);
  ::close(go[1]);
  int firsts = 0, handed = 0;
  for (pid_t pid : racers) {
    const int code = WaitExit(pid);
    if (code >= 100) {
      ++firsts;
      EXPECT_EQ(code, 100 + kRacers - 1);
    } else if (code == kHandedOver) {
      ++handed;
    }
  }
  EXPECT_EQ(firsts, 1);
  EXPECT_EQ(handed, kRacers - 1);
}

TEST_F(SingleInstance, SilentConnectionDoesNotHoldUpTheReceiver) {
  single_instance first("Quillfern", base);
  ASSERT_EQ(first.start(""), outcome::first);
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", first.socket_path().c_str());
  ASSERT_EQ(::connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  EXPECT_TRUE(first.receive().empty());  // returns at once with nothing
  EXPECT_TRUE(first.receiving());
  EXPECT_EQ(WaitExit(StartSecond(base, "meanwhile")), kHandedOver);
  const auto got = ReceiveUntil(first, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].command_line, "meanwhile");

  // Past the time-out the silent connection is closed.
  first.set_receive_timeout(std::chrono::milliseconds(50));
  test_support::wait_until(
      [&] {
        EXPECT_TRUE(first.receive().empty());
        return !first.receiving();
      },
      std::chrono::seconds(20));
  EXPECT_FALSE(first.receiving());
  char c;
  EXPECT_EQ(::read(silent, &c, 1), 0);
  ::close(silent);
}

TEST_F(SingleInstance, FolderOthersCanReachIsRefused) {
  std::filesystem::create_directory(base / "Quillfern");
  ::chmod((base / "Quillfern").c_str(), 0755);
  single_instance open_folder("Quillfern", base);
  EXPECT_EQ(open_folder.start(""), outcome::unguarded);
  EXPECT_EQ(open_folder.listen_fd(), -1);
  EXPECT_TRUE(open_folder.receive().empty());

  // A symbolic link in place of the folder is not followed.
  std::filesystem::create_directory(base / "elsewhere");
  ::chmod((base / "elsewhere").c_str(), 0700);
  std::filesystem::create_directory_symlink(base / "elsewhere", base / "Linked");
  single_instance linked("Linked", base);
  EXPECT_EQ(linked.start(""), outcome::unguarded);
}

TEST_F(SingleInstance, RuntimeFolderOrAPrivateFolderUnderTmp) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved_value = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
  EXPECT_EQ(single_instance::runtime_folder("Quillfern"), base);
  ::setenv("XDG_RUNTIME_DIR", (base / "not there").c_str(), 1);
  const std::string name = base.filename().string();  // unique per test run
  const std::filesystem::path tmp_base = "/tmp/" + name + "-" + std::to_string(::geteuid());
  EXPECT_EQ(single_instance::runtime_folder(name), tmp_base);
  {
    single_instance own(name);
    EXPECT_EQ(own.start(""), outcome::first);
    EXPECT_EQ(own.folder(), tmp_base / name);
    struct stat st{};
    ASSERT_EQ(::lstat(tmp_base.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
  std::filesystem::remove_all(tmp_base);
  // One that others can write into is not ours.
  std::filesystem::create_directory(tmp_base);
  ::chmod(tmp_base.c_str(), 0777);
  EXPECT_EQ(single_instance(name).start(""), outcome::unguarded);
  std::filesystem::remove_all(tmp_base);
  if (saved) ::setenv("XDG_RUNTIME_DIR", saved_value.c_str(), 1);
  else ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
