// Two sessions on loopback exchange torrents of several files.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>

#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"

#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;

namespace {

struct temp_dir : scratch_dir {
  temp_dir() : scratch_dir("qf_peers_") {}
};

void transfer(std::int64_t piece_length, const std::vector<file_spec>& files) {
  temp_dir dir;
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, piece_length);
  auto seed = make_session(2);
  auto leech = make_session(3);
  ASSERT_TRUE(seed->is_listening());
  seed->add_torrent(info, dir.path / "seed").resume();
  leech->add_torrent(info, dir.path / "leech").resume();
  const auto ih = info.info_hash();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  ASSERT_TRUE(wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); }));
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }, std::chrono::seconds(120)));
  leech.reset();
  seed.reset();
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", dir.path / "leech" / "payload", files));
}

}  // namespace

TEST(PeerTransfer, SmallPiecesSeveralFiles) {
  transfer(16384, {{"a.bin", 1000000}, {"b.bin", 16384}, {"c.bin", 3000001}});
}

TEST(PeerTransfer, LargePieces) {
  transfer(4 * 1024 * 1024, {{"a.bin", 5000000}, {"b.bin", 7}, {"c.bin", 4 * 1024 * 1024 + 1}});
}

TEST(PeerTransfer, MediumPieces) { transfer(262144, {{"one.bin", 6 * 262144 + 5}, {"two.bin", 777777}}); }

// A full-sized torrent: 256 MiB over several files, at each piece size the
// engine meets in the wild.
TEST(PeerTransfer, QuarterGibibyteAtEachPieceSize) {
  const std::vector<file_spec> files = {
      {"big.bin", 200 * 1024 * 1024 + 12345}, {"small.bin", 1}, {"rest.bin", 56 * 1024 * 1024 - 12346}};
  for (const std::int64_t piece_length : {16 * 1024, 256 * 1024, 4 * 1024 * 1024}) {
    SCOPED_TRACE(piece_length);
    transfer(piece_length, files);
  }
}

namespace {

// A peer that claims every piece and answers every request with garbage,
// or (silent) never answers at all.
class lying_seed {
 public:
  lying_seed(const engine::sha1_hash& ih, int num_pieces, bool silent = false)
      : m_ih(ih), m_pieces(num_pieces), m_silent(silent) {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7f000004);  // 127.0.0.4, any port
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    ::listen(m_listen, 4);
    m_thread = std::thread([this] { run(); });
  }
  ~lying_seed() {
    if (const int fd = m_peer.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    m_thread.join();
  }
  std::uint16_t port() const { return m_port; }
  int pieces_sent() const { return m_sent; }
  int requests() const { return m_requests; }

 private:
  static void write_all(int fd, const std::string& s) { swarm_fixture::write_all(fd, s.data(), s.size()); }
  void run() {
    const int fd = ::accept(m_listen, nullptr, nullptr);
    if (fd < 0) return;
    m_peer = fd;
    receive_with_deadline(fd);
    engine::send_buffer out;
    engine::peer_id me;
    me[0] = 'X';
    engine::wire::write_handshake(out, m_ih, me);
    engine::wire::write_bitfield(out, std::vector<bool>(std::size_t(m_pieces), true));
    engine::wire::write_simple(out, engine::wire::msg_unchoke);
    write_all(fd, std::string(out.data(), out.size()));
    char hs[68];
    if (read_all(fd, hs, sizeof hs)) {
      for (;;) {
        char len_bytes[4];
        if (!read_all(fd, len_bytes, 4)) break;
        const std::uint32_t len = engine::wire::read_uint32(len_bytes);
        std::string packet(len, '\0');
        if (len > 0 && !read_all(fd, packet.data(), len)) break;
        if (len != 13 || packet[0] != engine::wire::msg_request) continue;
        const engine::peer_request r = engine::wire::read_request(packet.data());
        ++m_requests;
        if (m_silent) continue;
        engine::send_buffer piece;
        char* data = engine::wire::write_piece(piece, r);
        std::memset(data, 0x5a, std::size_t(r.length));
        write_all(fd, std::string(piece.data(), piece.size()));
        ++m_sent;
      }
    }
    m_peer = -1;
    ::close(fd);
  }

  engine::sha1_hash m_ih;
  int m_pieces;
  int m_listen = -1;
  std::uint16_t m_port = 0;
  bool m_silent;
  std::atomic<int> m_peer{-1};
  std::atomic<int> m_sent{0};
  std::atomic<int> m_requests{0};
  std::thread m_thread;
};

// A leech of a small torrent whose one peer claims every piece, unchokes
// at once and never answers a request.
struct silent_peer_leech {
  temp_dir dir;
  engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", {{"x.bin", 300000}}, 65536);
  engine::sha1_hash ih = info.info_hash();
  std::unique_ptr<engine::session> leech = make_session(3);
  std::unique_ptr<lying_seed> silent;

