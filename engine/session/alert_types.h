#pragma once
// The kinds of alert. Posters set the message; the application tells the
// kinds apart by their dynamic type.

#include <string>

#include "engine/formats/sha1_hash.h"
#include "engine/net/address.h"
#include "engine/session/alert.h"
#include "engine/session/torrent_handle.h"
#include "engine/wire/peer_request.h"

namespace engine {

// An alert about one torrent that carries nothing but its handle.
template <class Derived, alert::severity_t Severity>
struct torrent_alert : alert_of<Derived> {
  static constexpr alert::severity_t level = Severity;
  torrent_alert(const torrent_handle& h, std::string msg) : alert_of<Derived>(Severity, std::move(msg)), handle(h) {}
  torrent_handle handle;
};

struct peer_error_alert : alert_of<peer_error_alert> {
  static constexpr severity_t level = debug;
  peer_error_alert(const engine::address& ip_, const peer_id& pid_, std::string msg)
      : alert_of(level, std::move(msg)), ip(ip_), pid(pid_) {}
  engine::address ip;
  peer_id pid;
};

struct invalid_request_alert : alert_of<invalid_request_alert> {
  static constexpr severity_t level = debug;
  invalid_request_alert(const peer_request& r, const torrent_handle& h, const engine::address& ip_, const peer_id& pid_,
                        std::string msg)
      : alert_of(level, std::move(msg)), handle(h), ip(ip_), request(r), pid(pid_) {}
  torrent_handle handle;
  engine::address ip;
  peer_request request;
  peer_id pid;
};

struct tracker_announce_alert : torrent_alert<tracker_announce_alert, alert::info> {
  using torrent_alert::torrent_alert;
};

struct tracker_reply_alert : torrent_alert<tracker_reply_alert, alert::info> {
  using torrent_alert::torrent_alert;
};

struct hash_failed_alert : alert_of<hash_failed_alert> {
  static constexpr severity_t level = info;
  hash_failed_alert(const torrent_handle& h, int index, std::string msg)
      : alert_of(level, std::move(msg)), handle(h), piece_index(index) {}
  torrent_handle handle;
  int piece_index;
};

struct peer_ban_alert : alert_of<peer_ban_alert> {
  static constexpr severity_t level = info;
  peer_ban_alert(const engine::address& ip_, const torrent_handle& h, std::string msg)
      : alert_of(level, std::move(msg)), ip(ip_), handle(h) {}
  engine::address ip;
  torrent_handle handle;
};

struct metadata_failed_alert : torrent_alert<metadata_failed_alert, alert::info> {
  using torrent_alert::torrent_alert;
};

struct metadata_received_alert : torrent_alert<metadata_received_alert, alert::info> {
  using torrent_alert::torrent_alert;
};

struct torrent_finished_alert : torrent_alert<torrent_finished_alert, alert::warning> {
  using torrent_alert::torrent_alert;
};

struct fastresume_rejected_alert : torrent_alert<fastresume_rejected_alert, alert::warning> {
  using torrent_alert::torrent_alert;
};

struct tracker_alert : alert_of<tracker_alert> {
  static constexpr severity_t level = warning;
  tracker_alert(const torrent_handle& h, int times, int status, std::string msg)
      : alert_of(level, std::move(msg)), handle(h), times_in_row(times), status_code(status) {}
  torrent_handle handle;
  int times_in_row;  // consecutive failures
  int status_code;   // 0 for a time-out
};

struct tracker_warning_alert : torrent_alert<tracker_warning_alert, alert::warning> {
  using torrent_alert::torrent_alert;
};

struct chat_message_alert : alert_of<chat_message_alert> {
  static constexpr severity_t level = critical;
  chat_message_alert(const torrent_handle& h, const engine::address& ip_, std::string msg)
      : alert_of(level, std::move(msg)), handle(h), ip(ip_) {}
  torrent_handle handle;
  engine::address ip;
};

struct file_error_alert : torrent_alert<file_error_alert, alert::fatal> {
  using torrent_alert::torrent_alert;
};

struct listen_failed_alert : alert_of<listen_failed_alert> {
  static constexpr severity_t level = fatal;
  explicit listen_failed_alert(std::string msg) : alert_of(level, std::move(msg)) {}
};

}  // namespace engine
