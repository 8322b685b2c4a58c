#include "client/net/url_download.h"

#include "client/common/tick.h"
#include "client/files/torrent_copy_name.h"
#include "client/base/wide_text.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <mutex>

namespace client {

namespace {

constexpr std::string_view kTorrentSuffix = ".torrent";
constexpr std::string_view kFallbackName = "download";
constexpr std::size_t kReadBlock = 1024;
// The longest file name the file systems take, in bytes.
constexpr std::size_t kMaxFileName = 255;

std::string_view AfterLast(std::string_view text, char c) {
  const auto at = text.rfind(c);
  return at == std::string_view::npos ? text : text.substr(at + 1);
}

// The name given by "filename=": a quoted name up to its closing quote, an
// unquoted one up to ';' or the end. None when absent.
std::optional<std::string_view> DispositionFileName(std::string_view disposition) {
  constexpr std::string_view key = "filename=";
  const auto at = disposition.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = disposition.substr(at + key.size());
  if (!rest.empty() && rest.front() == '"') {
    rest.remove_prefix(1);
    return rest.substr(0, rest.find('"'));
  }
  rest = rest.substr(0, rest.find(';'));
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  return rest;
}

// The last part of the URL's object (path and query, without the fragment).
std::string_view UrlObjectFileName(std::string_view url) {
  url = url.substr(0, url.find('#'));
  const auto scheme_end = url.find("://");
  const std::string_view after_scheme = scheme_end == std::string_view::npos ? url : url.substr(scheme_end + 3);
  const auto object_start = after_scheme.find_first_of("/?");
  if (object_start == std::string_view::npos) return {};
  return AfterLast(after_scheme.substr(object_start), '/');
}

class DownloadReceiver : public HttpReceiver {
 public:
  DownloadReceiver(const DownloadRequest& request, const DownloadPosts& posts) : m_request(request), m_posts(posts) {}

  bool OnHead(const HttpHead& head) override {
    if (head.status < 200 || head.status > 299) {
      m_bad_status = head.status;
      return false;
    }
    m_size = head.content_length;
    m_name = TorrentFileNameFor(m_request.url, head.content_disposition);
    m_last_report = TickMs();
    m_started = true;
    return true;
  }

  bool OnData(std::string_view bytes) override {
    // Copied in blocks of 1024 bytes counted from the start of the body,
    // however the network splits it; the checks run once per block.
    while (!bytes.empty()) {
      if (m_data.size() % kReadBlock == 0) ReportProgress();
      const std::size_t n = std::min(bytes.size(), kReadBlock - m_data.size() % kReadBlock);
      m_data.append(bytes.substr(0, n));
      bytes.remove_prefix(n);
      if (Complete()) return false;
    }
    return true;
  }

  void OnIdle() override {
    if (m_started) ReportProgress();
  }

  // The known size is reached, or a whole block took the body beyond the
  // limit.
  bool Complete() const {
    return (m_size >= 0 && m_data.size() >= std::uint64_t(m_size)) ||
           (m_data.size() > kMaxTorrentDownload && m_data.size() % kReadBlock == 0);
  }
  std::optional<long> BadStatus() const { return m_bad_status; }
  const std::string& Data() const { return m_data; }
  const std::string& Name() const { return m_name; }

 private:
  void ReportProgress() {
    const std::uint32_t now = TickMs();
    if (platform::elapsed_ms(now, m_last_report) <= kDownloadProgressMs) return;
    m_last_report = now;
    if (m_posts.log_line) m_posts.log_line(DownloadProgressLine(m_data.size(), m_size));
  }

  const DownloadRequest& m_request;
  const DownloadPosts& m_posts;
  std::optional<long> m_bad_status;
  bool m_started = false;
  std::int64_t m_size = -1;
  std::string m_name;
  std::string m_data;
  std::uint32_t m_last_report = 0;
};

// Writes a new file of its own, never one that is there already nor what a
// planted link points at; false (and no file) when that fails.
bool WriteNewFile(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) bytes.remove_prefix(std::size_t(n));
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) ::unlink(file.c_str());
  return ok;
}

// The download under its name in `folder`; when that name is taken (another
// download of the same name waits to be added), in a new folder of its own
// inside `folder`. None when it could not be written.
std::optional<std::filesystem::path> SaveDownload(const std::filesystem::path& folder, const std::string& name,
                                                  std::string_view bytes) {
  std::filesystem::path file = folder / name;
  if (WriteNewFile(file, bytes)) return file;
  if (errno != EEXIST) return std::nullopt;
  std::string own = (folder / "XXXXXX").string();
  if (!::mkdtemp(own.data())) return std::nullopt;
  file = std::filesystem::path(own) / name;
  if (WriteNewFile(file, bytes)) return file;
  ::rmdir(own.c_str());
  return std::nullopt;
}

// `name` made safe to keep as a file of its own (see TorrentFileNameFor),
// without its ".torrent"; empty when nothing is left of it.
std::string SafeStem(std::string_view name) {
  std::string decoded(name);
  for (std::string next = DecodePercentEscapes(decoded); next != decoded; next = DecodePercentEscapes(decoded))
    decoded = std::move(next);
  std::string_view stem = decoded;
  stem = stem.substr(0, stem.find('\0'));
  if (const auto at = stem.find_last_of("/\\"); at != std::string_view::npos) stem.remove_prefix(at + 1);
  if (stem.ends_with(kTorrentSuffix)) stem.remove_suffix(kTorrentSuffix.size());
  stem.remove_prefix(std::min(stem.find_first_not_of(". \t"), stem.size()));
  // Room for the suffix, cut at the start of a UTF-8 sequence.
  if (stem.size() > kMaxFileName - kTorrentSuffix.size()) {
    std::size_t cut = kMaxFileName - kTorrentSuffix.size();
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem = stem.substr(0, cut);
  }
  return std::string(stem);
}

}  // namespace

