// Sessions on loopback use the wire extensions: a torrent known only by its
// info-hash fetches its metadata from a seed, peers chat, and peer exchange
// leads one peer to another.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <mutex>
#include <thread>

#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/wire/dht_link.h"
#include "engine/wire/send_buffer.h"
#include "engine/wire/wire_format.h"

#include "tests/engine/session/swarm_fixture.h"

namespace fs = std::filesystem;
using namespace swarm_fixture;
using engine::address;

namespace {

struct temp_dir : scratch_dir {
  temp_dir() : scratch_dir("qf_ext_") {}
};

std::string encoded(const engine::entry& e) {
  std::string s;
  engine::bencode(std::back_inserter(s), e);
  return s;
}

// The .torrent of `info` with its info dictionary's keys out of order, as
// other programs may write it: a canonical re-encoding would not hash to
// its info-hash.
std::string unordered_torrent_file(const engine::torrent_metainfo& info) {
  const engine::entry d = info.build_info_dictionary();
  const std::string raw_info = "d5:files" + encoded(d["files"]) + "12:piece length" + encoded(d["piece length"]) +
                               "6:pieces" + encoded(d["pieces"]) + "4:name" + encoded(d["name"]) + "e";
  return "d8:announce" + encoded(engine::entry(std::string("http://127.0.0.1:1/announce"))) + "4:info" + raw_info +
         "e";
}

// Pops alerts until one of type A arrives.
template <class A>
std::unique_ptr<A> wait_for_alert(engine::session& s) {
  std::unique_ptr<A> found;
  wait_until([&] {
    while (auto a = s.pop_alert()) {
      if (auto* hit = dynamic_cast<A*>(a.get())) {
        a.release();
        found.reset(hit);
        return true;
      }
    }
    return false;
  });
  return found;
}

// The torrent has an established connection to `a`.
bool has_peer(engine::session& s, const engine::sha1_hash& ih, const address& a) {
  bool found = false;
  with_torrent(s, ih, [&](engine::torrent& t) {
    const auto c = t.peers().find(a);
    found = c != t.peers().end() && !c->second->is_connecting();
  });
  return found;
}

// A DHT node as the session sees it, recording the contacts it is given;
// called on the network thread.
struct recording_node : engine::dht_link {
  explicit recording_node(std::uint16_t p) : port(p) {}
  std::uint16_t dht_port() override { return port; }
  void add_node(const address& a, const engine::sha1_hash& ih) override {
    std::lock_guard l(mutex);
    contacts.emplace_back(a, ih);
  }
  bool has(const address& a, const engine::sha1_hash& ih) {
    std::lock_guard l(mutex);
    return std::find(contacts.begin(), contacts.end(), std::pair{a, ih}) != contacts.end();
  }
  std::uint16_t port;
  std::mutex mutex;
  std::vector<std::pair<address, engine::sha1_hash>> contacts;
};

}  // namespace

TEST(ExtensionSwarm, ChatDhtPortsAndMetadataFromASeedThenTheFiles) {
  temp_dir dir;
  const std::vector<file_spec> files = {{"a.bin", 300000}, {"b.bin", 70001}};
  const engine::torrent_metainfo made = make_torrent(dir.path / "seed", "payload", files, 16384);
  const std::string file = unordered_torrent_file(made);
  const engine::torrent_metainfo info(file.data(), file.size());
  const auto ih = info.info_hash();
  ASSERT_NE(ih, made.info_hash());

  recording_node seed_node(7001), leech_node(7002);  // outlive the sessions
  auto seed = make_session(2);
  auto leech = make_session(3);
  seed->set_severity_level(engine::alert::info);
  leech->set_severity_level(engine::alert::info);
  ASSERT_TRUE(seed->is_listening());
  seed->set_dht_node(&seed_node);
  leech->set_dht_node(&leech_node);
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));

  const engine::torrent_handle h = leech->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path / "leech");
  h.resume();
  const address seed_address(127, 0, 0, 2, seed->listen_port());
  add_peer(*leech, ih, seed_address);
  // Chat works as soon as the extension handshakes are through.
  ASSERT_TRUE(wait_until([&] { return h.send_chat_message(seed_address, "hello from the leech"); }));
  auto chat = wait_for_alert<engine::chat_message_alert>(*seed);
  ASSERT_TRUE(chat);
  EXPECT_EQ(chat->msg(), "hello from the leech");

  auto received = wait_for_alert<engine::metadata_received_alert>(*leech);
  ASSERT_TRUE(received);
  EXPECT_EQ(received->msg(), "metadata successfully received from swarm");
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }));
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", dir.path / "leech" / "payload", files));
  // Each side's DHT port reached the other's node.
  EXPECT_TRUE(seed_node.has(address(127, 0, 0, 3, 7002), ih));
  EXPECT_TRUE(leech_node.has(address(127, 0, 0, 2, 7001), ih));
  EXPECT_FALSE(h.send_chat_message(address(127, 0, 0, 9, 1), "nobody there"));
}

