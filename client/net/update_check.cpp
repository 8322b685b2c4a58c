#include "client/net/update_check.h"

#include "client/common/CVersionsInfo.h"
#include "client/base/number_scan.h"
#include "client/base/wide_text.h"
#include "platform/profile.h"

namespace client {

namespace {

class ReplyReceiver : public HttpReceiver {
 public:
  bool OnHead(const HttpHead& head) override {
    m_ok = head.status >= 200 && head.status <= 299;
    return m_ok;
  }
  bool OnData(std::string_view bytes) override {
    m_reply.append(bytes.substr(0, kUpdateReplyLimit - m_reply.size()));
    return m_reply.size() < kUpdateReplyLimit;
  }
  bool Ok() const { return m_ok; }
  const std::string& Reply() const { return m_reply; }

 private:
  bool m_ok = false;
  std::string m_reply;
};

}  // namespace

UpdateCheckRequest UpdateCheckRequestFor(const platform::profile& profile) {
  UpdateCheckRequest request;
  request.url = profile.GetProfileString("Configuration", kUpdateUrlValue, kDefaultUpdateUrl);
  request.own_build = CVersionsInfo().GetRevision();
  return request;
}

std::optional<std::wstring> UpdateCheckLine(std::string_view reply, int own_build) {
  reply = reply.substr(0, kUpdateReplyLimit);
  reply = reply.substr(0, reply.find('\0'));
  const auto first_end = reply.find('\n');
  const std::string_view first = reply.substr(0, first_end);
  std::string_view second;
  if (first_end != std::string_view::npos) {
    second = reply.substr(first_end + 1);
    second = second.substr(0, second.find('\n'));
    if (second.ends_with('\r')) second.remove_suffix(1);
  }
  std::uint32_t version[4];
  if (!NumberScan(first).DottedQuad(version)) return std::nullopt;
  if (static_cast<std::uint32_t>(own_build) >= version[3]) return L"Quillfern is up to date!";
  return L"Quillfern Version " + std::to_wstring(version[0]) + L"." + std::to_wstring(version[1]) + L"." +
         std::to_wstring(version[2]) + L" Build " + std::to_wstring(version[3]) + L" is available. (" +
         Utf8ToWide(second) + L")";
}

void CheckForUpdate(const UpdateCheckRequest& request, const std::function<void(const std::wstring&)>& log_line,
                    HttpCancel& cancel) {
  ReplyReceiver receiver;
  const HttpResult result = HttpGet(request.url, request.http, receiver, cancel);
  const bool whole = result.outcome == HttpOutcome::Done ||
                     (result.outcome == HttpOutcome::Stopped && receiver.Ok());
  if (!whole || !receiver.Ok()) return;
  if (const auto line = UpdateCheckLine(receiver.Reply(), request.own_build); line && log_line) log_line(*line);
}

void StartUpdateCheck(NetWorkers& workers, UpdateCheckRequest request,
                      std::function<void(const std::wstring&)> log_line) {
  workers.Start([request = std::move(request), log_line = std::move(log_line)](HttpCancel& cancel) {
    CheckForUpdate(request, log_line, cancel);
  });
}

}  // namespace client
