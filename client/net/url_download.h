#pragma once
// Downloading a .torrent from a URL dropped on the main window: the job
// runs on a worker (client/net/net_workers.h), saves the reply into the
// temporary folder and reports by log lines; at the end it hands the saved
// file on to be added (and deleted after it was copied).
//
// Log lines, in order:
//   "Connecting to server ..."
//   "Downloading ... N bytes" or "Downloading ... N/SIZE bytes", at most
//   every 250 ms while data arrives
//   "Download finished, K KBytes"
// or one of the failures
//   URL + " download failed (no server connection)"
//   URL + " download failed (http code C)"
//   URL + " download failed (too slow)": connected, but the server sent
//   too little for too long (a stall in the head or the body, a trickle)
//   or the whole transfer took too long
//   "Download failed. " + the transfer's error text
//
// At most kMaxRunningDownloads run at once (DownloadQueue); further links
// wait in their order and start as running ones end.

#include "client/net/http_get.h"
#include "client/net/net_workers.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace client {

// The body is copied in blocks of 1024 bytes, and the transfer ends with
// the block that takes it beyond this many bytes; what arrived is handed on
// as it is.
inline constexpr std::uint64_t kMaxTorrentDownload = 5242880;
// A progress line at most this often.
inline constexpr std::uint32_t kDownloadProgressMs = 250;

// A download ends as too slow when less than 512 bytes a second arrive for
// 30 seconds in a row, or when it takes more than 5 minutes in all.
inline constexpr long kDownloadLowSpeedBytes = 512;
inline constexpr long kDownloadLowSpeedSeconds = 30;
inline constexpr long kDownloadTimeLimitMs = 300000;
// Downloads running at once.
inline constexpr std::size_t kMaxRunningDownloads = 4;

// Connect time-out 20 s and the bounds above.
HttpSettings DownloadHttpSettings();

struct DownloadRequest {
  std::string url;                     // UTF-8
  std::filesystem::path temp_folder;   // where the file is saved
  HttpSettings http = DownloadHttpSettings();
};

// What the job reports, called on the worker thread.
struct DownloadPosts {
  std::function<void(const std::wstring&)> log_line;
  // The saved file, to be added as a torrent and deleted afterwards.
  std::function<void(const std::filesystem::path&)> open_torrent_file;
};

// The saved file's name. A Content-Disposition "filename=" is used unless
// it holds one of :\<>?/ or a NUL; otherwise the URL's object name counts, cut
// after its last '=' and then after its last '?'. The name is then made safe
// to keep: its %-escapes are decoded (again while any are left), only the
// part after the last '/' or '\\' stays, leading dots and blanks go, and it
// is cut to fit a file name. When nothing is left, the URL's name is tried
// the same way, then "download". ".torrent" is appended unless the name
// ends in it (case counts). So the name is never a path, never hidden, and
// the adding decodes nothing more out of it.
std::string TorrentFileNameFor(std::string_view url, std::string_view content_disposition);

// "Downloading ... N bytes" (size < 0: unknown) or "Downloading ... N/SIZE bytes".
std::wstring DownloadProgressLine(std::uint64_t bytes, std::int64_t size);

// The job: runs on a worker thread and returns when the transfer is over.
// An aborted job reports nothing more.
void DownloadTorrentThreadProc(const DownloadRequest& request, const DownloadPosts& posts, HttpCancel& cancel);

// Starts the job on a worker of `workers` with copies of the request and
// the callbacks. False, and nothing started, for an empty URL.
bool StartTorrentDownload(NetWorkers& workers, DownloadRequest request, DownloadPosts posts);

// Downloads in the order given, at most `max_running` at once: a worker
// that finishes its download takes the next waiting one. An aborted worker
// (its owner closing) takes no more; what still waits is never started.
class DownloadQueue {
 public:
  explicit DownloadQueue(std::size_t max_running = kMaxRunningDownloads);

  // Starts the download on a new worker of `workers` while fewer than the
  // maximum run, else lets it wait. False, and nothing queued, for an
  // empty URL.
  bool Start(NetWorkers& workers, DownloadRequest request, DownloadPosts posts);
  std::size_t Running() const;
  std::size_t Waiting() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> m_shared;
};

}  // namespace client
