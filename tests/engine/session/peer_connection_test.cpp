// The connection's request and block rules, and its handshake replies to
// raw peers on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"
#include "tests/engine/session/swarm_fixture.h"
#include "tests/support/wait.h"

using engine::is_legal_request;
using engine::is_valid_block;
using engine::peer_request;
using test_support::wait_until;

TEST(PeerConnectionRules, LegalRequests) {
  const int pieces = 10, block = 16384;
  const std::int64_t size = 262144;
  EXPECT_TRUE(is_legal_request({0, 0, block}, pieces, size, true, block));
  EXPECT_TRUE(is_legal_request({9, size - 1, 1}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 0, block}, pieces, size, false, block));  // we lack it
  EXPECT_FALSE(is_legal_request({10, 0, block}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({-1, 0, block}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, -1, block}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, int(size), 1}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 0, 0}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 1, int(size)}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 0, block}, -1, size, true, block));  // no metadata
  // No more than 128 KiB at once, or a block when blocks are larger.
  EXPECT_TRUE(is_legal_request({0, 0, 131072}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 0, 131073}, pieces, size, true, block));
  EXPECT_FALSE(is_legal_request({0, 0, int(size)}, pieces, size, true, block));
  EXPECT_TRUE(is_legal_request({0, 0, int(size)}, pieces, size, true, int(size)));
}

TEST(PeerConnectionRules, ValidBlocks) {
  const int block = 16384;
  const std::int64_t size = 65536, last = 20000;
  EXPECT_TRUE(is_valid_block({0, 0, block}, 3, size, false, block));
  EXPECT_TRUE(is_valid_block({0, 3 * block, block}, 3, size, false, block));
  EXPECT_FALSE(is_valid_block({0, 100, block}, 3, size, false, block));       // not on a block boundary
  EXPECT_FALSE(is_valid_block({0, 0, block - 1}, 3, size, false, block));     // short, not the last piece
  EXPECT_FALSE(is_valid_block({0, 0, block + 1}, 3, size, false, block));
  EXPECT_TRUE(is_valid_block({2, block, int(last) - block}, 3, last, true, block));
  EXPECT_FALSE(is_valid_block({2, 0, block - 1}, 3, last, true, block));      // short but not at the end
  EXPECT_FALSE(is_valid_block({2, block, block}, 3, last, true, block));      // beyond the piece
  EXPECT_FALSE(is_valid_block({3, 0, block}, 3, size, false, block));
  EXPECT_FALSE(is_valid_block({0, -block, block}, 3, size, false, block));
}

namespace {

namespace fs = std::filesystem;
using namespace swarm_fixture;

// A seed session, and raw connections to it.
struct PeerConnectionRaw : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("qf_rawpeer_" + std::to_string(::getpid()));
  engine::torrent_metainfo info;
  std::unique_ptr<engine::session> seed;

  void SetUp() override {
    fs::remove_all(dir);
    info = make_torrent(dir, "p", {{"f", 100000}}, 16384);
    seed = make_session(2);
    seed->set_severity_level(engine::alert::debug);
    seed->add_torrent(info, dir).resume();
    ASSERT_TRUE(wait_until([&] { return is_seed(*seed, info.info_hash()); }));
  }
  void TearDown() override {
    seed.reset();
    fs::remove_all(dir);
  }

  // Sends `bytes` and returns everything received until the session closes.
  std::string exchange(const std::string& bytes) {
    return exchange_until(bytes, 0, [](const std::string&) { return false; });
  }

  // A connection to the seed from the local address `from` (0: any); -1
  // when it fails.
  int connect_from(std::uint32_t from) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7f000002);
    a.sin_port = htons(seed->listen_port());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
  }

  // Sends `bytes` from the local address `from` (0: any) and returns what arrived until the
  // session closed, or once `enough` holds (plus a short while for stragglers).
  std::string exchange_until(const std::string& bytes, std::uint32_t from,
                             const std::function<bool(const std::string&)>& enough) {
    const int fd = connect_from(from);
    EXPECT_GE(fd, 0);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string got;
    const test_support::deadline end;
    std::optional<test_support::deadline> stragglers;
    char buf[4096];
    while (test_support::readable_before(fd, stragglers ? *stragglers : end)) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, std::size_t(n));
      if (!stragglers && enough(got)) stragglers.emplace(std::chrono::milliseconds(200));
    }
    ::close(fd);
    return got;
  }

  // Whether the session reported a closed connection with this text.
  bool saw_error(const std::string& text) {
    return wait_until([&] {
      while (auto a = seed->pop_alert())
        if (dynamic_cast<engine::peer_error_alert*>(a.get()) && a->msg() == text) return true;
      return false;
    });
  }

  // The seed's connection from `ip`, or none; under the session lock.
  std::shared_ptr<engine::peer_connection> connection_from(std::uint32_t ip) {
    for (auto& [s, c] : seed->impl().connections())
      if (c->remote().ip == ip) return c;
    return nullptr;
  }

  std::string handshake(const engine::sha1_hash& ih, const engine::peer_id& id) {
    engine::send_buffer b;
    engine::wire::write_handshake(b, ih, id);
    return std::string(b.data(), b.size());
  }
  // Our torrent's handshake from a peer whose id starts with 'Z' and that
  // offers no extensions and no DHT, so nothing follows our bitfield.
  std::string plain_handshake() {
    engine::peer_id id;
    id[0] = 'Z';
    std::string hs = handshake(info.info_hash(), id);
    hs[20 + 5] = hs[20 + 7] = 0;
    return hs;
  }
};

}  // namespace

