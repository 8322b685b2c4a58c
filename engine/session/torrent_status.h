#pragma once
// What a torrent reports about itself to the application.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace engine {

enum torrent_state : std::int32_t {
  queued_for_checking = 0,
  checking_files = 1,
  connecting_to_tracker = 2,
  downloading_metadata = 3,
  downloading = 4,
  finished = 5,
  seeding = 6,
  allocating = 7,
};

struct torrent_status {
  std::int32_t state = queued_for_checking;
  bool paused = false;
  float progress = 0;
  std::chrono::microseconds next_announce{0};
  std::chrono::microseconds announce_interval{0};
  std::string current_tracker;
  std::int64_t total_download = 0;
  std::int64_t total_upload = 0;
  std::int64_t total_payload_download = 0;
  std::int64_t total_payload_upload = 0;
  std::int64_t total_failed_bytes = 0;
  float download_rate = 0;
  float upload_rate = 0;
  float download_payload_rate = 0;
  float upload_payload_rate = 0;
  std::int32_t num_peers = 0;
  std::int32_t num_complete = -1;
  std::int32_t num_incomplete = -1;
  // A copy of the have-pieces bits; empty without metadata.
  std::vector<bool> pieces;
  std::int64_t total_done = 0;
  std::int64_t total_wanted_done = 0;
  std::int64_t total_wanted = 0;
  std::int32_t num_seeds = 0;
  float distributed_copies = 0;
  std::int32_t block_size = 0;
};

}  // namespace engine
