// A connection's rules driven through decoded messages and a small host: no
// network thread, no peer at the other end.

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>

#include "engine/net/ip_filter.h"
#include "engine/net/selector.h"
#include "engine/session/alert_types.h"
#include "engine/session/peer_connection.h"
#include "engine/session/piece_picker.h"
#include "engine/session/torrent.h"
#include "engine/storage/disk_io.h"
#include "engine/wire/protocol_error.h"
#include "engine/wire/wire_format.h"

using namespace engine;

namespace {

// The session as far as a torrent and its connections see it. Connections
// stay queued: nothing connects or sends.
struct test_host : torrent::host, peer_connection::host {
  alert_manager queue;
  peer_id me = peer_id("-QF0100-test-host-01");
  ip_filter no_filter;
  selector sel;
  disk_io disk_worker{[] {}};
  std::vector<std::shared_ptr<peer_connection>> made;
  std::vector<std::string> closed;

  alert_manager& alerts() override { return queue; }
  const peer_id& local_id() const override { return me; }
  const ip_filter& filter() const override { return no_filter; }
  int upload_rate_limit() const override { return -1; }
  int download_rate_limit() const override { return -1; }
  std::shared_ptr<peer_connection> connect(torrent& t, const address& a) override {
    made.push_back(std::make_shared<peer_connection>(*this, sel, &t, std::make_shared<socket>(socket::tcp), a));
    return made.back();
  }
  torrent_handle handle_of(const torrent& t) const override { return torrent_handle(nullptr, t.info_hash()); }
  void close(peer_connection& c, const std::string& reason) override {
    if (c.start_closing()) closed.push_back(reason);
  }
  std::shared_ptr<torrent> find_torrent(const sha1_hash&) override { return nullptr; }
  dht_link* dht() const override { return nullptr; }
  extension_settings extension_config() const override { return {}; }
  bool extension_enabled(int) const override { return true; }
  disk_io& disk() override { return disk_worker; }
  void announce_soon(const sha1_hash&) override {}
  void send_now(peer_connection&) override {}
  void wait_for_disk(peer_connection&) override {}