TEST_F(PeerConnectionRaw, VersionQueryIsAnswered) {
  EXPECT_EQ(exchange(std::string("\x07") + "version"), "Quillfern engine version 1.0.0.0\n");
}

TEST_F(PeerConnectionRaw, UnknownInfoHashIsRefused) {
  engine::sha1_hash other;
  other[3] = 1;
  engine::peer_id id;
  id[0] = 'Z';
  EXPECT_EQ(exchange(handshake(other, id)), "");
  EXPECT_TRUE(saw_error("got info-hash that is not in our session"));
}

TEST_F(PeerConnectionRaw, OwnPeerIdClosesTheConnection) {
  exchange(handshake(info.info_hash(), seed->id()));
  EXPECT_TRUE(saw_error("closing connection to ourself"));
}

TEST_F(PeerConnectionRaw, OversizedPacketCloses) {
  engine::peer_id id;
  id[0] = 'Z';
  exchange(handshake(info.info_hash(), id) + std::string("\x00\x10\x00\x01", 4));
  EXPECT_TRUE(saw_error("packet > 1 MB"));
}

// The DHT flag is bit 0 of reserved byte 7, whatever the other bits hold.
TEST_F(PeerConnectionRaw, ReservedFlagsAreBits) {
  engine::peer_id id;
  id[0] = 'Z';
  const std::string dht_port_message("\x00\x00\x00\x03\x09\x05\xe0", 7);  // port 1504: no DHT node
  std::string hs = handshake(info.info_hash(), id);
  hs[20 + 7] = char(0x03);
  hs[20 + 5] = char(0x31);
  const std::string with_dht = exchange_until(hs, 0x7f000005, [&](const std::string& got) {
    return got.find(dht_port_message, 68) != std::string::npos;
  });
  ASSERT_GE(with_dht.size(), 68u);
  EXPECT_EQ(with_dht.substr(0, 20), std::string("\x13") + "BitTorrent protocol");
  EXPECT_NE(with_dht.find(dht_port_message, 68), std::string::npos);
  hs[20 + 7] = char(0xfe);
  // Handshake and bitfield (7 pieces: one byte of bits) go out with what
  // follows the peer id.
  const std::string without =
      exchange_until(hs, 0x7f000006, [](const std::string& got) { return got.size() >= 68 + 6; });
  ASSERT_GE(without.size(), 68u + 6);
  EXPECT_EQ(without.find(dht_port_message, 68), std::string::npos);
}

// Keep-alives after 60 quiet seconds, and a close after 120 seconds without
// a byte from the peer, on the connection's own (here: fake) clock.
TEST_F(PeerConnectionRaw, KeepAliveAndTimeOut) {
  const int fd = connect_from(0x7f000008);
  ASSERT_GE(fd, 0);
  const std::string hs = plain_handshake();
  ::send(fd, hs.data(), hs.size(), MSG_NOSIGNAL);
  receive_with_deadline(fd);
  std::string got(68 + 6, '\0');
  ASSERT_EQ(::recv(fd, got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));

  static std::atomic<int> offset{0};
  const auto base = std::chrono::steady_clock::now();
  std::shared_ptr<engine::peer_connection> conn;
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard l(seed->impl().mutex());
    conn = connection_from(0x7f000008);
    if (conn) conn->set_clock([base] { return base + std::chrono::seconds(offset.load()); });
    return conn != nullptr;
  }));
  const auto timed_out = [&] {
    std::lock_guard l(seed->impl().mutex());
    return conn->has_timed_out();
  };
  EXPECT_FALSE(timed_out());
  offset = 61;
  // The session's next second sends the keep-alive.
  char ka[4] = {1, 1, 1, 1};
  ASSERT_EQ(::recv(fd, ka, 4, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(ka, 4), std::string(4, '\0'));
  EXPECT_FALSE(timed_out());
  offset = 121;
  EXPECT_TRUE(saw_error("connection timed out"));
  {
    std::lock_guard l(seed->impl().mutex());  // the last owner lets go
    conn.reset();
  }
  char rest;
  EXPECT_EQ(::recv(fd, &rest, 1, 0), 0);  // closed
  ::close(fd);
}