HttpSettings DownloadHttpSettings() {
  HttpSettings settings;
  settings.total_timeout_ms = kDownloadTimeLimitMs;
  settings.low_speed_bytes = kDownloadLowSpeedBytes;
  settings.low_speed_seconds = kDownloadLowSpeedSeconds;
  return settings;
}

std::string TorrentFileNameFor(std::string_view url, std::string_view content_disposition) {
  const auto given = DispositionFileName(content_disposition);
  std::string stem;
  if (given && given->find_first_of(std::string_view(":\\<>?/\0", 7)) == std::string_view::npos)
    stem = SafeStem(*given);
  if (stem.empty()) stem = SafeStem(AfterLast(AfterLast(UrlObjectFileName(url), '='), '?'));
  if (stem.empty()) stem = kFallbackName;
  return stem + std::string(kTorrentSuffix);
}

std::wstring DownloadProgressLine(std::uint64_t bytes, std::int64_t size) {
  std::wstring line = L"Downloading ... " + std::to_wstring(bytes);
  if (size >= 0) line += L"/" + std::to_wstring(size);
  return line + L" bytes";
}

void DownloadTorrentThreadProc(const DownloadRequest& request, const DownloadPosts& posts, HttpCancel& cancel) {
  const auto log = [&](const std::wstring& line) {
    if (posts.log_line) posts.log_line(line);
  };
  log(L"Connecting to server ...");
  DownloadReceiver receiver(request, posts);
  const HttpResult result = HttpGet(request.url, request.http, receiver, cancel);
  const std::wstring url = Utf8ToWide(request.url);
  switch (result.outcome) {
    case HttpOutcome::Aborted:
      return;  // the window is going away
    case HttpOutcome::NoConnection:
      log(url + L" download failed (no server connection)");
      return;
    case HttpOutcome::TimedOut:
      log(url + L" download failed (too slow)");
      return;
    case HttpOutcome::Failed:
      log(L"Download failed. " + Utf8ToWide(result.error));
      return;
    case HttpOutcome::Stopped:
      if (const auto status = receiver.BadStatus()) {
        log(url + L" download failed (http code " + std::to_wstring(static_cast<unsigned long>(*status)) + L")");
        return;
      }
      break;
    case HttpOutcome::Done:
      break;
  }
  const std::optional<std::filesystem::path> file = SaveDownload(request.temp_folder, receiver.Name(), receiver.Data());
  if (!file) {
    log(L"Download failed. Cannot write " + Utf8ToWide((request.temp_folder / receiver.Name()).string()));
    return;
  }
  log(L"Download finished, " + std::to_wstring(receiver.Data().size() / 1024) + L" KBytes");
  if (posts.open_torrent_file) posts.open_torrent_file(*file);
}

bool StartTorrentDownload(NetWorkers& workers, DownloadRequest request, DownloadPosts posts) {
  if (request.url.empty()) return false;
  workers.Start([request = std::move(request), posts = std::move(posts)](HttpCancel& cancel) {
    DownloadTorrentThreadProc(request, posts, cancel);
  });
  return true;
}

struct DownloadQueue::Shared {
  explicit Shared(std::size_t max) : max_running(max) {}

  // The next waiting download for a worker that is free; none (and the
  // worker no longer counted) when nothing waits.
  std::optional<std::pair<DownloadRequest, DownloadPosts>> Next() {
    std::lock_guard<std::mutex> lock(mutex);
    if (waiting.empty()) {
      --running;
      return std::nullopt;
    }
    auto next = std::move(waiting.front());
    waiting.pop_front();
    return next;
  }

  const std::size_t max_running;
  mutable std::mutex mutex;
  std::deque<std::pair<DownloadRequest, DownloadPosts>> waiting;
  std::size_t running = 0;
};

DownloadQueue::DownloadQueue(std::size_t max_running)
    : m_shared(std::make_shared<Shared>(std::max<std::size_t>(max_running, 1))) {}

bool DownloadQueue::Start(NetWorkers& workers, DownloadRequest request, DownloadPosts posts) {
  if (request.url.empty()) return false;
  {
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->waiting.emplace_back(std::move(request), std::move(posts));
    if (m_shared->running >= m_shared->max_running) return true;
    ++m_shared->running;
  }
  workers.Start([shared = m_shared](HttpCancel& cancel) {
    while (auto job = shared->Next()) {
      DownloadTorrentThreadProc(job->first, job->second, cancel);
      if (!cancel.Aborted()) continue;
      std::lock_guard<std::mutex> lock(shared->mutex);
      --shared->running;
      return;
    }
  });
  return true;
}

std::size_t DownloadQueue::Running() const {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  return m_shared->running;
}

std::size_t DownloadQueue::Waiting() const {
  std::lock_guard<std::mutex> lock(m_shared->mutex);
  return m_shared->waiting.size();
}

}  // namespace client