// The seed's bitfield arrives before the leech knows the piece count; with
// 16 pieces it fills its bytes exactly, and its pieces must still count
// once the metadata is in, or the seed is never asked for them.
TEST(ExtensionSwarm, BitfieldOfWholeBytesBeforeTheMetadata) {
  temp_dir dir;
  const std::vector<file_spec> files = {{"a.bin", 200000}, {"b.bin", 62144}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384);
  ASSERT_EQ(info.num_pieces(), 16);
  const auto ih = info.info_hash();

  auto seed = make_session(4);
  auto leech = make_session(5);
  ASSERT_TRUE(seed->is_listening());
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));

  leech->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path / "leech").resume();
  add_peer(*leech, ih, address(127, 0, 0, 4, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }));
  EXPECT_TRUE(same_files(dir.path / "seed" / "payload", dir.path / "leech" / "payload", files));
}

// Another thread works the torrent through its handle while its metadata
// arrives from a peer and its files are checked: the checker must not touch
// what the network thread owns, nor the handle calls go round its lock. The
// files are on disk already, so the check has pieces to hash.
TEST(ExtensionSwarm, HandleCallsWhileTheMetadataArrivesAndIsChecked) {
  temp_dir dir;
  const std::vector<file_spec> files = {{"a.bin", 2000000}, {"b.bin", 1000001}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384);
  const auto ih = info.info_hash();
  fs::copy(dir.path / "seed", dir.path / "leech", fs::copy_options::recursive);

  auto seed = make_session(12);
  auto leech = make_session(13);
  leech->set_severity_level(engine::alert::info);
  ASSERT_TRUE(seed->is_listening());
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));

  const engine::torrent_handle h =
      leech->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path / "leech");
  h.resume();
  std::atomic<bool> stop{false};
  std::string failure;  // the torrent never leaves the session meanwhile
  std::thread caller([&] {
    std::vector<engine::peer_info> peers;
    try {
      while (!stop) {
        (void)h.status();
        h.get_peer_info(peers);
        // Pausing drops the peers: only once the metadata is in.
        if (h.has_metadata()) h.pause();
        h.resume();
        std::this_thread::yield();
      }
    } catch (const std::exception& e) {
      failure = e.what();
    }
  });
  add_peer(*leech, ih, address(127, 0, 0, 12, seed->listen_port()));
  const bool received = wait_for_alert<engine::metadata_received_alert>(*leech) != nullptr;
  const bool checked = received && wait_until([&] { return h.is_seed(); });
  stop = true;
  caller.join();
  EXPECT_EQ(failure, "");
  ASSERT_TRUE(received);
  ASSERT_TRUE(checked);
  EXPECT_EQ(h.metainfo().num_pieces(), info.num_pieces());
  EXPECT_EQ(leech->get_torrents().size(), 1u);
}

