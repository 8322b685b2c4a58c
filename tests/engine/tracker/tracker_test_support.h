#pragma once
// A request_callback that records what its trackers told it.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/tracker/request_callback.h"
#include "engine/tracker/tracker_dispatcher.h"
#include "tests/support/wait.h"

namespace tracker_test {

struct recorded_response {
  engine::tracker_query query;
  std::vector<engine::tracker_peer> peers;
  int interval = 0;
  int complete = 0;
  int incomplete = 0;
};

struct recorded_error {
  engine::tracker_query query;
  int status = 0;
  std::string message;
};

class recording_callback : public engine::request_callback {
 public:
  void tracker_warning(const std::string& message) override { warnings.push_back(message); }
  void tracker_response(const engine::tracker_query& q, std::vector<engine::tracker_peer> peers, int interval,
                        int complete, int incomplete) override {
    responses.push_back({q, std::move(peers), interval, complete, incomplete});
  }
  void tracker_request_timed_out(const engine::tracker_query& q) override { timeouts.push_back(q); }
  void tracker_request_error(const engine::tracker_query& q, int status, const std::string& message) override {
    errors.push_back({q, status, message});
  }

  // Calls made in all.
  std::size_t calls() const { return responses.size() + timeouts.size() + errors.size(); }

  std::vector<std::string> warnings;
  std::vector<recorded_response> responses;
  std::vector<engine::tracker_query> timeouts;
  std::vector<recorded_error> errors;
};

// Scrapes the tracker at `url` once: complete and incomplete counts, or
// -1, -1 when it does not answer.
inline std::pair<int, int> scrape(const std::string& url, const engine::sha1_hash& ih) {
  engine::http_settings settings;
  engine::tracker_dispatcher d(settings);
  auto cb = std::make_shared<recording_callback>();
  engine::tracker_query q;
  q.kind = engine::tracker_query::scrape_request;
  q.info_hash = ih;
  q.url = url;
  d.start_tracker_request(q, cb);
  test_support::wait_until(
      [&] {
        d.tick();
        return d.empty();
      },
      test_support::default_deadline, std::chrono::milliseconds(2));
  if (cb->responses.empty()) return {-1, -1};
  return {cb->responses[0].complete, cb->responses[0].incomplete};
}

}  // namespace tracker_test
