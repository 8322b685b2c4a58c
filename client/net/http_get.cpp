#include "client/net/http_get.h"

#include <curl/curl.h>

#include <mutex>

namespace client {

namespace {
void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}
}  // namespace

void HttpCancel::Abort() {
  m_aborted = true;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_multi) curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

// One transfer: an easy handle driven by a multi handle of its own, so that
// an abort can wake the wait for the network.
class HttpTransfer {
 public:
  HttpTransfer(HttpReceiver& receiver, HttpCancel& cancel) : m_receiver(receiver), m_cancel(cancel) {
    GlobalInit();
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
  }
  ~HttpTransfer() {
    {
      std::lock_guard<std::mutex> lock(m_cancel.m_mutex);
      m_cancel.m_multi = nullptr;
    }
    if (m_multi && m_easy) curl_multi_remove_handle(m_multi, m_easy);
    if (m_multi) curl_multi_cleanup(m_multi);
    if (m_easy) curl_easy_cleanup(m_easy);
  }
  HttpTransfer(const HttpTransfer&) = delete;
  HttpTransfer& operator=(const HttpTransfer&) = delete;

  HttpResult Run(const std::string& url, const HttpSettings& settings) {
    if (!m_easy || !m_multi) return {HttpOutcome::Failed, "out of memory"};
    Configure(url, settings);
    if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK) return {HttpOutcome::Failed, "out of memory"};
    {
      std::lock_guard<std::mutex> lock(m_cancel.m_mutex);
      m_cancel.m_multi = m_multi;
    }
    CURLcode code = CURLE_OK;
    for (int running = 1;;) {
      if (m_cancel.Aborted()) return {HttpOutcome::Aborted, {}};
      if (curl_multi_perform(m_multi, &running) != CURLM_OK) return {HttpOutcome::Failed, "transfer failed"};
      if (!running) break;
      m_receiver.OnIdle();
      curl_multi_poll(m_multi, nullptr, 0, 100, nullptr);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left))
      if (message->msg == CURLMSG_DONE) code = message->data.result;
    return Outcome(code);
  }

 private:
  void Configure(const std::string& url, const HttpSettings& settings) {
    curl_easy_setopt(m_easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(m_easy, CURLOPT_USERAGENT, kHttpAgent);
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, settings.connect_timeout_ms);
    curl_easy_setopt(m_easy, CURLOPT_TIMEOUT_MS, settings.total_timeout_ms);
    if (settings.low_speed_bytes > 0 && settings.low_speed_seconds > 0) {
      curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, settings.low_speed_bytes);
      curl_easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, settings.low_speed_seconds);
    }
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    if (!settings.ca_file.empty()) curl_easy_setopt(m_easy, CURLOPT_CAINFO, settings.ca_file.c_str());
    curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::Write);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &HttpTransfer::Progress);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
  }

  bool DeliverHead() {
    m_head_delivered = true;
    HttpHead head;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &head.status);
    curl_off_t length = -1;
    if (curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) head.content_length = length;
    curl_header* disposition = nullptr;
    if (curl_easy_header(m_easy, "Content-Disposition", 0, CURLH_HEADER, -1, &disposition) == CURLHE_OK)
      head.content_disposition = disposition->value;
    return m_receiver.OnHead(head);
  }

  static std::size_t Write(char* bytes, std::size_t size, std::size_t count, void* self) {
    auto& t = *static_cast<HttpTransfer*>(self);
    if (t.m_cancel.Aborted()) return 0;
    const bool go_on = (t.m_head_delivered || t.DeliverHead()) && t.m_receiver.OnData({bytes, size * count});
    if (go_on) return size * count;
    t.m_stopped = true;
    return 0;
  }

  static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<HttpTransfer*>(self)->m_cancel.Aborted() ? 1 : 0;
  }

  HttpResult Outcome(CURLcode code) {
    if (m_cancel.Aborted() || code == CURLE_ABORTED_BY_CALLBACK) return {HttpOutcome::Aborted, {}};
    if (m_stopped) return {HttpOutcome::Stopped, {}};
    switch (code) {
      case CURLE_OK:
        if (!m_head_delivered && !DeliverHead()) return {HttpOutcome::Stopped, {}};
        return {HttpOutcome::Done, {}};
      case CURLE_COULDNT_RESOLVE_PROXY:
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_CONNECT:
        return {HttpOutcome::NoConnection, {}};
      case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        curl_easy_getinfo(m_easy, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0) return {HttpOutcome::NoConnection, {}};
        return {HttpOutcome::TimedOut, ErrorText(code)};
      }
      default:
        break;
    }
    return {HttpOutcome::Failed, ErrorText(code)};
  }

  std::string ErrorText(CURLcode code) const {
    return m_error[0] ? std::string(m_error) : std::string(curl_easy_strerror(code));
  }

  HttpReceiver& m_receiver;
  HttpCancel& m_cancel;
  CURL* m_easy = nullptr;
  CURLM* m_multi = nullptr;
  bool m_head_delivered = false;
  bool m_stopped = false;
  char m_error[CURL_ERROR_SIZE] = {};
};

HttpResult HttpGet(const std::string& url, const HttpSettings& settings, HttpReceiver& receiver,
                   HttpCancel& cancel) {
  return HttpTransfer(receiver, cancel).Run(url, settings);
}

}  // namespace client