// Requests beyond 4097 pending and requests for pieces we lack are illegal:
// they are dropped, and once the legal ones are served the peer is choked
// and at once unchoked, which clears the count.
TEST_F(PeerConnectionRaw, IllegalRequestsAreDroppedAndAnswered) {
  const int fd = connect_from(0x7f000009);
  ASSERT_GE(fd, 0);
  receive_with_deadline(fd);
  const std::string hs = plain_handshake();
  engine::send_buffer out;
  out.append(hs.data(), hs.size());
  engine::wire::write_simple(out, engine::wire::msg_interested);
  ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);

  // Reads one message; false when the connection ends.
  const auto next = [&](std::string& packet) {
    char len[4];
    if (::recv(fd, len, 4, MSG_WAITALL) != 4) return false;
    packet.assign(engine::wire::read_uint32(len), '\0');
    return packet.empty() || ::recv(fd, packet.data(), packet.size(), MSG_WAITALL) == ssize_t(packet.size());
  };
  std::string packet(68, '\0');
  ASSERT_EQ(::recv(fd, packet.data(), 68, MSG_WAITALL), 68);
  do {
    ASSERT_TRUE(next(packet));
  } while (packet != std::string(1, char(engine::wire::msg_unchoke)));

  engine::send_buffer requests;
  // Some peers ask a fast seed for well over a thousand blocks at once.
  for (int i = 0; i < 4098; ++i) engine::wire::write_request(requests, engine::wire::msg_request, {0, 0, 1});
  engine::wire::write_request(requests, engine::wire::msg_request, {99, 0, 16384});  // no such piece
  {
    // The seed takes them all in before it serves any: held off by its lock
    // until every byte waits in its socket, so the requests pending at once
    // do not depend on how the bytes were cut on the way.
    std::lock_guard l(seed->impl().mutex());
    const auto conn = connection_from(0x7f000009);
    ASSERT_TRUE(conn);
    const int seed_fd = conn->get_socket()->handle();
    std::size_t sent = 0;
    ASSERT_TRUE(wait_until([&] {
      const ssize_t n = ::send(fd, requests.data() + sent, requests.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) sent += std::size_t(n);
      int queued = 0;
      return sent == requests.size() && ::ioctl(seed_fd, FIONREAD, &queued) == 0 && queued == int(sent);
    }));
  }

  int pieces = 0;
  std::string previous;
  while (next(packet)) {
    if (!packet.empty() && packet[0] == char(engine::wire::msg_piece)) ++pieces;
    if (previous == std::string(1, char(engine::wire::msg_choke)) &&
        packet == std::string(1, char(engine::wire::msg_unchoke)))
      break;
    previous = packet;
  }
  EXPECT_EQ(pieces, 4097);
  EXPECT_EQ(previous, std::string(1, char(engine::wire::msg_choke)));
  ::close(fd);
}

// A piece message whose header names no block of the torrent is no progress
// while its data trickles in: status and peer lists stay readable.
TEST_F(PeerConnectionRaw, HalfReceivedBogusPieceIsNoProgress) {
  const int fd = connect_from(0x7f00000a);
  ASSERT_GE(fd, 0);
  const std::string hs = plain_handshake();
  engine::send_buffer out;
  out.append(hs.data(), hs.size());
  char* p = out.append_space(4 + 9 + 100);
  p = engine::wire::write_uint32(p, 9 + 16384);
  *p++ = char(engine::wire::msg_piece);
  p = engine::wire::write_uint32(p, 0x7fffffff);
  engine::wire::write_uint32(p, 0xffffc000u);
  ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);

  // The 100 data bytes are in: the packet is half received.
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard l(seed->impl().mutex());
    const auto c = connection_from(0x7f00000a);
    return c && c->total_payload_download() == 100;
  }));
  const engine::torrent_handle h = seed->get_torrents().at(0);
  engine::torrent_status st;
  ASSERT_NO_THROW(st = h.status());
  EXPECT_EQ(st.total_done, info.total_size());
  std::vector<engine::peer_info> peers;
  ASSERT_NO_THROW(h.get_peer_info(peers));
  ::close(fd);
}

