#pragma once
// What the application sees of one peer connection of a torrent: a copy,
// taken under the session lock.

#include <cstdint>
#include <vector>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"

namespace engine {

struct peer_info {
  enum flag : std::uint32_t {
    interesting = 1,          // this side is interested in the peer
    choked = 2,               // this side chokes the peer
    remote_interested = 4,    // the peer is interested
    remote_choked = 8,        // the peer chokes this side
    supports_extensions = 16, // the peer speaks the extension protocol
    local_connection = 32,    // this side opened the connection
    connecting = 64,          // the connect is in progress
    queued = 128,             // waiting in the session's connection queue
  };

  std::uint32_t flags = 0;
  address ip;
  float up_speed = 0;
  float down_speed = 0;
  float payload_up_speed = 0;
  float payload_down_speed = 0;
  std::int64_t total_download = 0;  // payload
  std::int64_t total_upload = 0;    // payload
  peer_id pid;
  std::vector<bool> pieces;
  bool seed = false;
  std::int32_t upload_limit = -1;    // given upload quota, -1 unlimited
  std::int32_t upload_ceiling = -1;  // maximum upload quota, -1 unlimited
  std::int64_t load_balancing = 0;   // free-upload credit
  int download_queue_length = 0;     // our requests not yet answered
  int upload_queue_length = 0;       // the peer's requests not yet served
  // The block being received: -1, -1, 0, 0 when none.
  int downloading_piece_index = -1;
  int downloading_block_index = -1;
  int downloading_progress = 0;
  int downloading_total = 0;
};

}  // namespace engine
