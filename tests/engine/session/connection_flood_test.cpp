// A seed on loopback under a flood of connections that never send a
// handshake, and of handshakes that come one byte at a time: it holds no more
// of them than its bound, closes each once its handshake time-out passes, a
// real leech still gets the whole torrent from it, and once the flood is over
// the process holds the descriptors it held before.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"
#include "platform/descriptor_limit.h"

#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;

namespace {

constexpr int flood_size = 1100;
constexpr int tricklers = 8;
// One byte of a handshake this often: its info-hash would be whole (and
// the seed would answer) only after 48 of them, long past the time-out.
constexpr auto trickle_period = std::chrono::milliseconds(600);

// The process's descriptors but the data files under `data`, which the
// open-file cache may keep.
int descriptors_outside(const fs::path& data) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(e.path(), ec).string();
    if (target.rfind(data.string(), 0) != 0) ++n;
  }
  return n;
}

// A non-blocking connection from 127.0.1.`host` (0: from any address) to `to`.
int open_connection(const engine::address& to, int host = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (host) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7f000100u | std::uint32_t(host));
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(to.ip);
  a.sin_port = htons(to.port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether the other end closed `fd` (what it sent is read and dropped).
bool closed_by_peer(int fd) {
  char buf[512];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) continue;
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }
}

// The attack, on a thread of its own: the trickling handshakes first, one
// byte each per period, then `flood_size` connections left idle, opened as
// fast as the seed takes them in (`taken`: how many it holds that wait for
// their handshake), a few dozen ahead. Everything stays open until the
// object goes.
class flood {
 public:
  flood(const engine::address& seed, const std::string& handshake, std::function<int()> taken)
      : m_taken(std::move(taken)), m_thread([=, this] { run(seed, handshake); }) {}
  ~flood() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_idle) ::close(fd);
    for (const trickler& t : m_tricklers)
      if (t.fd >= 0) ::close(t.fd);
  }
  int opened() const { return m_opened; }
  // The bytes of its handshake each trickler had sent when the seed closed
  // it; empty while any of them is still open.
  std::vector<int> trickled_when_closed() const {
    std::lock_guard l(m_mutex);
    std::vector<int> sent;
    for (const trickler& t : m_tricklers)
      if (t.closed) sent.push_back(t.sent);
    if (sent.size() < std::size_t(tricklers)) sent.clear();
    return sent;
  }

 private:
  struct trickler {
    int fd;
    int sent = 0;
    bool closed = false;
  };

  void run(const engine::address& seed, const std::string& handshake) {
    {
      std::lock_guard l(m_mutex);
      for (int i = 0; i < tricklers; ++i) {
        m_tricklers.push_back({open_connection(seed, 1 + i)});
        // One that cannot connect fails the test as one taken in whole would.
        if (m_tricklers.back().fd < 0) m_tricklers.back() = {-1, int(handshake.size()), true};
      }
    }
    std::vector<int> connecting;
    auto next_byte = std::chrono::steady_clock::now();
    while (!m_stop) {
      // A few dozen connects under way at a time, as a flood from one
      // address at a high rate would come.
      const int ahead = m_opened + int(connecting.size()) - m_taken();
      for (int i = ahead; i < 32 && m_opened + int(connecting.size()) < flood_size; ++i) {
        const int fd = open_connection(seed);
        if (fd < 0) break;
        connecting.push_back(fd);
      }
      std::vector<pollfd> fds;
      for (int fd : connecting) fds.push_back({fd, POLLOUT, 0});
      ::poll(fds.data(), fds.size(), 20);
      for (const pollfd& p : fds) {
        if (!p.revents) continue;
        std::erase(connecting, p.fd);
        m_idle.push_back(p.fd);
        ++m_opened;
      }
      if (std::chrono::steady_clock::now() < next_byte) continue;
      next_byte += trickle_period;
      std::lock_guard l(m_mutex);
      for (trickler& t : m_tricklers) {
        if (t.closed) continue;
        if (closed_by_peer(t.fd)) {
          t.closed = true;
        } else if (t.sent < int(handshake.size()) &&
                   ::send(t.fd, &handshake[std::size_t(t.sent)], 1, MSG_NOSIGNAL) == 1) {
          ++t.sent;
        }
      }
    }
    m_idle.insert(m_idle.end(), connecting.begin(), connecting.end());
  }

  const std::function<int()> m_taken;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_opened{0};
  std::vector<int> m_idle;
  mutable std::mutex m_mutex;
  std::vector<trickler> m_tricklers;
  std::thread m_thread;
};

struct temp_dir : scratch_dir {
  temp_dir() : scratch_dir("qf_flood_") {}
};

}  // namespace

