// Our node against an independent DHT implementation: aria2c, run as a
// black box on loopback with its DHT enabled.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "dht/dht_service.h"
#include "dht/krpc.h"
#include "dht_harness.h"
#include "platform/clock.h"
#include "platform/random.h"
#include "tests/support/wait.h"
#include "udp_probe.h"

extern char** environ;

using namespace dht_test;
using engine::address;
using test_support::wait_until;

namespace {

const char* find_aria2c() {
  for (const char* p : {"/usr/bin/aria2c", "/usr/local/bin/aria2c"})
    if (::access(p, X_OK) == 0) return p;
  return nullptr;
}

// aria2c in the background for the length of a test; ended by its pid.
class Aria2 {
 public:
  Aria2(const char* binary, const std::filesystem::path& dir, std::uint16_t dht_port, std::uint16_t bt_port,
        const address& entry_point, const engine::sha1_hash& wanted) {
    std::vector<std::string> args = {binary,
                                     "--enable-dht=true",
                                     "--dht-listen-port=" + std::to_string(dht_port),
                                     "--dht-entry-point=" + entry_point.as_string() + ":" + std::to_string(entry_point.port),
                                     "--dht-file-path=" + (dir / "dht.dat").string(),
                                     "--listen-port=" + std::to_string(bt_port),
                                     "--bt-enable-lpd=false",
                                     "--enable-peer-exchange=false",
                                     "--dir=" + dir.string(),
                                     "--stop=120",
                                     "--quiet=true",
                                     "--no-conf=true",
                                     "magnet:?xt=urn:btih:" + wanted.to_hex()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "aria2.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&m_pid, binary, &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Aria2() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    if (wait_until([&] { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; }, std::chrono::seconds(5),
                   std::chrono::milliseconds(100)))
      return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  bool running() const { return m_pid > 0; }

 private:
  pid_t m_pid = -1;
};

struct TestClock {
  std::atomic<std::uint32_t> offset{0};
  std::uint32_t operator()() const { return platform::timeGetTime() + offset.load(); }
};

TEST(DhtAria2, AnswersBothWaysAndFindsOurTorrent) {
  const char* aria2c = find_aria2c();
  if (!aria2c) GTEST_FAIL() << "aria2c is not installed (Debian package aria2); skipping the interoperability test";

  const auto dir = std::filesystem::temp_directory_path() /
                   ("qf_dht_aria2_" + std::to_string(::getpid()) + "_" + std::to_string(platform::random_u32()));
  std::filesystem::create_directories(dir);
  struct Cleanup {
    std::filesystem::path dir;
    ~Cleanup() { std::filesystem::remove_all(dir); }
  } cleanup{dir};

  TestClock clock_a, clock_b;
  const auto options = [&](const char* name, TestClock& clock) {
    CDHTService::Options o;
    o.profile = platform::profile(dir / (std::string(name) + ".ini"));
    o.dump_folder = dir / name;
    o.clock = [&clock] { return clock(); };
    return o;
  };
  const address a(127, 0, 0, 41, free_udp_port(address(127, 0, 0, 41, 0).ip));
  const address b(127, 0, 0, 42, free_udp_port(address(127, 0, 0, 42, 0).ip));
  CDHTService node_a(40, options("a", clock_a));
  ASSERT_TRUE(node_a.Start(a.as_string(), a.as_string(), a.port, 5001));

  // aria2 binds every address; its datagrams to us come from 127.0.0.1.
  const address aria2_dht(127, 0, 0, 1, free_udp_port(address(127, 0, 0, 1, 0).ip));
  const std::uint16_t aria2_bt = free_udp_port(address(127, 0, 0, 1, 0).ip);
  engine::sha1_hash aria2_wants, ours;
  platform::random_bytes(aria2_wants.data(), aria2_wants.size);
  platform::random_bytes(ours.data(), ours.size);
  Aria2 aria2(aria2c, dir, aria2_dht.port, aria2_bt, a, aria2_wants);
  ASSERT_TRUE(aria2.running());

  // It answers a ping of ours with its id.
  UdpProbe probe(address(127, 0, 0, 43, 0));
  std::optional<engine::entry> pong;
  ASSERT_TRUE(wait_until([&] {
    probe.send(aria2_dht, dht::krpc::ping_query(7, id_of(0x43)));
    const auto bytes = probe.receive(500);
    if (!bytes) return false;
    pong = engine::bdecode(*bytes);
    return true;
  }));
  EXPECT_EQ((*pong)["y"].string(), "r");
  EXPECT_EQ((*pong)["t"].string(), "\x07");
  const auto aria2_id = dht::krpc::hash_field((*pong)["r"], "id");
  ASSERT_TRUE(aria2_id);

  // Our node announces a torrent to aria2, known from the torrent's nodes.
  ASSERT_TRUE(node_a.AddInfoHash(ours, false));
  node_a.AddNode(aria2_dht, ours);
  clock_a.offset += dht::NodeCore::ping_after + 40000;
  EXPECT_TRUE(wait_until([&] {
    bool announced = false;
    node_a.Inspect([&](const dht::NodeCore& core) {
      const auto* n = core.find_record(ours)->table.find_by_id(*aria2_id);
      announced = n && n->pending == 'a' && n->confirmed;  // our announce_peer was answered
    });
    return announced;
  })) << "aria2 did not answer our queries up to announce_peer";

  // A second node of ours finds it through aria2 alone.
  CDHTService node_b(40, options("b", clock_b));
  ASSERT_TRUE(node_b.Start(b.as_string(), b.as_string(), b.port, 5002));
  ASSERT_TRUE(node_b.AddInfoHash(ours, false));
  node_b.AddNode(aria2_dht, ours);
  clock_b.offset += dht::NodeCore::ping_after + 40000;
  EXPECT_TRUE(wait_until([&] {
    const auto peers = node_b.GetPeers(ours);
    return std::find(peers.begin(), peers.end(), address(a.ip, 5001)) != peers.end();
  })) << "the torrent was not found through aria2";

  // It queried us as its entry point, took our get_peers reply with our
  // token and announced itself to us for the torrent it wants.
  EXPECT_TRUE(wait_until([&] {
    const auto peers = node_a.GetPeers(aria2_wants);
    return !peers.empty() && peers[0] == address(aria2_dht.ip, aria2_bt);
  })) << "no announce from aria2";
}

}  // namespace
