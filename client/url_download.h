#pragma once
// Downloading a .torrent from a URL dropped on the main window: the job
// runs on a worker (client/net_workers.h), saves the reply into the
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
//   "Download failed. " + the transfer's error text

#include "client/http_get.h"
#include "client/net_workers.h"

#include <cstdint>
#include <filesystem>
#include <functional>
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

struct DownloadRequest {
  std::string url;                     // UTF-8
  std::filesystem::path temp_folder;   // where the file is saved
  HttpSettings http;                   // connect time-out 20 s
};

// What the job reports, called on the worker thread.
struct DownloadPosts {
  std::function<void(const std::wstring&)> log_line;
  // The saved file, to be added as a torrent and deleted afterwards.
  std::function<void(const std::filesystem::path&)> open_torrent_file;
};

// The saved file's name. A Content-Disposition "filename=" is used unless
// it holds one of :\<>?/ or a NUL; otherwise the URL's object name counts, cut
// after its last '=' and then after its last '?'. ".torrent" is appended
// unless the name ends in it (case counts).
std::string TorrentFileNameFor(std::string_view url, std::string_view content_disposition);

// "Downloading ... N bytes" (size < 0: unknown) or "Downloading ... N/SIZE bytes".
std::wstring DownloadProgressLine(std::uint64_t bytes, std::int64_t size);

// The job: runs on a worker thread and returns when the transfer is over.
// An aborted job reports nothing more.
void DownloadTorrentThreadProc(const DownloadRequest& request, const DownloadPosts& posts, HttpCancel& cancel);

// Starts the job on a worker of `workers` with copies of the request and
// the callbacks. False, and nothing started, for an empty URL.
bool StartTorrentDownload(NetWorkers& workers, DownloadRequest request, DownloadPosts posts);

}  // namespace client
