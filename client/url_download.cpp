#include "client/url_download.h"

#include "client/common/tick.h"
#include "client/wide_text.h"
#include "platform/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace client {

namespace {

constexpr std::string_view kTorrentSuffix = ".torrent";
constexpr std::size_t kReadBlock = 1024;

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

}  // namespace

std::string TorrentFileNameFor(std::string_view url, std::string_view content_disposition) {
  std::string_view name;
  const auto given = DispositionFileName(content_disposition);
  if (given && given->find_first_of(std::string_view(":\\<>?/\0", 7)) == std::string_view::npos)
    name = *given;
  else
    name = AfterLast(AfterLast(UrlObjectFileName(url), '='), '?');
  std::string out(name);
  if (!out.ends_with(kTorrentSuffix)) out += kTorrentSuffix;
  return out;
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

}  // namespace client