  // Until the leech has asked the peer for blocks and every request sent
  // has arrived; false when that does not happen.
  bool start() {
    leech->add_torrent(info, dir.path / "leech").resume();
    if (!wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); })) return false;
    silent = std::make_unique<lying_seed>(ih, info.num_pieces(), true);
    add_peer(*leech, ih, engine::address(127, 0, 0, 4, silent->port()));
    return wait_until([&] { return silent->requests() > 0; }) &&
           wait_until([&] { return silent->requests() == requested(); });
  }

  // Requests the leech sent and holds unanswered.
  int requested() {
    int n = 0;
    with_torrent(*leech, ih, [&](engine::torrent& t) {
      for (auto& [a, c] : t.peers()) n += c->download_queue_size();
    });
    return n;
  }
};

}  // namespace

// Corrupt data fails the hash check, the peer that sent it is banned, and
// the download still ends with the right bytes from an honest seed.
TEST(PeerTransfer, LyingPeerIsBannedAndFilesStayCorrect) {
  temp_dir dir;
  const std::vector<file_spec> files{{"x.bin", 2000000}, {"y.bin", 123457}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 65536);
  const auto ih = info.info_hash();
  auto leech = make_session(3);
  leech->set_severity_level(engine::alert::debug);
  leech->add_torrent(info, dir.path / "leech").resume();
  ASSERT_TRUE(wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); }));

  lying_seed liar(ih, info.num_pieces());
  const engine::address liar_addr(127, 0, 0, 4, liar.port());
  add_peer(*leech, ih, liar_addr);
  bool banned = false;
  ASSERT_TRUE(wait_until(
      [&] {
        with_torrent(*leech, ih, [&](engine::torrent& t) {
          const auto* p = t.get_policy().find_peer(liar_addr.ip);
          banned = p && p->banned;
        });
        return banned;
      },
      std::chrono::seconds(60)));
  bool saw_hash_failure = false, saw_ban = false;
  while (auto a = leech->pop_alert()) {
    if (dynamic_cast<engine::hash_failed_alert*>(a.get())) saw_hash_failure = true;
    if (dynamic_cast<engine::peer_ban_alert*>(a.get())) saw_ban = true;
  }
  EXPECT_TRUE(saw_hash_failure);
  EXPECT_TRUE(saw_ban);
  EXPECT_GT(liar.pieces_sent(), 0);
  // Dialling the banned peer again is refused by the peer list.
  add_peer(*leech, ih, liar_addr);

  auto seed = make_session(2);
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }, std::chrono::seconds(120)));
  leech.reset();
  seed.reset();
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", dir.path / "leech" / "payload", files));
}

// With requests outstanding and no piece for 15 seconds, the blocks go back
// to the picker and blocks are asked for anew (the pipeline was full
// before, so every new request shows the time-out).
TEST(PeerTransfer, SilentPeerGetsItsBlocksRequestedAgain) {
  silent_peer_leech s;
  // The pipeline is full: no new request goes out before the time-out.
  ASSERT_TRUE(s.start());
  auto& leech = s.leech;
  const auto& ih = s.ih;
  lying_seed& silent = *s.silent;

  static std::atomic<int> offset{0};
  const auto base = std::chrono::steady_clock::now();
  with_torrent(*leech, ih, [&](engine::torrent& t) {
    for (auto& [a, c] : t.peers()) c->set_clock([base] { return base + std::chrono::seconds(offset.load()); });
  });
  const int before = silent.requests();
  offset = 16;
  EXPECT_TRUE(wait_until([&] { return silent.requests() > before; }));
  // Every block the picker still has in progress was asked for anew (the new
  // requests may still be on their way to the peer: wait for them).
  const auto given_back = [&] {
    bool back = false;
    with_torrent(*leech, ih, [&](engine::torrent& t) {
      back = t.picker().get_download_queue().size() <= std::size_t(silent.requests() - before);
    });
    return back;
  };
  EXPECT_TRUE(wait_until(given_back));
}

// A connection the peer lets download, whose every block was taken away (by
// a faster connection in the end game, or because the blocks came through
// another peer), asks for blocks again by itself: nothing the peer sends
// would prompt it, so it would sit idle for good.
TEST(PeerTransfer, ConnectionLeftWithoutRequestsAsksAgain) {
  silent_peer_leech s;
  ASSERT_TRUE(s.start());
  const int before = s.silent->requests();
  with_torrent(*s.leech, s.ih, [&](engine::torrent& t) {
    for (auto& [a, c] : t.peers()) {
      while (!c->download_queue().empty()) c->cancel_request(c->download_queue().front());
      while (!c->request_queue().empty()) c->cancel_request(c->request_queue().front());
    }
  });
  EXPECT_TRUE(wait_until([&] { return s.silent->requests() > before; }));
}

