#pragma once
// One HTTP GET on the calling (worker) thread, for the URL download and the
// update check: http and https only (redirects too), redirects followed,
// the agent "Quillfern", a connect time-out, optional bounds on a slow or
// long transfer, and an abort that another thread can trigger at any
// moment and that ends the transfer at once.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace client {

inline constexpr const char* kHttpAgent = "Quillfern";

// Shared between the worker running a transfer and the thread that may
// abort it.
class HttpCancel {
 public:
  // Thread-safe; wakes a transfer that is waiting for the network.
  void Abort();
  bool Aborted() const { return m_aborted.load(); }

 private:
  friend class HttpTransfer;
  std::atomic<bool> m_aborted{false};
  std::mutex m_mutex;
  void* m_multi = nullptr;  // the running transfer's multi handle
};

struct HttpSettings {
  long connect_timeout_ms = 20000;
  long total_timeout_ms = 0;  // 0: none
  // The certificates trusted for https (a PEM file); empty: the system's.
  std::string ca_file;
  // Once connected, the transfer ends as TimedOut when fewer than
  // `low_speed_bytes` bytes per second arrive (head or body) for
  // `low_speed_seconds` in a row; 0: no such bound.
  long low_speed_bytes = 0;
  long low_speed_seconds = 0;
};

// The final response's head, after any redirects.
struct HttpHead {
  long status = 0;
  std::int64_t content_length = -1;  // -1: unknown
  std::string content_disposition;   // empty when absent
};

class HttpReceiver {
 public:
  virtual ~HttpReceiver() = default;
  // Once, before the first body bytes (or at the end for a reply without a
  // body). False stops the transfer.
  virtual bool OnHead(const HttpHead& head) = 0;
  // The body in arrival order. False stops the transfer.
  virtual bool OnData(std::string_view bytes) = 0;
  // Called at least every 100 ms while the transfer runs.
  virtual void OnIdle() {}
};

enum class HttpOutcome {
  Done,          // the whole reply arrived
  Stopped,       // the receiver stopped it
  NoConnection,  // no connection to the server could be made
  TimedOut,      // connected, but too slow or beyond the total time-out
  Failed,        // anything else; see `error`
  Aborted,       // HttpCancel::Abort
};

struct HttpResult {
  HttpOutcome outcome = HttpOutcome::Failed;
  std::string error;  // the transfer library's text, for Failed
};

HttpResult HttpGet(const std::string& url, const HttpSettings& settings, HttpReceiver& receiver,
                   HttpCancel& cancel);

}  // namespace client