// A peer whose handshake stops before its peer id while the torrent has no
// metadata, and ends it once the metadata is in and checked: its pieces are
// sized to the torrent before its first "have" arrives.
TEST(ExtensionSwarm, HandshakeThatSpansTheMetadataCheck) {
  temp_dir dir;
  const std::vector<file_spec> files = {{"a.bin", 100000}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "seed", "payload", files, 16384);
  const auto ih = info.info_hash();

  auto seed = make_session(6);
  auto leech = make_session(7);
  ASSERT_TRUE(seed->is_listening() && leech->is_listening());
  seed->add_torrent(info, dir.path / "seed").resume();
  ASSERT_TRUE(wait_until([&] { return is_seed(*seed, ih); }));
  const engine::torrent_handle h =
      leech->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path / "leech");
  h.resume();

  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(0x7f000009);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(0x7f000007);
  a.sin_port = htons(leech->listen_port());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  engine::send_buffer hs;
  engine::peer_id id;
  id[0] = 'Z';
  engine::wire::write_handshake(hs, ih, id);
  std::string bytes(hs.data(), hs.size());
  bytes[20 + 5] = bytes[20 + 7] = 0;  // no extensions, no DHT
  ASSERT_EQ(::send(fd, bytes.data(), 48, MSG_NOSIGNAL), 48);
  // The leech binds the connection to its torrent and answers.
  char reply[68];
  receive_with_deadline(fd);
  ASSERT_EQ(::recv(fd, reply, sizeof reply, MSG_WAITALL), ssize_t(sizeof reply));

  add_peer(*leech, ih, address(127, 0, 0, 6, seed->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*leech, ih); }));

  engine::send_buffer rest;
  rest.append(bytes.data() + 48, 20);
  engine::wire::write_have(rest, 0);
  engine::wire::write_have(rest, info.num_pieces() - 1);
  ASSERT_EQ(::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL), ssize_t(rest.size()));
  // A seed meeting a peer that has every piece would close; one that has two
  // stays, and knows them.
  ASSERT_TRUE(wait_until(
      [&] {
        bool known = false;
        with_torrent(*leech, ih, [&](engine::torrent& t) {
          for (const auto& [pa, pc] : t.peers())
            if (pa.ip == 0x7f000009)
              known = int(pc->get_bitfield().size()) == info.num_pieces() && pc->has_piece(0) &&
                      pc->has_piece(info.num_pieces() - 1);
        });
        return known;
      }));
  ::close(fd);
}

// A torrent known only by its info-hash whose files are on disk already: its
// peer sent the metadata, and learns of the pieces the check found even
// though no bitfield could go out at the handshake.
TEST(ExtensionSwarm, PiecesFoundByTheCheckReachThePeersConnectedBefore) {
  temp_dir dir;
  const std::vector<file_spec> files = {{"a.bin", 150000}};
  const engine::torrent_metainfo info = make_torrent(dir.path / "holder", "payload", files, 16384);
  const auto ih = info.info_hash();
  auto holder = make_session(10);
  auto asker = make_session(11);
  ASSERT_TRUE(holder->is_listening());
  holder->add_torrent_by_info_hash("http://127.0.0.1:1/announce", ih, dir.path / "holder").resume();
  asker->add_torrent(info, dir.path / "asker").resume();
  ASSERT_TRUE(wait_until([&] { return with_torrent(*asker, ih, [](engine::torrent&) {}); }));
  add_peer(*asker, ih, address(127, 0, 0, 10, holder->listen_port()));
  ASSERT_TRUE(wait_until([&] { return is_seed(*holder, ih); }));
  ASSERT_TRUE(wait_until([&] { return is_seed(*asker, ih); }));
  EXPECT_TRUE(same_files(dir.path / "holder" / "payload", dir.path / "asker" / "payload", files));
}

TEST(ExtensionSwarm, PeerExchangeLeadsToAnotherPeer) {
  // Nobody has any data, so nobody becomes a seed and drops the others.
  temp_dir dir;
  const engine::torrent_metainfo info = make_torrent(dir.path / "made", "payload", {{"a.bin", 50000}}, 16384);
  const auto ih = info.info_hash();
  auto first = make_session(4);
  auto middle = make_session(5);
  auto late = make_session(6);
  first->add_torrent(info, dir.path / "first").resume();
  middle->add_torrent(info, dir.path / "middle").resume();
  late->add_torrent(info, dir.path / "late").resume();
  for (auto* s : {first.get(), middle.get(), late.get()})
    ASSERT_TRUE(wait_until([&] { return with_torrent(*s, ih, [](engine::torrent&) {}); }));

  // The middle one dials the first; the late one knows only the middle one.
  const address first_address(127, 0, 0, 4, first->listen_port());
  const address middle_address(127, 0, 0, 5, middle->listen_port());
  add_peer(*middle, ih, first_address);
  ASSERT_TRUE(wait_until([&] { return has_peer(*middle, ih, first_address); }));
  add_peer(*late, ih, middle_address);
  ASSERT_TRUE(wait_until([&] { return has_peer(*late, ih, middle_address); }));
  // As after a tracker time-out: the late one asks its peers for more.
  with_torrent(*late, ih, [](engine::torrent& t) { t.request_peers_from_swarm(20); });
  EXPECT_TRUE(wait_until([&] { return has_peer(*late, ih, first_address); }));
}
