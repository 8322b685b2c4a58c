// Hostile tracker replies: the HTTP reply reader fed in pieces, the gzip
// reader, the bencoded reply and the UDP replies in every phase. Nothing may
// crash, and every peer handed on must be a dotted quad with a usable port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/formats/entry.h"
#include "engine/net/address.h"
#include "engine/tracker/gzip.h"
#include "engine/tracker/http_reply_reader.h"
#include "engine/tracker/tracker_reply.h"
#include "engine/tracker/udp_tracker_protocol.h"

namespace {

void check_peers(const std::vector<engine::tracker_peer>& peers) {
  for (const auto& p : peers)
    if (p.port == 0 || !engine::address::parse_dotted(p.ip)) std::abort();
}

void http(const std::string& input) {
  // The first byte decides the piece size, so splits are explored too.
  const std::size_t piece = input.empty() ? 1 : std::size_t(std::uint8_t(input[0]) % 64 + 1);
  engine::http_reply_reader reader(64 * 1024);
  engine::http_reply_reader::result r;
  for (std::size_t i = 0; i < input.size() && r.kind == r.pending; i += piece)
    r = reader.feed(input.data() + i, int(std::min(piece, input.size() - i)));
  if (r.kind == r.pending) r = reader.feed(nullptr, 0);
  if (r.kind != r.complete) return;
  std::string body = reader.body();
  if (reader.gzipped() && !engine::gunzip(body, 64 * 1024).empty()) return;
  for (int kind : {engine::tracker_query::announce_request, engine::tracker_query::scrape_request}) {
    engine::tracker_query q;
    q.kind = kind;
    try {
      const engine::tracker_reply reply = engine::parse_tracker_reply(engine::bdecode(body), q, 200);
      check_peers(reply.peers);
    } catch (const engine::invalid_encoding&) {
    }
  }
}

void udp(const std::string& input) {
  engine::http_settings settings;
  for (int kind : {engine::tracker_query::announce_request, engine::tracker_query::scrape_request}) {
    engine::tracker_query q;
    q.kind = kind;
    engine::udp_tracker_protocol p(q, false, settings, [] { return 0x01020304u; });
    const auto now = engine::udp_tracker_protocol::clock::now();
    p.start(now);
    // Once as it comes, once with our transaction id put in, and the same
    // after a connect reply.
    std::string ours = input;
    if (ours.size() >= 8) ours.replace(4, 4, "\x01\x02\x03\x04");
    for (const std::string* d : {&input, static_cast<const std::string*>(&ours)}) check_peers(p.receive(d->data(), int(d->size()), now).peers);
    const std::string connect("\x00\x00\x00\x00\x01\x02\x03\x04\x00\x00\x00\x00\x00\x00\x00\x01", 16);
    p.receive(connect.data(), int(connect.size()), now);
    for (const std::string* d : {&input, static_cast<const std::string*>(&ours)}) check_peers(p.receive(d->data(), int(d->size()), now).peers);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  http(input);
  udp(input);
  std::string gz = input;
  engine::gunzip(gz, 4096);
  return 0;
}
