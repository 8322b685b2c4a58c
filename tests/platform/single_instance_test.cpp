#include "tests/platform/instance_harness.h"

#include <csignal>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace instance_harness;
using platform::single_instance;
using outcome = single_instance::outcome;

namespace {

constexpr int kHandedOver = static_cast<int>(outcome::handed_over);

using SingleInstance = InstanceTest;

// A later start in `base` hands `text` over to `first`, which receives it.
void ExpectHandsOver(single_instance& first, const std::filesystem::path& base, const std::string& text) {
  EXPECT_EQ(WaitExit(StartSecond(base, text)), kHandedOver);
  const auto got = ReceiveUntil(first, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].command_line, text);
}

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
  // Up to the system's path limit, byte for byte, text or not.
  const std::string at_limit = "/" + std::string(single_instance::max_command_line - 1, 'a');
  std::string bytes = "/x/";
  for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += ".torrent";
  EXPECT_EQ(WaitExit(StartSecond(base, at_limit)), kHandedOver);
  EXPECT_EQ(WaitExit(StartSecond(base, bytes)), kHandedOver);
  EXPECT_EQ(WaitExit(StartSecond(base, at_limit + "b")), kHandedOver);
  const auto got = ReceiveUntil(first, 3);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].command_line, at_limit);
  EXPECT_EQ(got[1].command_line, bytes);
  EXPECT_EQ(got[2].command_line, "");
  EXPECT_EQ(single_instance::max_command_line, std::size_t{PATH_MAX} - 1);
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
  ExpectHandsOver(next, base, "/after/kill.torrent");
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

// Sets an environment variable for the scope, then puts the old value back.
struct ScopedEnv {
  std::string name;
  std::optional<std::string> saved;
  ScopedEnv(std::string n, const char* value) : name(std::move(n)) {
    if (const char* old = std::getenv(name.c_str())) saved = old;
    if (value) ::setenv(name.c_str(), value, 1);
    else ::unsetenv(name.c_str());
  }
  ~ScopedEnv() {
    if (saved) ::setenv(name.c_str(), saved->c_str(), 1);
    else ::unsetenv(name.c_str());
  }
};

TEST_F(SingleInstance, RuntimeFolderOrAPrivateFolderUnderTmp) {
  ScopedEnv cache("XDG_CACHE_HOME", (base / "cache").c_str());
  {
    ScopedEnv xdg("XDG_RUNTIME_DIR", base.c_str());
    ::chmod(base.c_str(), 0700);
    EXPECT_EQ(single_instance::runtime_folder("Quillfern"), base);
  }
  ScopedEnv xdg("XDG_RUNTIME_DIR", (base / "not there").c_str());
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
  std::filesystem::remove_all(base / "cache");
}

// The folder under /tmp taken by someone else (another user's, open to
// others, a link) or a runtime folder whose socket path is too long: the
// starts meet in the user's cache folder instead, still one instance.
TEST_F(SingleInstance, UnusableRuntimeFoldersGiveWayToThePrivateCacheFolder) {
  ScopedEnv cache("XDG_CACHE_HOME", (base / "cache").c_str());
  const std::string name = base.filename().string();
  const std::filesystem::path tmp_base = "/tmp/" + name + "-" + std::to_string(::geteuid());
  const std::filesystem::path cache_folder = base / "cache" / (name + "-" + std::to_string(::geteuid())) / name;
  // A runtime folder whose socket path does not fit an address.
  const std::filesystem::path deep = base / std::string(120, 'd');
  std::filesystem::create_directories(deep);
  ::chmod(deep.c_str(), 0700);
  ScopedEnv xdg("XDG_RUNTIME_DIR", deep.c_str());

  const auto squat = [&](const std::string& how) {
    std::filesystem::remove_all(tmp_base);
    if (how == "open") {
      std::filesystem::create_directory(tmp_base);
      ::chmod(tmp_base.c_str(), 0755);
    } else if (how == "link") {
      std::filesystem::create_directory(base / "target");
      ::chmod((base / "target").c_str(), 0700);
      std::filesystem::create_directory_symlink(base / "target", tmp_base);
    } else if (how == "other user") {
      std::filesystem::create_directory(tmp_base);
      ::chmod(tmp_base.c_str(), 0700);
      if (::chown(tmp_base.c_str(), ::geteuid() + 4242, ::getegid()) != 0) return false;
    }
    return true;
  };
  for (const std::string how : {"too long only", "open", "link", "other user"}) {
    if (!squat(how)) {
      ADD_FAILURE() << "cannot give " << tmp_base << " to another user";
      continue;
    }
    single_instance first(name);
    ASSERT_EQ(first.start(""), outcome::first) << how;
    if (how == "too long only") {
      EXPECT_EQ(first.folder(), tmp_base / name);
      continue;
    }
    EXPECT_EQ(first.folder(), cache_folder) << how;
    const pid_t second = Fork([&] { return static_cast<int>(single_instance(name).start("/x.torrent")); });
    EXPECT_EQ(WaitExit(second), kHandedOver) << how;
    const auto got = ReceiveUntil(first, 1);
    ASSERT_EQ(got.size(), 1u) << how;
    EXPECT_EQ(got[0].command_line, "/x.torrent");
  }
  std::filesystem::remove_all(tmp_base);
}

TEST_F(SingleInstance, AFolderInTheSocketsPlaceIsReplaced) {
  std::filesystem::create_directories(base / "Quillfern" / "instance.socket" / "inside");
  ::chmod((base / "Quillfern").c_str(), 0700);
  single_instance first("Quillfern", base);
  ASSERT_EQ(first.start(""), outcome::first);
  ExpectHandsOver(first, base, "/y.torrent");
}

TEST_F(SingleInstance, DataFolderLockIsHeldByOneAtATime) {
  const auto file = base / "Quillfern.lock";
  {
    platform::folder_lock one(file);
    EXPECT_EQ(one.get(), platform::folder_lock::state::held);
    platform::folder_lock two(file);
    EXPECT_EQ(two.get(), platform::folder_lock::state::busy);
  }
  EXPECT_EQ(platform::folder_lock(file).get(), platform::folder_lock::state::held);
  // A folder or a link in the lock file's place is no lock.
  std::filesystem::create_directory(base / "dir.lock");
  EXPECT_EQ(platform::folder_lock(base / "dir.lock").get(), platform::folder_lock::state::failed);
  std::filesystem::create_symlink(file, base / "link.lock");
  EXPECT_EQ(platform::folder_lock(base / "link.lock").get(), platform::folder_lock::state::failed);
}

}  // namespace