  // Texts of the queued alerts of type A.
  template <class A>
  std::vector<std::string> alerts_of() {
    std::vector<std::string> out;
    while (auto a = queue.get())
      if (dynamic_cast<A*>(a.get())) out.push_back(a->msg());
    return out;
  }
};

// Four pieces of two 16 KiB blocks; the last piece is short.
torrent_metainfo four_pieces() {
  entry::dictionary_type info{{"name", entry(std::string("four"))},
                              {"length", entry(entry::integer_type(3 * 32768 + 20000))},
                              {"piece length", entry(entry::integer_type(32768))},
                              {"pieces", entry(std::string(4 * 20, 'h'))}};
  return torrent_metainfo(entry(entry::dictionary_type{{"announce", entry(std::string("http://127.0.0.1:1/a"))},
                                                        {"info", entry(std::move(info))}}));
}

// A packet as the receiver hands it over: the id, then 32-bit fields.
std::string packet(wire::message_id id, std::initializer_list<std::uint32_t> fields = {}) {
  std::string p(1, char(id));
  for (std::uint32_t f : fields) {
    char b[4];
    wire::write_uint32(b, f);
    p.append(b, 4);
  }
  return p;
}

struct PeerConnectionHosted : ::testing::Test {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("qf-hosted-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  test_host host;
  std::shared_ptr<torrent> t;
  std::shared_ptr<peer_connection> c;

  // A torrent with the pieces `have`, and one connection of it.
  void start(std::vector<bool> have) {
    host.queue.set_severity(alert::debug);
    t = std::make_shared<torrent>(host, nullptr, four_pieces(), dir, address(), false, 16384);
    t->init_storage();
    t->files_checked(std::move(have), {});
    c = t->connect_to_peer(address(10, 0, 0, 2, 6881));
  }
  void TearDown() override {
    c.reset();
    host.made.clear();
    t.reset();
    std::filesystem::remove_all(dir);
  }
  void receive(const std::string& p) { c->on_message(wire::decode(p)); }
  std::string rejection(const std::string& p) {
    try {
      receive(p);
    } catch (const protocol_error& e) {
      return e.what();
    }
    return "accepted";
  }
};

}  // namespace

TEST_F(PeerConnectionHosted, SeedQueuesOnlyLegalRequestsOfAnInterestedUnchokedPeer) {
  start(std::vector<bool>(4, true));
  const auto request = [](std::uint32_t piece, std::uint32_t start, std::uint32_t length) {
    return packet(wire::msg_request, {piece, start, length});
  };

  // Before the peer is interested a request is illegal: reported and dropped.
  receive(request(0, 0, 16384));
  EXPECT_TRUE(c->peer_requests().empty());
  EXPECT_EQ(host.alerts_of<invalid_request_alert>(), std::vector<std::string>{"peer sent an illegal request, ignoring"});

  // Interested but still choked (the policy does not know this connection):
  // a legal request is dropped without a word.
  receive(packet(wire::msg_interested));
  ASSERT_TRUE(c->is_choked());
  receive(request(0, 0, 16384));
  EXPECT_TRUE(c->peer_requests().empty());
  EXPECT_TRUE(host.alerts_of<invalid_request_alert>().empty());

  // Unchoked, legal requests go to the disk for their blocks; the others
  // are reported one by one.
  c->send_unchoke();
  receive(request(3, 16384, 20000 - 16384));  // the short tail of the last piece
  receive(request(1, 0, 16384));
  EXPECT_TRUE(host.alerts_of<invalid_request_alert>().empty());
  receive(request(4, 0, 16384));       // no such piece
  receive(request(3, 16384, 16384));  // past the end of the last piece
  receive(request(0, 0, 128 * 1024 + 1));  // more than we serve at once
  EXPECT_EQ(host.alerts_of<invalid_request_alert>().size(), 3u);
  EXPECT_TRUE(host.closed.empty());
}

TEST_F(PeerConnectionHosted, LeechRequestsFromAnUnchokingSeedAndRejectsWhatCannotBe) {
  start(std::vector<bool>(4, false));
  std::string bitfield(1, char(wire::msg_bitfield));
  bitfield += char(0xf0);
  receive(bitfield);
  EXPECT_TRUE(c->is_seed());
  EXPECT_TRUE(c->is_interesting());
  EXPECT_EQ(c->download_queue_size() + c->request_queue_size(), 0);  // choked by the peer

  receive(packet(wire::msg_unchoke));
  ASSERT_GT(c->download_queue_size(), 0);
  const piece_block first = c->download_queue().front();
  EXPECT_TRUE(t->picker().is_requested(first));

  // A choke hands every outstanding block back to the picker.
  receive(packet(wire::msg_choke));
  EXPECT_EQ(c->download_queue_size() + c->request_queue_size(), 0);
  EXPECT_FALSE(t->picker().is_requested(first));

  // Messages that cannot be end the connection with their reason.
  EXPECT_EQ(rejection(packet(wire::msg_have, {4})), "have message with higher index than the number of pieces");
  EXPECT_EQ(rejection(packet(wire::msg_have, {0xffffffff})),
            "have message with higher index than the number of pieces");
  std::string misaligned = packet(wire::msg_piece, {0, 100});
  misaligned.append(16384, 'x');
  EXPECT_EQ(rejection(misaligned), "invalid piece packet");
  std::string too_long = packet(wire::msg_piece, {3, 16384});
  too_long.append(16384, 'x');  // the last piece holds 20000 bytes
  EXPECT_EQ(rejection(too_long), "invalid piece packet");
  EXPECT_EQ(rejection(packet(wire::message_id(14))), "unknown message id: 14 size: 1");
}