// At its connection limit the torrent refuses incoming connections, except
// from the address its tracker was reached at, once that is known.
TEST_F(PeerConnectionRaw, ConnectionLimitSparesTheTrackersAddress) {
  const auto ih = info.info_hash();
  with_torrent(*seed, ih, [](engine::torrent& t) { t.set_max_connections(2); });
  ASSERT_TRUE(wait_until([&] {
    int given = 0;
    with_torrent(*seed, ih, [&](engine::torrent& t) { given = t.connection_quota().given; });
    return given == 2;
  }));
  auto attached = [&](std::uint32_t ip) {
    bool found = false;
    with_torrent(*seed, ih, [&](engine::torrent& t) {
      for (const auto& [a, c] : t.peers()) found = found || a.ip == ip;
    });
    return found;
  };
  // Stays open until the test ends.
  auto open = [&](std::uint32_t from) {
    const int fd = connect_from(from);
    EXPECT_GE(fd, 0);
    const std::string hs = plain_handshake();
    ::send(fd, hs.data(), hs.size(), MSG_NOSIGNAL);
    return fd;
  };
  std::vector<int> fds;
  for (std::uint32_t ip : {0x7f000005u, 0x7f000006u}) {
    fds.push_back(open(ip));
    ASSERT_TRUE(wait_until([&] { return attached(ip); }));
  }
  const std::string refused = "too many connections, refusing incoming connection";
  fds.push_back(open(0x7f000009));
  EXPECT_TRUE(saw_error(refused));
  EXPECT_FALSE(attached(0x7f000009));

  with_torrent(*seed, ih, [](engine::torrent& t) { t.set_tracker_address(engine::address(127, 0, 0, 9, 6969)); });
  fds.push_back(open(0x7f000009));
  EXPECT_TRUE(wait_until([&] { return attached(0x7f000009); }));
  fds.push_back(open(0x7f000007));
  EXPECT_TRUE(saw_error(refused));
  EXPECT_FALSE(attached(0x7f000007));
  for (int fd : fds) ::close(fd);
}

namespace {

std::int64_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

}  // namespace

// A peer that announces a packet of 1 MiB (the extended message has no bound
// of its own) and sends one byte of it must not cost the megabyte: with 300
// such peers the resident memory stays where it was with 300 quiet ones.
TEST_F(PeerConnectionRaw, AnnouncedPacketsCostNoMemoryBeforeTheirBytes) {
  constexpr int peers = 300;
  rlimit files{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < 2 * peers + 100) {
    if (files.rlim_max < 2 * peers + 100) GTEST_SKIP() << "descriptor limit too low: " << files.rlim_max;
    files.rlim_cur = files.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
  }
  // The torrent takes every one of them.
  ASSERT_TRUE(wait_until([&] {
    int quota = 0;
    with_torrent(*seed, info.info_hash(), [&](engine::torrent& t) { quota = t.connection_quota().given; });
    return quota > peers;
  }));

  std::vector<int> fds;
  struct closer {
    std::vector<int>& fds;
    ~closer() {
      for (int fd : fds) ::close(fd);
    }
  } close_all{fds};
  const std::string hs = plain_handshake();
  for (int i = 0; i < peers; ++i) {
    // One address each (127.1.x.y): the seed keeps one connection per address.
    const int fd = connect_from(0x7f010001 + std::uint32_t(i));
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
    receive_with_deadline(fd);
    ASSERT_EQ(::send(fd, hs.data(), hs.size(), MSG_NOSIGNAL), ssize_t(hs.size()));
    // Its handshake and bitfield: the seed has taken this one in.
    std::string got(68 + 6, '\0');
    ASSERT_EQ(::recv(fd, got.data(), got.size(), MSG_WAITALL), ssize_t(got.size()));
  }
  const auto connections_with = [&](std::int64_t received) {
    std::lock_guard l(seed->impl().mutex());
    int n = 0;
    for (auto& [s, c] : seed->impl().connections())
      if (c->remote().ip >> 16 == 0x7f01 && c->statistics().total_download() == received) ++n;
    return n;
  };
  ASSERT_TRUE(wait_until([&] { return connections_with(68) == peers; }));
  const std::int64_t idle = resident_bytes();

  // Each announces 1 MiB and, once the seed has read that, sends the id byte.
  const std::string announce("\x00\x10\x00\x00", 4);
  for (int fd : fds) ASSERT_EQ(::send(fd, announce.data(), announce.size(), MSG_NOSIGNAL), 4);
  ASSERT_TRUE(wait_until([&] { return connections_with(68 + 4) == peers; }));
  for (int fd : fds) ASSERT_EQ(::send(fd, "\x15", 1, MSG_NOSIGNAL), 1);
  ASSERT_TRUE(wait_until([&] { return connections_with(68 + 5) == peers; }));
  const std::int64_t grown = resident_bytes() - idle;
  EXPECT_LT(grown, 4 << 20) << grown / 1024 << " KiB more for " << peers << " announced packets";
}