// The bytes of a connection count once it is closed, in its torrent's totals
// and then in the session's: a small torrent moves within a second, and the
// leech closes the connection as soon as it is complete.
TEST(PeerTransfer, TotalsKeepTheBytesOfClosedConnections) {
  temp_dir dir;
  const std::int64_t size = 1024 * 1024;
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", {{"x.bin", size}}, 262144);
  const auto ih = info.info_hash();
  auto seed = make_session(2);
  auto leech = make_session(3);
  const engine::torrent_handle seeding = seed->add_torrent(info, dir.path / "seed");
  const engine::torrent_handle leeching = leech->add_torrent(info, dir.path / "leech");
  seeding.resume();
  leeching.resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  ASSERT_TRUE(wait_until([&] { return with_torrent(*leech, ih, [](engine::torrent&) {}); }));
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }));
  // A paused torrent's peers are no longer ticked: what the leech took in
  // must still reach its session.
  leeching.pause();
  auto closed = [&](engine::session& s) {
    bool none = false;
    with_torrent(s, ih, [&](engine::torrent& t) { none = t.peers().empty(); });
    return none;
  };
  ASSERT_TRUE(wait_until([&] { return closed(*seed) && closed(*leech); }));

  const engine::torrent_status up = seeding.status();
  const engine::torrent_status down = leeching.status();
  EXPECT_GE(up.total_payload_upload, size);
  EXPECT_EQ(up.total_payload_upload, down.total_payload_download);
  // Handshakes, bitfields and message headers are counted apart.
  EXPECT_GT(up.total_upload, up.total_payload_upload);
  EXPECT_GT(down.total_download, down.total_payload_download);
  // With one torrent each, the sessions' totals are the torrents' once the
  // next second has been counted.
  for (const auto& [ses, t] : {std::pair{seed.get(), up}, std::pair{leech.get(), down}}) {
    EXPECT_TRUE(wait_until([&] {
      const engine::session_status st = ses->status();
      return st.total_payload_download == t.total_payload_download &&
             st.total_payload_upload == t.total_payload_upload && st.total_download == t.total_download &&
             st.total_upload == t.total_upload;
    }));
  }
}

// A seed sees what its peer holds: the half a leech brought along (its
// bitfield), and each piece it gets afterwards (its haves), even though
// the seed has every piece itself.
TEST(PeerTransfer, SeedSeesThePiecesOfItsPeer) {
  temp_dir dir;
  const int pieces = 64;
  const std::int64_t piece_length = 16384;
  const engine::torrent_metainfo info =
      make_torrent(dir.path / "seed", "payload", {{"x.bin", pieces * piece_length}}, piece_length);
  const auto ih = info.info_hash();
  // The leech holds the first half: the rest of its copy is zeros.
  fs::create_directories(dir.path / "leech" / "payload");
  fs::copy_file(dir.path / "seed" / "payload" / "x.bin", dir.path / "leech" / "payload" / "x.bin");
  {
    std::fstream f(dir.path / "leech" / "payload" / "x.bin", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(pieces / 2 * piece_length);
    const std::string zeros(std::size_t(pieces / 2 * piece_length), '\0');
    f.write(zeros.data(), std::streamsize(zeros.size()));
  }
  auto seed = make_session(2);
  auto leech = make_session(3);
  const engine::torrent_handle seeding = seed->add_torrent(info, dir.path / "seed");
  const engine::torrent_handle leeching = leech->add_torrent(info, dir.path / "leech");
  // Slow enough that the leech is still connected while its haves come in.
  seeding.set_upload_limit(int(2 * piece_length));
  seeding.resume();
  leeching.resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  const auto leech_has = [&] {
    const std::vector<bool> have = leeching.status().pieces;
    return std::count(have.begin(), have.end(), true);
  };
  ASSERT_TRUE(wait_until([&] { return leech_has() == pieces / 2; }));
  add_peer(*leech, ih, engine::address(127, 0, 0, 2, seed->listen_port()));

  // What the seed's peers window reads: the pieces and the share of them.
  std::vector<bool> seen;
  const auto held = [&] {
    std::vector<engine::peer_info> peers;
    seeding.get_peer_info(peers);
    if (peers.size() != 1 || peers[0].seed || peers[0].pieces.size() != std::size_t(pieces)) return -1;
    seen = peers[0].pieces;
    return int(std::count(seen.begin(), seen.end(), true));
  };
  ASSERT_TRUE(wait_until([&] { return held() >= pieces / 2; }));
  for (int i = 0; i < pieces / 2; ++i) EXPECT_TRUE(seen[std::size_t(i)]) << i;
  // Each piece the leech gets from the seed is announced to the seed too.
  EXPECT_TRUE(wait_until([&] { return held() > pieces / 2; }));
}