TEST(ConnectionFlood, IdleAndTricklingConnectionsDoNotShutTheLeechOut) {
  // Both ends of every connection are in this process.
  const std::uint64_t limit = platform::raise_descriptor_limit();
  const std::uint64_t needed = 2 * flood_size + 400;
  if (limit < needed) GTEST_SKIP() << "descriptor limit too low: " << limit << " (" << needed << " needed)";
  const std::size_t bound = engine::session_impl::waiting_handshake_bound();

  temp_dir dir;
  const std::vector<file_spec> files{{"a.bin", 6 * 1024 * 1024 + 123}, {"b.bin", 2 * 1024 * 1024}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 65536);
  const auto ih = info.info_hash();
  auto seed = make_session(2);
  seed->set_severity_level(engine::alert::debug);
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  const engine::address seed_addr(127, 0, 0, 2, seed->listen_port());
  const int idle = descriptors_outside(dir.path);

  // The trickling handshakes name the seed's torrent: taken in whole they
  // would be attached to it.
  engine::send_buffer hs;
  engine::peer_id id;
  id[0] = 'Z';
  engine::wire::write_handshake(hs, ih, id);
  const auto waiting = [&] {
    std::lock_guard l(seed->impl().mutex());
    return int(seed->impl().waiting_handshakes());
  };
  std::size_t most_waiting = 0, most_connections = 0;
  const auto look = [&] {
    std::lock_guard l(seed->impl().mutex());
    most_waiting = std::max(most_waiting, seed->impl().waiting_handshakes());
    most_connections = std::max(most_connections, seed->impl().connections().size());
  };
  {
    flood attack(seed_addr, std::string(hs.data(), hs.size()), waiting);
    // The leech comes once the seed holds all it may, or the whole flood.
    ASSERT_TRUE(wait_until([&] {
      look();
      return most_waiting >= bound || attack.opened() == flood_size;
    }));

    auto leech = make_session(3);
    leech->add_torrent(info, dir.path / "leech").resume();
    ASSERT_TRUE(wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); }));
    add_peer(*leech, ih, seed_addr);
    const bool complete = wait_until(
        [&] {
          look();
          return is_seed(*leech, ih);
        },
        std::chrono::seconds(180));
    std::vector<int> trickled;
    EXPECT_TRUE(wait_until([&] {
      look();
      trickled = attack.trickled_when_closed();
      return !trickled.empty();
    })) << "a trickling handshake was never closed";
    std::cout << attack.opened() << " idle connections opened; the seed held at most " << most_waiting
              << " waiting for their handshake (bound " << bound << ") and " << most_connections
              << " connections\n";
    ASSERT_TRUE(complete);
    // Closed before the seed ever answered them.
    for (int sent : trickled) EXPECT_LT(sent, 48);
    EXPECT_LE(most_waiting, bound);
    // The leech besides them.
    EXPECT_LE(most_connections, bound + 1);
    leech.reset();
  }
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", dir.path / "leech" / "payload", files));
  EXPECT_TRUE(wait_until([&] { return descriptors_outside(dir.path) <= idle; }))
      << descriptors_outside(dir.path) << " descriptors, " << idle << " before the flood";
}

// A peer we dialled that takes our handshake and never answers it is let go
// at the handshake time-out too, not after the two minutes of silence that
// end an established connection.
TEST(ConnectionFlood, APeerWeDialledThatNeverAnswersIsClosed) {
  temp_dir dir;
  const std::vector<file_spec> files{{"a.bin", 100000}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384);
  auto leech = make_session(3);
  leech->set_severity_level(engine::alert::debug);
  leech->add_torrent(info, dir.path / "leech").resume();
  ASSERT_TRUE(wait_until([&] { return with_torrent(*leech, info.info_hash(), [](engine::torrent&) {}); }));

  auto mute = std::make_shared<engine::socket>(engine::socket::tcp, true);
  mute->listen(engine::address(127, 0, 0, 9, 0), 4);
  add_peer(*leech, info.info_hash(), engine::address(127, 0, 0, 9, mute->local_address().port));
  ASSERT_TRUE(test_support::readable_before(mute->handle(), test_support::deadline()));
  const auto dialled = mute->accept();
  ASSERT_TRUE(dialled);
  // Our handshake comes, then nothing but the end.
  std::string got;
  char buf[512];
  int n = 0;
  while (test_support::readable_before(dialled->handle(), test_support::deadline()) &&
         (n = dialled->receive(buf, sizeof buf)) > 0)
    got.append(buf, std::size_t(n));
  EXPECT_EQ(n, 0) << "the leech still holds the connection";
  EXPECT_GE(got.size(), 68u);
  bool timed_out = false;
  while (auto a = leech->pop_alert())
    if (dynamic_cast<engine::peer_error_alert*>(a.get()) && a->msg() == "connection timed out") timed_out = true;
  EXPECT_TRUE(timed_out);
}
